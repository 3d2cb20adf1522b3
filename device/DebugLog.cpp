#include "device/DebugLog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/LastError.h"
#include "platform/Platform.h"

std::atomic<int> g_nDebugLevel{0};

namespace {

// A leaf lock: nothing is called under it that could take another lock of
// the system except the debug output itself, so a printer may be called
// while any other lock is held. It also guards the shared line buffer, which
// keeps a printer free of heap allocation.
std::mutex m_PrintCriticalSection;
char s_szLine[DEBUG_LINE_MAX + 1];

constexpr size_t kPrefixLength = 7;  // "\r\nERR::"

void vPrintLine(int nThreshold, const char* pszPrefix, const char* pszFormat, va_list args)
    __attribute__((format(printf, 3, 0)));

void vPrintLine(int nThreshold, const char* pszPrefix, const char* pszFormat, va_list args)
{
    if (g_nDebugLevel.load(std::memory_order_relaxed) < nThreshold)
        return;
    // The callers log the last error after their failing call; a printer must
    // never change it for the code that runs next.
    const uint32_t dwSavedError = krv::lastError();
    {
        std::lock_guard<std::mutex> guard(m_PrintCriticalSection);
        std::memcpy(s_szLine, pszPrefix, kPrefixLength);
        int n = std::vsnprintf(s_szLine + kPrefixLength, sizeof s_szLine - kPrefixLength, pszFormat, args);
        size_t nLength = kPrefixLength;
        if (n > 0)
            nLength += std::min(static_cast<size_t>(n), sizeof s_szLine - kPrefixLength - 1);
        if (krv::Platform* pPlatform = krv::Platform::currentOrNull())
            pPlatform->debugOutput().write(std::string_view(s_szLine, nLength));
    }
    krv::setLastError(dwSavedError);
}

}  // namespace

void vDEBUG_SetLevel(int nLevel) { g_nDebugLevel.store(nLevel, std::memory_order_relaxed); }

void vDEBUG_Initial_printf()
{
    // The lock is a std::mutex, valid from program start, so unlike a
    // critical section it cannot fail to be made; what is left is to start
    // from a clean line buffer.
    std::lock_guard<std::mutex> guard(m_PrintCriticalSection);
    std::memset(s_szLine, 0, sizeof s_szLine);
}

void vDEBUG_ERR_printf(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    vPrintLine(1, "\r\nERR::", pszFormat, args);
    va_end(args);
}

void vDEBUG_WRN_printf(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    vPrintLine(2, "\r\nWRN::", pszFormat, args);
    va_end(args);
}

void vDEBUG_MSG_printf(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    vPrintLine(3, "\r\nMSG::", pszFormat, args);
    va_end(args);
}
