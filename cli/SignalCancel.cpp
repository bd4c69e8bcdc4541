#include "cli/SignalCancel.h"

#include <semaphore.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "cli/ExitCodes.h"

namespace quorvex::cli {
namespace {

// A signal handler may only touch lock-free atomics.
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<bool> gCancelRequested{false};
std::atomic<int> gSignalNumber{0};
// Posted by the handler (sem_post is async-signal-safe) to wake the watchdog.
sem_t gSignalArrived;

extern "C" void onCancelSignal(int signalNumber) {
    int none = 0;
    gSignalNumber.compare_exchange_strong(none, signalNumber);
    gCancelRequested.store(true);
    sem_post(&gSignalArrived);
}

void installHandler(int signalNumber) {
    struct sigaction action {};
    action.sa_handler = onCancelSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted reads and writes: the engine does not expect EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

const std::atomic<bool>& SignalCancel::install() {
    static const bool installed = [] {
        sem_init(&gSignalArrived, 0, 0);
        installHandler(SIGINT);
        installHandler(SIGTERM);
        installHandler(SIGHUP);  // the terminal went away: stop as for Ctrl-C
        // A reader that stops early (quorvex-tiff2pdf ... | head) must not
        // kill the process mid-file and leave a temporary file behind; the
        // write fails instead, and the run ends once the files being
        // converted are done.
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)installed;
    return gCancelRequested;
}

void SignalCancel::startWatchdog(std::chrono::milliseconds grace) {
    std::thread([grace] {
        while (sem_wait(&gSignalArrived) != 0) {
        }
        std::this_thread::sleep_for(grace);
        // Still running: something blocks that polls no flag (a terminal or
        // pipe that takes no more output). The PDF being written is removed
        // by its worker long before this; end as the signal asks.
        _exit(exitStatusForSignal(gSignalNumber.load()));
    }).detach();
}

int SignalCancel::receivedSignal() {
    return gSignalNumber.load();
}

int SignalCancel::exitStatusForSignal(int signalNumber) {
    if (signalNumber == SIGTERM)
        return kExitTerminated;
    if (signalNumber == SIGHUP)
        return 128 + SIGHUP;
    return kExitInterrupted;
}

}  // namespace quorvex::cli
