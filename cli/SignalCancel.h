// Turns SIGINT, SIGTERM and SIGHUP into a cancel request the engine polls, so an
// interrupted batch stops at the next strip or piece of compression and the
// engine removes its partial output, instead of the process dying mid-write.
// The system's part is the engine's StopSignals (engine/platform).
#pragma once

#include <atomic>
#include <chrono>

namespace quorvex::cli {

class SignalCancel {
  public:
    // Installs the handlers (once per process) and returns the flag they set.
    static const std::atomic<bool>& install();

    // Ends the process `grace` after the first signal if it has not ended by
    // itself, so that no blocked write keeps it alive: every temporary file
    // still there is removed first and, on a terminal, the progress line
    // erased.
    static void startWatchdog(std::chrono::milliseconds grace, bool stderrIsTerminal);

    // The signal that set the flag, or 0 when none arrived.
    static int receivedSignal();

    // The exit status for the signal received: 130 for SIGINT, 143 for
    // SIGTERM, 129 for SIGHUP.
    static int exitStatusForSignal(int signalNumber);
};

}  // namespace quorvex::cli
