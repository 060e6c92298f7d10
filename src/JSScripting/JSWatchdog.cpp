#include "JSInternal.h"

#include <pthread.h>

namespace Corvane3D {

namespace {

// How often the engine is asked again while an expired script has not yet reached a check.
constexpr std::chrono::milliseconds kRepeat(50);

} // namespace

CJSWatchdog::CJSWatchdog(JSContext* cx) : m_pContext(cx), m_Thread([this] { Main(); })
{
}

CJSWatchdog::~CJSWatchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bStop = true;
    }
    m_Wake.notify_all();
    m_Thread.join();
}

void CJSWatchdog::Begin(uint32_t limitMs)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (limitMs == 0)
            return;
        m_bRunning = true;
        m_Deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    }
    m_Wake.notify_all();
}

void CJSWatchdog::End()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bRunning = false;
}

bool CJSWatchdog::HasExpired()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_bRunning && Clock::now() >= m_Deadline;
}

void CJSWatchdog::Main()
{
    pthread_setname_np(pthread_self(), "JSWatchdog");
    std::unique_lock<std::mutex> lock(m_Mutex);
    while (!m_bStop) {
        if (!m_bRunning) {
            m_Wake.wait(lock);
            continue;
        }
        if (Clock::now() < m_Deadline) {
            m_Wake.wait_until(lock, m_Deadline);
            continue;
        }
        // Safe from any thread; the engine runs the interrupt handler at its next check.
        JS_RequestInterruptCallback(m_pContext);
        m_Wake.wait_for(lock, kRepeat);
    }
}

} // namespace Corvane3D
