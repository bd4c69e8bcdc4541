// quorvex-tiff2pdf-gui: the drop-target window of the TIFF to PDF converter.
//   quorvex-tiff2pdf-gui [FILE...]
// Files named on the command line (a file manager's "Open With") are taken in
// exactly as if they had been dropped on the window.
#include <cstdio>
#include <cstdlib>

#include "app/ConvertEachThread.h"
#include "app/ConverterApp.h"

int main(int argc, char** argv) {
    int exitCode = 0;
    {
        quorvex::gui::ConverterApp app(argc, argv);
        exitCode = app.InitInstance(app.commandLineFiles());
    }
    // A conversion stuck in its input must not keep the program alive, nor
    // run while the process tears down what it still uses.
    if (quorvex::gui::ConvertEachThread::threadsLeftBehind() > 0) {
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
