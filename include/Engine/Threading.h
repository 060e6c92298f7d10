#pragma once
// Locks, polled flags, named threads and the producer-to-main-thread queue.

#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Corvane3D {

// A recursive lock: the owning thread may take it again without blocking.
class CLockable {
public:
    CLockable() = default;
    CLockable(const CLockable&) = delete;
    CLockable& operator=(const CLockable&) = delete;

    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    bool TryLock() { return m_mutex.try_lock(); }

    // Lets std::lock_guard and std::unique_lock hold a CLockable.
    void lock() { Lock(); }
    void unlock() { Unlock(); }
    bool try_lock() { return TryLock(); }

private:
    std::recursive_mutex m_mutex;
};

using CLockGuard = std::lock_guard<CLockable>;

// A flag that one thread raises and others poll. Manual-reset unless SetAutoReset(true).
class Signalable {
public:
    Signalable();
    ~Signalable();
    Signalable(const Signalable&) = delete;
    Signalable& operator=(const Signalable&) = delete;

    // Raises the flag and releases any thread that waits.
    void Signal();

    // Safe inside a POSIX signal handler: only stores to a lock-free atomic. The raise becomes
    // visible to Poll and IsSignalled, and takes effect on the next Poll.
    void SignalFromHandler() noexcept { m_pendingFromHandler.store(true, std::memory_order_relaxed); }

    // Reads the flag, clearing it when the auto-reset mark is set.
    bool Poll();
    // Reads the flag without clearing it.
    bool IsSignalled();
    void Reset();

    void SetAutoReset(bool autoReset);

private:
    void TakePendingLocked();

    static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only touch lock-free atomics");

    std::recursive_mutex m_mutex;
    bool m_signalled = false;
    bool m_autoReset = false;
    std::atomic<bool> m_pendingFromHandler{false};

    // Waiter hand-off; the server only polls, so this stays idle there.
    std::recursive_mutex m_waiterMutex;
    sem_t m_release;
    sem_t m_acknowledge;
    unsigned m_waiting = 0;
    unsigned m_released = 0;
};

// A named joinable thread with a virtual body.
class Thread {
public:
    explicit Thread(std::string name);
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the thread; false when it already runs or cannot be created.
    bool Start();
    // Waits for the body to end and clears the running mark. False when not running.
    bool Join();

    bool IsRunning() const { return m_running; }
    // True while the body runs.
    bool HasStarted() { return m_started->IsSignalled(); }
    const std::string& GetName() const { return m_name; }

protected:
    virtual int Main() = 0;
    // What the new thread runs. Called on the new thread before Start returns, so the body
    // it gives back may outlive this object when a running thread is detached.
    virtual std::function<int()> PrepareBody();

private:
    static void* ThreadMain(void* startRecord);

    std::string m_name;
    pthread_t m_handle{};
    // Shared with the running body, so that a thread detached by destruction can still
    // clear its flag when it ends without touching the freed object.
    std::shared_ptr<Signalable> m_started = std::make_shared<Signalable>();
    bool m_running = false;
};

// A thread whose body is a callback.
class CThreadCB : public Thread {
public:
    using Callback = std::function<int(CThreadCB&, void*)>;
    CThreadCB(std::string name, Callback callback, void* userData = nullptr)
        : Thread(std::move(name)), m_callback(std::make_shared<Callback>(std::move(callback))), m_userData(userData)
    {
    }
    ~CThreadCB() override;

protected:
    int Main() override;
    std::function<int()> PrepareBody() override;

private:
    // Shared so the callable outlives this object when a running thread is detached.
    std::shared_ptr<Callback> m_callback;
    void* m_userData;
};

// Hands items from producer threads to the main thread, in posting order.
template <typename Item>
class CPumpedEventLoop {
public:
    void Post(Item item)
    {
        {
            std::lock_guard<CLockable> guard(m_lock);
            m_pending.push_back(std::move(item));
        }
        m_ready.Signal();
    }

    // Runs on the consumer: moves the pending items out under the lock and handles them
    // outside it, so a handler may post again without deadlock.
    template <typename Handler>
    size_t Pump(Handler&& handler)
    {
        if (!m_ready.IsSignalled())
            return 0;
        std::vector<Item> working;
        {
            std::lock_guard<CLockable> guard(m_lock);
            working.swap(m_pending);
            m_ready.Reset();
        }
        for (Item& item : working)
            handler(item);
        return working.size();
    }

    void Clear()
    {
        std::lock_guard<CLockable> guard(m_lock);
        m_pending.clear();
        m_ready.Reset();
    }

    bool HasItems() { return m_ready.IsSignalled(); }

private:
    CLockable m_lock;
    Signalable m_ready;
    std::vector<Item> m_pending;
};

} // namespace Corvane3D
