// Turns SIGINT, SIGTERM and SIGHUP into a cancel request the engine polls, so an
// interrupted batch stops at the next page or strip and the engine removes
// its partial output, instead of the process dying mid-write.
#pragma once

#include <atomic>
#include <chrono>

namespace quorvex::cli {

class SignalCancel {
  public:
    // Installs the handlers (once per process) and returns the flag they set.
    static const std::atomic<bool>& install();

    // Ends the process `grace` after the first signal if it has not ended by
    // itself, so that no blocked write keeps it alive.
    static void startWatchdog(std::chrono::milliseconds grace);

    // The signal that set the flag, or 0 when none arrived.
    static int receivedSignal();

    // The exit status for the signal received: 130 for SIGINT, 143 for
    // SIGTERM, 129 for SIGHUP.
    static int exitStatusForSignal(int signalNumber);
};

}  // namespace quorvex::cli
