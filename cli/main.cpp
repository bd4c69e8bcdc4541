// quorvex-tiff2pdf: converts TIFF files to PDF files from the shell.
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/SignalCancel.h"

namespace {

std::size_t stderrColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

}  // namespace

int main(int argc, char** argv) {
    using quorvex::cli::SignalCancel;
    quorvex::cli::CommandLineEnvironment env;
    env.cancel = &SignalCancel::install();
    env.stderrIsTerminal = isatty(STDERR_FILENO) == 1;
    // Signals end the run within a second, whatever it is waiting on.
    SignalCancel::startWatchdog(std::chrono::milliseconds(900), env.stderrIsTerminal);
    env.cancelExitStatus = [] {
        return SignalCancel::exitStatusForSignal(SignalCancel::receivedSignal());
    };
    env.terminalWidth = stderrColumns;
    env.hardwareThreads = std::thread::hardware_concurrency();
    return quorvex::cli::runCommandLine(std::vector<std::string>(argv + 1, argv + argc), env);
}
