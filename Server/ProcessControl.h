#pragma once
// Process-level controls of the entry point: the SIGINT stop path and the failed-start wait.

#include "Engine/Threading.h"

// The stop procedure run once by the first SIGINT; the second interrupt finds it cleared.
using tQuitProc = void (*)();

// Installs the SIGINT handler (no flags) and points the stop procedure at raising `stopFlag`.
// The handler only exchanges an atomic pointer and stores to a lock-free atomic, so it is
// async-signal-safe; the flag is read by normal code at its next poll.
void InstallInterruptHandler(Corvane3D::Signalable* stopFlag);
// Restores the default action and forgets the flag (at shutdown, before the flag is freed).
void RemoveInterruptHandler();

// "Press any key to continue ..." after a failed start. Reads at most one byte from a terminal;
// input that is not a terminal, or is closed, counts as the key so services and tests never hang.
void WaitForKeyPress();
