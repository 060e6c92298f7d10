#include "ProcessControl.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<Corvane3D::Signalable*> g_stopFlag{nullptr};

void RaiseStop()
{
    if (Corvane3D::Signalable* flag = g_stopFlag.load())
        flag->SignalFromHandler();
}

std::atomic<tQuitProc> QuitProc{nullptr};
static_assert(std::atomic<tQuitProc>::is_always_lock_free, "the SIGINT handler may only touch lock-free atomics");

extern "C" void sigint_handler(int)
{
    // Runs the stop procedure once and clears it: a second Ctrl-C does nothing.
    if (tQuitProc proc = QuitProc.exchange(nullptr))
        proc();
}

} // namespace

void InstallInterruptHandler(Corvane3D::Signalable* stopFlag)
{
    g_stopFlag.store(stopFlag);
    struct sigaction action {};
    action.sa_handler = sigint_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    QuitProc.store(&RaiseStop);
}

void RemoveInterruptHandler()
{
    QuitProc.store(nullptr);
    signal(SIGINT, SIG_DFL);
    g_stopFlag.store(nullptr);
}

void WaitForKeyPress()
{
    std::fputs("Press any key to continue ...", stdout);
    std::fflush(stdout);
    if (isatty(STDIN_FILENO)) {
        termios saved{};
        if (tcgetattr(STDIN_FILENO, &saved) != 0)
            std::perror("tcsetattr()");
        termios raw = saved;
        raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
        if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0)
            std::perror("tcsetattr ICANON");
        char key;
        if (read(STDIN_FILENO, &key, 1) < 0)
            std::perror("read()");
        if (tcsetattr(STDIN_FILENO, TCSANOW, &saved) != 0)
            std::perror("tcsetattr ~ICANON");
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
}
