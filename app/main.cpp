// quorvex-tiff2pdf-gui: the drop-target window of the TIFF to PDF converter.
//   quorvex-tiff2pdf-gui [FILE...]
// Files named on the command line (a file manager's "Open With") are taken in
// exactly as if they had been dropped on the window.
#include <chrono>
#include <cstdio>

#include "app/ConvertEachThread.h"
#include "app/ConverterApp.h"
#include "engine/StopSignals.h"

namespace {

// Closing takes up to ConvertEachThread::kStopGrace; a process still there
// well after a stop signal is stuck outside the event loop.
constexpr std::chrono::milliseconds kLastResortGrace{3000};

}  // namespace

int main(int argc, char** argv) {
    quorvex::StopSignals::install();
    quorvex::StopSignals::startLastResort(kLastResortGrace);
    int exitCode = 0;
    {
        quorvex::gui::ConverterApp app(argc, argv);
        exitCode = app.InitInstance(app.commandLineFiles());
    }
    // A conversion stuck in its input must not keep the program alive, nor
    // run while the process tears down what it still uses; what it was
    // writing goes with it.
    if (quorvex::gui::ConvertEachThread::threadsLeftBehind() > 0) {
        std::fflush(nullptr);
        quorvex::StopSignals::endNow(exitCode);
    }
    return exitCode;
}
