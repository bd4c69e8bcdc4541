// quorvex-tiff2pdf: converts TIFF files to PDF files from the shell.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/SignalCancel.h"
#include "engine/platform/Platform.h"

namespace {

constexpr int kStandardError = 2;

std::size_t stderrColumns() {
    return quorvex::platform::terminalColumns(kStandardError);
}

}  // namespace

int main(int argc, char** argv) {
    using quorvex::cli::SignalCancel;
    quorvex::cli::CommandLineEnvironment env;
    env.cancel = &SignalCancel::install();
    quorvex::platform::useBinaryStandardStreams();
    quorvex::platform::keepFreedBuffersForReuse();
    env.stderrIsTerminal = quorvex::platform::isTerminal(kStandardError);
    // Signals end the run within a second, whatever it is waiting on.
    SignalCancel::startWatchdog(std::chrono::milliseconds(900), env.stderrIsTerminal);
    env.cancelExitStatus = [] {
        return SignalCancel::exitStatusForSignal(SignalCancel::receivedSignal());
    };
    env.terminalWidth = stderrColumns;
    env.hardwareThreads = std::thread::hardware_concurrency();
    return quorvex::cli::runCommandLine(quorvex::platform::commandLineArguments(argc, argv), env);
}
