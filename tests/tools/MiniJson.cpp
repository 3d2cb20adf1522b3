#include "tests/tools/MiniJson.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace krv::test {

namespace {

const Json kNull;

class Reader {
public:
    explicit Reader(const std::string& text) : s_(text) {}

    Json document()
    {
        Json v = value();
        skipSpace();
        if (pos_ != s_.size())
            fail("text after the document");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& why)
    {
        throw std::runtime_error("bad JSON at offset " + std::to_string(pos_) + ": " + why);
    }

    void skipSpace()
    {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_])))
            ++pos_;
    }

    bool literal(const char* word)
    {
        std::string w(word);
        if (s_.compare(pos_, w.size(), w) != 0)
            return false;
        pos_ += w.size();
        return true;
    }

    char peek()
    {
        skipSpace();
        if (pos_ >= s_.size())
            fail("unexpected end");
        return s_[pos_];
    }

    void expect(char c)
    {
        if (peek() != c)
            fail(std::string("expected '") + c + "'");
        ++pos_;
    }

    Json value()
    {
        Json v;
        char c = peek();
        if (c == '{') {
            v.type = Json::Type::Object;
            ++pos_;
            if (peek() == '}') {
                ++pos_;
                return v;
            }
            for (;;) {
                if (peek() != '"')
                    fail("expected a member name");
                std::string key = string();
                expect(':');
                if (!v.members.emplace(key, value()).second)
                    fail("duplicate member " + key);
                if (peek() == ',') {
                    ++pos_;
                    continue;
                }
                expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.type = Json::Type::Array;
            ++pos_;
            if (peek() == ']') {
                ++pos_;
                return v;
            }
            for (;;) {
                v.items.push_back(value());
                if (peek() == ',') {
                    ++pos_;
                    continue;
                }
                expect(']');
                return v;
            }
        }
        if (c == '"') {
            v.type = Json::Type::String;
            v.string = string();
            return v;
        }
        if (literal("true")) {
            v.type = Json::Type::Bool;
            v.boolean = true;
            return v;
        }
        if (literal("false")) {
            v.type = Json::Type::Bool;
            return v;
        }
        if (literal("null"))
            return v;
        const char* begin = s_.c_str() + pos_;
        char* end = nullptr;
        v.number = std::strtod(begin, &end);
        if (end == begin || (*begin != '-' && !std::isdigit(static_cast<unsigned char>(*begin))))
            fail("expected a value");
        v.type = Json::Type::Number;
        pos_ += static_cast<size_t>(end - begin);
        return v;
    }

    std::string string()
    {
        ++pos_;  // the opening quote
        std::string out;
        while (pos_ < s_.size() && s_[pos_] != '"') {
            char c = s_[pos_++];
            if (static_cast<unsigned char>(c) < 0x20)
                fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                fail("unfinished escape");
            char e = s_[pos_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                if (pos_ + 4 > s_.size())
                    fail("short \\u escape");
                unsigned code = static_cast<unsigned>(std::stoul(s_.substr(pos_, 4), nullptr, 16));
                pos_ += 4;
                if (code >= 0x80)
                    fail("only ASCII \\u escapes are expected here");
                out += static_cast<char>(code);
                break;
            }
            default: fail("bad escape");
            }
        }
        if (pos_ >= s_.size())
            fail("unterminated string");
        ++pos_;
        return out;
    }

    const std::string& s_;
    size_t pos_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const
{
    auto it = members.find(key);
    return it == members.end() ? kNull : it->second;
}

const Json& Json::operator[](size_t index) const { return index < items.size() ? items[index] : kNull; }

Json parseJson(const std::string& text) { return Reader(text).document(); }

}  // namespace krv::test
