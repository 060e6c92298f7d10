#pragma once
// The console input thread ("InputThread"): reads lines from standard input and posts them to the
// server's input queue, which the frame loop drains on the main thread.

#include "Engine/Threading.h"

#include <functional>
#include <memory>
#include <string>

class CConsoleInput {
public:
    // Longest line read, line feed included; longer lines are dropped whole.
    static constexpr size_t LineBufferSize = 4096;

    using InputQueue = Corvane3D::CPumpedEventLoop<std::string>;

    // `fd` is read instead of standard input (tests).
    explicit CConsoleInput(InputQueue& queue, int fd = 0);
    // Closes and detaches: the thread is never waited for.
    ~CConsoleInput();
    CConsoleInput(const CConsoleInput&) = delete;
    CConsoleInput& operator=(const CConsoleInput&) = delete;

    bool Start();
    // From here on the thread touches nothing the server owns; it ends within about a second.
    void Close();
    bool IsRunning() const;
    // Tells whether the thread still runs, also after this object is gone.
    std::function<bool()> RunningProbe() const;

    // What the thread shares with its owner; the thread holds it for its whole life, so the
    // owner may go first.
    struct tLink;

private:
    std::shared_ptr<tLink> m_pLink;
    std::unique_ptr<Corvane3D::Thread> m_pThread;
};
