#include "platform/ConsolePrograms.h"

#include <cctype>

#include "platform/LastError.h"

namespace krv {

ConsoleResult NoConsolePrograms::run(const ConsoleCommand&, const StopSource*)
{
    setLastError(winerr::kFileNotFound);
    return {};
}

std::string consoleProgramKey(const std::string& program)
{
    std::string name = program;
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.size() > 4 && (name.compare(name.size() - 4, 4, ".exe") == 0 || name.compare(name.size() - 4, 4, ".com") == 0))
        name.resize(name.size() - 4);
    return name;
}

}  // namespace krv
