#pragma once
// A small JSON writer: objects, arrays, strings, numbers, booleans and null,
// indented two spaces per level. The caller keeps the nesting right.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace krv::tool {

class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);

    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
    JsonWriter& value(int64_t number);
    JsonWriter& value(uint64_t number);
    JsonWriter& value(int number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(double number);
    JsonWriter& value(bool flag);
    JsonWriter& null();

    // The text so far, with a final newline once everything is closed.
    std::string text() const;

private:
    void beforeValue();
    void open(char bracket);
    void close(char bracket);

    std::string out_;
    std::vector<bool> hasItems_;  // per open container
    bool afterKey_ = false;
};

std::string jsonEscape(std::string_view text);

}  // namespace krv::tool
