#pragma once
// The system's one trace facility. Every layer writes its progress and error
// lines through these printers; the lines go to the platform's debug output
// and nowhere else. By convention a format starts with "%s:%d: " followed by
// the "Class::Method" name and __LINE__, and error lines end with
// "dwErrorCode %d" and krv::lastError().
#include <atomic>
#include <cstdint>

// 0 prints nothing, 1 errors, 2 also warnings, 3 and 4 everything.
extern std::atomic<int> g_nDebugLevel;

// Longest line handed to the debug output, prefix included; the caller's
// text is cut to fit.
constexpr int DEBUG_LINE_MAX = 4095;

void vDEBUG_SetLevel(int nLevel);

// Prepares the printers. Called once by the utility object's initialisation
// before any thread exists.
void vDEBUG_Initial_printf();

void vDEBUG_ERR_printf(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
void vDEBUG_WRN_printf(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
void vDEBUG_MSG_printf(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
