#include "ConsoleInput.h"

#include "Engine/OS.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

using namespace Corvane3D;

struct CConsoleInput::tLink {
    std::mutex m_mutex;
    // Null once the owner closed the link.
    InputQueue* m_pQueue;
    int m_fd;
    std::atomic<bool> m_bClosed{false};
    std::atomic<bool> m_bRunning{false};

    tLink(InputQueue* queue, int fd) : m_pQueue(queue), m_fd(fd) {}

    bool IsClosed() const { return m_bClosed.load(std::memory_order_acquire); }

    void Post(std::string line)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_pQueue)
            m_pQueue->Post(std::move(line));
    }

    // Sleeps in short steps so that a close is seen promptly; false once closed.
    bool Sleep(uint32_t milliseconds)
    {
        for (uint32_t slept = 0; slept < milliseconds && !IsClosed(); slept += 50)
            OS::SleepMilliseconds(50);
        return !IsClosed();
    }
};

namespace {

using tLink = CConsoleInput::tLink;

// Reads whole lines: a line longer than the buffer is dropped whole, never run in pieces.
int ReadLines(const std::shared_ptr<tLink>& link)
{
    std::string line;
    bool discarding = false;
    char buffer[CConsoleInput::LineBufferSize];
    while (!link->IsClosed()) {
        // Waiting in poll rather than in read lets the thread see a close within a second even
        // while nobody types.
        pollfd watched{link->m_fd, POLLIN, 0};
        const int ready = poll(&watched, 1, 1000);
        if (ready == 0 || (ready < 0 && errno == EINTR) || link->IsClosed())
            continue;
        const ssize_t got = ready > 0 ? read(link->m_fd, buffer, sizeof buffer) : -1;
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            // End of input (or a read error): a last line without a line feed still counts; then
            // keep polling every second, as input may come back (a terminal).
            if (!line.empty() && !discarding)
                link->Post(std::move(line));
            line.clear();
            discarding = false;
            link->Sleep(1000);
            continue;
        }
        bool posted = false;
        for (ssize_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (discarding) {
                discarding = c != '\n';
                continue;
            }
            line.push_back(c);
            if (c == '\n') {
                link->Post(std::move(line));
                line.clear();
                posted = true;
            } else if (line.size() >= CConsoleInput::LineBufferSize - 1) {
                line.clear();
                discarding = true;
            }
        }
        if (posted)
            link->Sleep(100);
    }
    return 0;
}

class CInputThread : public Thread {
public:
    explicit CInputThread(std::shared_ptr<tLink> link) : Thread("InputThread"), m_pLink(std::move(link)) {}

protected:
    int Main() override { return Run(m_pLink); }
    // The body holds only the link: this object is destroyed (and the thread detached) while
    // the thread may still be waiting for input.
    std::function<int()> PrepareBody() override
    {
        return [link = m_pLink] { return Run(link); };
    }

private:
    static int Run(const std::shared_ptr<tLink>& link)
    {
        link->m_bRunning.store(true, std::memory_order_release);
        const int result = ReadLines(link);
        link->m_bRunning.store(false, std::memory_order_release);
        return result;
    }

    std::shared_ptr<tLink> m_pLink;
};

} // namespace

CConsoleInput::CConsoleInput(InputQueue& queue, int fd) : m_pLink(std::make_shared<tLink>(&queue, fd)) {}

CConsoleInput::~CConsoleInput()
{
    Close();
}

bool CConsoleInput::Start()
{
    if (m_pThread)
        return false;
    auto thread = std::make_unique<CInputThread>(m_pLink);
    if (!thread->Start())
        return false;
    m_pThread = std::move(thread);
    return true;
}

void CConsoleInput::Close()
{
    {
        std::lock_guard<std::mutex> guard(m_pLink->m_mutex);
        m_pLink->m_pQueue = nullptr;
    }
    m_pLink->m_bClosed.store(true, std::memory_order_release);
    // Destroying a running Thread detaches it.
    m_pThread.reset();
}

bool CConsoleInput::IsRunning() const
{
    return m_pLink->m_bRunning.load(std::memory_order_acquire);
}

std::function<bool()> CConsoleInput::RunningProbe() const
{
    return [link = m_pLink] { return link->m_bRunning.load(std::memory_order_acquire); };
}
