#include "tools/krvbench/JsonWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace krv::tool {

std::string jsonEscape(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                out += buf;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

void JsonWriter::beforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasItems_.empty()) {
        if (hasItems_.back())
            out_ += ",";
        hasItems_.back() = true;
        out_ += "\n" + std::string(hasItems_.size() * 2, ' ');
    }
}

void JsonWriter::open(char bracket)
{
    beforeValue();
    out_ += bracket;
    hasItems_.push_back(false);
}

void JsonWriter::close(char bracket)
{
    bool hadItems = hasItems_.back();
    hasItems_.pop_back();
    if (hadItems)
        out_ += "\n" + std::string(hasItems_.size() * 2, ' ');
    out_ += bracket;
}

JsonWriter& JsonWriter::beginObject()
{
    open('{');
    return *this;
}

JsonWriter& JsonWriter::endObject()
{
    close('}');
    return *this;
}

JsonWriter& JsonWriter::beginArray()
{
    open('[');
    return *this;
}

JsonWriter& JsonWriter::endArray()
{
    close(']');
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name)
{
    beforeValue();
    out_ += jsonEscape(name) + ": ";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text)
{
    beforeValue();
    out_ += jsonEscape(text);
    return *this;
}

JsonWriter& JsonWriter::value(int64_t number)
{
    beforeValue();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(uint64_t number)
{
    beforeValue();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(double number)
{
    if (!std::isfinite(number))
        return null();  // JSON has no infinities
    beforeValue();
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, number);
    out_.append(buf, ec == std::errc() ? end : buf);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag)
{
    beforeValue();
    out_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null()
{
    beforeValue();
    out_ += "null";
    return *this;
}

std::string JsonWriter::text() const { return hasItems_.empty() ? out_ + "\n" : out_; }

}  // namespace krv::tool
