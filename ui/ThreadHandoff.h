#pragma once
// A queued call onto another thread passes through Qt's event queue. Where
// Qt is not built for ThreadSanitizer, the sanitizer cannot see the lock
// inside that queue, so everything the sender wrote before posting (the
// call's captures, the state they point to) looks unordered with the
// receiver's reads. The sender releases a token before it posts and the
// receiver acquires the same token before it runs the call: the order the
// queue really gives, told to the sanitizer. In any other build both are
// nothing.
#if defined(__SANITIZE_THREAD__)
#define KRV_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KRV_THREAD_SANITIZER 1
#endif
#endif

#ifdef KRV_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace krv::ui {

inline void handoffRelease(const void* token)
{
#ifdef KRV_THREAD_SANITIZER
    __tsan_release(const_cast<void*>(token));
#else
    (void)token;
#endif
}

inline void handoffAcquire(const void* token)
{
#ifdef KRV_THREAD_SANITIZER
    __tsan_acquire(const_cast<void*>(token));
#else
    (void)token;
#endif
}

}  // namespace krv::ui
