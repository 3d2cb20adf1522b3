#include "platform/Paths.h"

namespace krv {

std::string toNativeSeparators(std::string_view path)
{
    std::string out(path);
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    std::string head = toNativeSeparators(folder);
    std::string tail = toNativeSeparators(name);
    if (head.empty())
        return tail;
    // Keep a lone "/" (the root) but drop the separators a folder ends with.
    while (head.size() > 1 && head.back() == '/')
        head.pop_back();
    size_t skip = 0;
    while (skip < tail.size() && tail[skip] == '/')
        ++skip;
    tail.erase(0, skip);
    if (tail.empty())
        return head;
    if (head.back() != '/')
        head += '/';
    return head + tail;
}

std::string parentFolder(std::string_view path)
{
    std::string p = toNativeSeparators(path);
    auto slash = p.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    if (slash == 0)
        return "/";
    return p.substr(0, slash);
}

std::string fileNameOf(std::string_view path)
{
    std::string p = toNativeSeparators(path);
    auto slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

}  // namespace krv
