#include "Engine/Threading.h"

#include <cerrno>

namespace Corvane3D {

Signalable::Signalable()
{
    sem_init(&m_release, 0, 0);
    sem_init(&m_acknowledge, 0, 0);
}

Signalable::~Signalable()
{
    sem_destroy(&m_release);
    sem_destroy(&m_acknowledge);
}

void Signalable::Signal()
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    m_signalled = true;

    m_waiterMutex.lock();
    if (m_waiting > m_released) {
        const unsigned newlyReleased = m_waiting - m_released;
        m_released = m_waiting;
        for (unsigned i = 0; i < newlyReleased; ++i)
            sem_post(&m_release);
        m_waiterMutex.unlock();
        for (unsigned i = 0; i < newlyReleased; ++i) {
            while (sem_wait(&m_acknowledge) != 0 && errno == EINTR) {
            }
        }
    } else {
        m_waiterMutex.unlock();
    }
}

void Signalable::TakePendingLocked()
{
    if (m_pendingFromHandler.exchange(false, std::memory_order_relaxed))
        m_signalled = true;
}

bool Signalable::Poll()
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    TakePendingLocked();
    const bool value = m_signalled;
    if (m_autoReset)
        m_signalled = false;
    return value;
}

bool Signalable::IsSignalled()
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    return m_signalled || m_pendingFromHandler.load(std::memory_order_relaxed);
}

void Signalable::Reset()
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    m_pendingFromHandler.store(false, std::memory_order_relaxed);
    m_signalled = false;
}

void Signalable::SetAutoReset(bool autoReset)
{
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    m_autoReset = autoReset;
}

Thread::Thread(std::string name) : m_name(std::move(name)) {}

Thread::~Thread()
{
    // A running thread is detached, never joined: destruction must not block.
    if (m_running)
        pthread_detach(m_handle);
}

namespace {

struct StartRecord {
    Thread* thread;
    std::shared_ptr<Signalable> started;
    std::function<int()> (*prepare)(Thread*);
    std::string name;
    sem_t ready;
};

} // namespace

std::function<int()> Thread::PrepareBody()
{
    return [this] { return Main(); };
}

bool Thread::Start()
{
    if (m_running)
        return false;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
    // The kernel limits thread names to 15 characters.
    StartRecord record{this, m_started, [](Thread* t) { return t->PrepareBody(); }, m_name.substr(0, 15), {}};
    sem_init(&record.ready, 0, 0);
    const int created = pthread_create(&m_handle, &attributes, &Thread::ThreadMain, &record);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        sem_destroy(&record.ready);
        return false;
    }
    // Wait until the new thread holds everything it needs, so that destroying this object
    // right after Start can never pull state from under the starting thread.
    while (sem_wait(&record.ready) != 0 && errno == EINTR) {
    }
    sem_destroy(&record.ready);
    m_running = true;
    return true;
}

bool Thread::Join()
{
    if (!m_running)
        return false;
    pthread_join(m_handle, nullptr);
    m_running = false;
    return true;
}

void* Thread::ThreadMain(void* startRecord)
{
    auto* record = static_cast<StartRecord*>(startRecord);
    // Named from inside, so the body always runs under its name.
    pthread_setname_np(pthread_self(), record->name.c_str());
    const std::shared_ptr<Signalable> started = record->started;
    const std::function<int()> body = record->prepare(record->thread);
    // Named here, before the body runs, so that the body and anyone who saw Start return see the
    // name. The kernel limits thread names to 15 characters.
    pthread_setname_np(pthread_self(), record->thread->GetName().substr(0, 15).c_str());
    started->Signal();
    sem_post(&record->ready); // the record lives on Start's stack: not touched after this
    const int result = body();
    started->Reset();
    return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}

CThreadCB::~CThreadCB() = default;

int CThreadCB::Main()
{
    return PrepareBody()();
}

std::function<int()> CThreadCB::PrepareBody()
{
    return [callback = m_callback, self = this, userData = m_userData] {
        return *callback ? (*callback)(*self, userData) : 0;
    };
}

} // namespace Corvane3D
