#include "platform/host/StderrDebugOutput.h"

#include <unistd.h>

namespace krv {

void StderrDebugOutput::write(std::string_view text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace krv
