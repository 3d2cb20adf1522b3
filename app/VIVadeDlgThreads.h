#pragma once
// The main window's threads as owned objects (in place of the framework's
// self-deleting worker threads): each has a stop request and a join, and
// nothing ends a thread from outside. Whether a thread still runs can be
// asked at any time, also long after it ended, without touching anything
// that is gone.
//
// A thread's body receives its stop request. It polls it between steps and
// passes it to every wait. It is also the thread's current stop request
// (krv::StopSource::current()) for the whole body, which every synchronous
// call onto the GUI thread takes (controls, commands, message boxes,
// pickers), so that a stop request also frees a thread that waits for the
// GUI thread.
//
// The dialog keeps every thread it starts in one CThreadSet; the exit path
// closes the set, asks all of them to stop and joins them with a bound.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/StopSource.h"

// How long (real time) a thread that is asked to stop is waited for.
constexpr uint32_t THREAD_STOP_JOIN_MS = 10'000;

class CWorkerThread {
public:
    using Body = std::function<void(const krv::StopSource& stop)>;

    // Starts `body` on a new thread at once.
    CWorkerThread(std::string strName, Body body);
    // Asks the thread to stop and joins it within THREAD_STOP_JOIN_MS; one
    // that does not end by then is left to run on its own (and logged).
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    void vRequestStop();
    bool bStopRequested() const;
    // True until the body has returned.
    bool bIsRunning() const;
    // Waits up to dwRealMs of real time for the body to return, then joins.
    // True when the thread is joined (also when it was before). Never waits
    // for itself: on its own thread the answer is false at once.
    bool bJoin(uint32_t dwRealMs);
    bool bIsCurrentThread() const;
    const std::string& strName() const;

    // The stop request of the worker the calling thread runs; null on any
    // other thread (the GUI thread, a platform thread).
    static const krv::StopSource* pCurrentStop();

private:
    struct State;
    std::shared_ptr<State> m_pState;
    std::thread m_thread;
    std::mutex m_joinMutex;  // one joiner at a time
};

class CThreadSet {
public:
    CThreadSet() = default;
    ~CThreadSet();
    CThreadSet(const CThreadSet&) = delete;
    CThreadSet& operator=(const CThreadSet&) = delete;

    // Starts a thread and keeps it. Null once the set is closed.
    std::shared_ptr<CWorkerThread> pStart(std::string strName, CWorkerThread::Body body);
    // Lets go of the kept threads that have ended (pStart does it too), so
    // that their objects go on the calling thread.
    void vForgetEnded();
    // No thread starts any more (the exit path).
    void vClose();
    bool bIsClosed() const;
    void vRequestStopAll();
    // Joins every kept thread but the caller's own, all within dwRealMs of
    // real time, and forgets the joined ones. True when none is left. A
    // caller that joins in slices logs the late ones itself.
    bool bJoinAll(uint32_t dwRealMs, bool bLogLate = true);
    // The names of the kept threads that still run.
    std::vector<std::string> vecRunningNames() const;

private:
    void vForgetEndedLocked();  // m_mutex held

    mutable std::mutex m_mutex;
    bool m_bClosed = false;                                   // guarded by m_mutex
    std::vector<std::shared_ptr<CWorkerThread>> m_vecThreads;  // guarded by m_mutex
};
