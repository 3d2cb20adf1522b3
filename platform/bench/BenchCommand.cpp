#include "platform/bench/BenchCommand.h"

#include <charconv>

namespace krv::bench {

namespace {

std::string_view trim(std::string_view s)
{
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::string formatCommand(const BenchCommand& command)
{
    std::string text = "command = " + command.verb + "\n";
    if (command.port != 0)
        text += "port = " + std::to_string(command.port) + "\n";
    for (const auto& [key, value] : command.fields)
        text += key + " = " + value + "\n";
    return text;
}

bool parseCommand(std::string_view text, BenchCommand& command, std::string& error)
{
    BenchCommand result;
    int lineNo = 0;
    while (!text.empty()) {
        auto nl = text.find('\n');
        std::string_view line = trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        if (line.empty())
            continue;
        auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            error = "line " + std::to_string(lineNo) + ": expected 'key = value'";
            return false;
        }
        std::string key(trim(line.substr(0, eq)));
        std::string_view value = trim(line.substr(eq + 1));
        if (key == "command") {
            result.verb = value;
        } else if (key == "port") {
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), result.port);
            if (ec != std::errc() || end != value.data() + value.size() || result.port < 1) {
                error = "line " + std::to_string(lineNo) + ": bad port '" + std::string(value) + "'";
                return false;
            }
        } else {
            result.fields[key] = value;
        }
    }
    if (result.verb.empty()) {
        error = "no 'command' line";
        return false;
    }
    command = std::move(result);
    return true;
}

}  // namespace krv::bench
