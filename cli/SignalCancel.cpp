#include "cli/SignalCancel.h"

#include "engine/StopSignals.h"

namespace quorvex::cli {
namespace {

// Carriage return, then erase to the end of the line (see Reporter).
constexpr const char* kEraseLine = "\r\033[K";

}  // namespace

const std::atomic<bool>& SignalCancel::install() {
    return StopSignals::install();
}

void SignalCancel::startWatchdog(std::chrono::milliseconds grace, bool stderrIsTerminal) {
    StopSignals::startLastResort(grace, stderrIsTerminal ? kEraseLine : "");
}

int SignalCancel::receivedSignal() {
    return StopSignals::received();
}

int SignalCancel::exitStatusForSignal(int signalNumber) {
    return StopSignals::exitStatusFor(signalNumber);
}

}  // namespace quorvex::cli
