#include "app/VIVadeDlgThreads.h"

#include <chrono>

#include "device/DebugLog.h"

struct CWorkerThread::State {
    std::string strName;
    krv::StopSource stop;
    std::mutex mutex;
    std::condition_variable cvEnded;
    bool bEnded = false;  // guarded by mutex
    std::atomic<bool> bRunning{true};
    std::atomic<std::thread::id> id{};
};

CWorkerThread::CWorkerThread(std::string strName, Body body) : m_pState(std::make_shared<State>())
{
    m_pState->strName = std::move(strName);
    // The thread keeps the state alive itself, so a thread left running
    // after its object has gone still has what it touches.
    m_thread = std::thread([state = m_pState, body = std::move(body)]() mutable {
        state->id.store(std::this_thread::get_id());
        {
            const krv::StopSource::CurrentScope current(&state->stop);
            // The body and what it holds go while the id still says this
            // thread: a thread object it held last is then let go as its own.
            Body ownBody = std::move(body);
            try {
                ownBody(state->stop);
            } catch (...) {
                vDEBUG_ERR_printf("%s:%d: thread [%s] ended by an exception", "CWorkerThread", __LINE__,
                                  state->strName.c_str());
            }
        }
        // The system hands this thread's id to a thread started after it has
        // been joined; an id kept past the body would make that thread take
        // this object for its own (no join, a detach of a joined thread).
        state->id.store(std::thread::id());
        std::lock_guard<std::mutex> lock(state->mutex);
        state->bEnded = true;
        state->bRunning.store(false);
        state->cvEnded.notify_all();
    });
}

CWorkerThread::~CWorkerThread()
{
    vRequestStop();
    if (bIsCurrentThread()) {
        // The last owner let go from the thread itself, which is ending.
        if (m_thread.joinable())
            m_thread.detach();
        return;
    }
    if (!bJoin(THREAD_STOP_JOIN_MS) && m_thread.joinable()) {
        vDEBUG_ERR_printf("%s:%d: thread [%s] did not stop; left to end on its own", "CWorkerThread", __LINE__,
                          m_pState->strName.c_str());
        m_thread.detach();
    }
}

void CWorkerThread::vRequestStop() { m_pState->stop.requestStop(); }

bool CWorkerThread::bStopRequested() const { return m_pState->stop.stopRequested(); }

bool CWorkerThread::bIsRunning() const { return m_pState->bRunning.load(); }

bool CWorkerThread::bIsCurrentThread() const { return m_pState->id.load() == std::this_thread::get_id(); }

const std::string& CWorkerThread::strName() const { return m_pState->strName; }

bool CWorkerThread::bJoin(uint32_t dwRealMs)
{
    if (bIsCurrentThread())
        return false;
    std::lock_guard<std::mutex> joinGuard(m_joinMutex);
    if (!m_thread.joinable())
        return true;
    {
        std::unique_lock<std::mutex> lock(m_pState->mutex);
        if (!m_pState->cvEnded.wait_for(lock, std::chrono::milliseconds(dwRealMs), [&] { return m_pState->bEnded; }))
            return false;
    }
    m_thread.join();
    return true;
}

const krv::StopSource* CWorkerThread::pCurrentStop() { return krv::StopSource::current(); }

CThreadSet::~CThreadSet()
{
    vClose();
    vRequestStopAll();
    bJoinAll(THREAD_STOP_JOIN_MS);
}

std::shared_ptr<CWorkerThread> CThreadSet::pStart(std::string strName, CWorkerThread::Body body)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bClosed)
        return nullptr;
    // Forget the threads that are over, so the set does not grow with every scan.
    vForgetEndedLocked();
    auto thread = std::make_shared<CWorkerThread>(std::move(strName), std::move(body));
    m_vecThreads.push_back(thread);
    return thread;
}

void CThreadSet::vForgetEnded()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    vForgetEndedLocked();
}

void CThreadSet::vForgetEndedLocked()
{
    std::erase_if(m_vecThreads, [](const std::shared_ptr<CWorkerThread>& t) { return !t->bIsRunning() && t->bJoin(0); });
}

void CThreadSet::vClose()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bClosed = true;
}

bool CThreadSet::bIsClosed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bClosed;
}

void CThreadSet::vRequestStopAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& thread : m_vecThreads)
        thread->vRequestStop();
}

bool CThreadSet::bJoinAll(uint32_t dwRealMs, bool bLogLate)
{
    // Joined outside the lock: a thread that ends may still start another
    // (the set then refuses it once closed) or ask what runs.
    std::vector<std::shared_ptr<CWorkerThread>> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads = m_vecThreads;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwRealMs);
    bool bAllJoined = true;
    for (const auto& thread : threads) {
        if (thread->bIsCurrentThread()) {
            bAllJoined = false;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!thread->bJoin(static_cast<uint32_t>(std::max<int64_t>(0, left.count())))) {
            if (bLogLate)
                vDEBUG_ERR_printf("%s:%d: thread [%s] did not stop in time", "CThreadSet::bJoinAll", __LINE__,
                                  thread->strName().c_str());
            bAllJoined = false;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    vForgetEndedLocked();
    return bAllJoined && m_vecThreads.empty();
}

std::vector<std::string> CThreadSet::vecRunningNames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> names;
    for (const auto& thread : m_vecThreads)
        if (thread->bIsRunning())
            names.push_back(thread->strName());
    return names;
}
