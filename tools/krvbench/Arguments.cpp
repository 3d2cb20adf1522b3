#include "tools/krvbench/Arguments.h"

#include <charconv>

namespace krv::tool {

bool Arguments::isOption() const
{
    const std::string& word = args_[next_];
    return word.size() > 2 && word.compare(0, 2, "--") == 0;
}

std::string Arguments::take()
{
    std::string word = args_[next_++];
    inlineValue_.reset();
    if (word.size() > 2 && word.compare(0, 2, "--") == 0) {
        auto eq = word.find('=');
        if (eq != std::string::npos) {
            inlineValue_ = word.substr(eq + 1);
            word.erase(eq);
        }
    }
    return word;
}

std::optional<std::string> Arguments::value()
{
    if (inlineValue_) {
        auto v = std::move(inlineValue_);
        inlineValue_.reset();
        return v;
    }
    if (done())
        return std::nullopt;
    return args_[next_++];
}

std::optional<int> takeWordsAndWait(const Args& args, const std::string& verb, std::vector<std::string>& positional,
                                    bool& wait, std::ostream& err)
{
    Arguments words(args);
    wait = true;
    while (!words.done()) {
        if (!words.isOption()) {
            positional.push_back(words.take());
            continue;
        }
        std::string name = words.take();
        if (name != "--no-wait")
            return usageError(err, verb + ": unknown option '" + name + "'");
        wait = false;
    }
    return std::nullopt;
}

bool parsePortNumber(const std::string& text, int& port)
{
    int n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || n < 1)
        return false;
    port = n;
    return true;
}

bool splitPortValue(const std::string& text, int& port, std::string& value)
{
    auto eq = text.find('=');
    if (eq == std::string::npos) {
        port = 0;
        value = text;
        return true;
    }
    value = text.substr(eq + 1);
    return parsePortNumber(text.substr(0, eq), port);
}

}  // namespace krv::tool
