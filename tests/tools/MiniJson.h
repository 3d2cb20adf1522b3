#pragma once
// Just enough of a JSON reader to check what the tools print: a document
// that does not parse fails the test that reads it.
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace krv::test {

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    bool isNull() const { return type == Type::Null; }
    // Missing members and items read as null.
    const Json& operator[](const std::string& key) const;
    const Json& operator[](size_t index) const;
};

// Throws std::runtime_error with the offset on malformed text.
Json parseJson(const std::string& text);

}  // namespace krv::test
