/* Sanitizer settings every test binary carries, so they hold however the
 * test is started (ctest, by hand, under a debugger). */
const char* __asan_default_options(void);
const char* __ubsan_default_options(void);

const char* __asan_default_options(void) { return "detect_leaks=1:halt_on_error=1:strict_string_checks=1"; }

const char* __ubsan_default_options(void) { return "halt_on_error=1:print_stacktrace=1"; }

#if defined(__SANITIZE_THREAD__)
#define KRV_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KRV_THREAD_SANITIZER 1
#endif
#endif

#ifdef KRV_THREAD_SANITIZER
/* A test run by hand reports as under test.sh; TSAN_OPTIONS, which test.sh
 * sets for the programs the tests start too, overrides this. */
const char* __tsan_default_options(void);
const char* __tsan_default_options(void)
{
    return "halt_on_error=1:second_deadlock_stack=1:suppressions=" KRV_TSAN_SUPPRESSIONS;
}
#endif
