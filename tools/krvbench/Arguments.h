#pragma once
// Walks a command's words: options as "--name value" or "--name=value",
// everything else positional.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/krvbench/Commands.h"

namespace krv::tool {

class Arguments {
public:
    explicit Arguments(const Args& args) : args_(args) {}

    bool done() const { return next_ >= args_.size(); }
    // True when the current word is an option ("--name" or "--name=value").
    bool isOption() const;
    // The current word; of "--name=value" only "--name", the value being
    // kept for value().
    std::string take();
    // The value of the option just taken; empty optional when missing.
    std::optional<std::string> value();

private:
    const Args& args_;
    size_t next_ = 0;
    std::optional<std::string> inlineValue_;
};

// Splits "P=VALUE" into the port and the value; a plain VALUE has port 0.
// False when P is not a port number.
bool splitPortValue(const std::string& text, int& port, std::string& value);
bool parsePortNumber(const std::string& text, int& port);

// The words of a command whose one option is "--no-wait": the positional
// words and whether to wait. Any other option is a usage error, written to
// err under the command's verb; its exit code is returned then.
std::optional<int> takeWordsAndWait(const Args& args, const std::string& verb, std::vector<std::string>& positional,
                                    bool& wait, std::ostream& err);

}  // namespace krv::tool
