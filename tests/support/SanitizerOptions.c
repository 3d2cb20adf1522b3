/* Sanitizer settings every test binary carries, so they hold however the
 * test is started (ctest, by hand, under a debugger). */
const char* __asan_default_options(void);
const char* __ubsan_default_options(void);

const char* __asan_default_options(void) { return "detect_leaks=1:halt_on_error=1:strict_string_checks=1"; }

const char* __ubsan_default_options(void) { return "halt_on_error=1:print_stacktrace=1"; }
