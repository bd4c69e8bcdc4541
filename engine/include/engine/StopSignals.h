// Stop requests from outside the programs, and the last resort behind them.
// SIGINT, SIGTERM and SIGHUP set a flag that conversions poll, so a run
// stops at its next strip or piece and removes what it was writing. Should
// the process still run a grace period later (stuck in a call that polls
// nothing: a write to a stalled terminal, a hung network file system), the
// last resort removes every temporary file and folder conversions still
// have and ends the process. The operating system's part lives with the
// engine's other system calls (engine/platform), one file per system.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace quorvex {

class StopSignals {
  public:
    // Installs the handlers (once per process) and returns the flag they
    // set. A reader that goes away no longer ends the process (SIGPIPE is
    // ignored): the write fails and says so instead.
    static const std::atomic<bool>& install();

    // The first stop signal received, or 0 while none arrived.
    static int received();

    // 128 + the signal's number: 130 for SIGINT, 143 for SIGTERM, 129 for
    // SIGHUP.
    static int exitStatusFor(int signalNumber);

    // A descriptor that becomes readable at the first stop signal, for an
    // event loop to watch (the window closes the normal way then).
    static int notifier();
    // Takes what the signals wrote to the notifier, so that it is quiet again.
    static void drainNotifier();

    // Starts a thread that, `grace` after the first stop signal, writes
    // `farewell` to standard error (erasing a progress line, say) and then
    // does what endNow() does, with exitStatusFor() the signal.
    static void startLastResort(std::chrono::milliseconds grace, const std::string& farewell = {});

    // Removes every temporary file and folder that conversions (and spools)
    // still have, and ends the process at once with `status`: no destructors
    // run, threads still busy are ended with it. Async-signal-safe.
    [[noreturn]] static void endNow(int status) noexcept;
};

// A private folder for a file that must be complete before it goes on (the
// command line's PDF bound for standard output). The folder and its file are
// removed with this object, and by the last resort should the process end
// first.
class SpoolFolder {
  public:
    SpoolFolder();  // in $TMPDIR or /tmp; throws std::runtime_error saying why not
    ~SpoolFolder();
    SpoolFolder(const SpoolFolder&) = delete;
    SpoolFolder& operator=(const SpoolFolder&) = delete;

    const std::string& folder() const { return folder_; }
    // The one file the folder holds: its name is listed for the last resort.
    const std::string& file() const { return file_; }

  private:
    struct Listing;
    std::string folder_;
    std::string file_;
    std::unique_ptr<Listing> listing_;
};

}  // namespace quorvex
