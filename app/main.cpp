// quorvex-tiff2pdf-gui: the drop-target window of the TIFF to PDF converter.
//   quorvex-tiff2pdf-gui [FILE...]
// Files named on the command line (a file manager's "Open With") are taken in
// exactly as if they had been dropped on the window.
#include "app/ConverterApp.h"

int main(int argc, char** argv) {
    quorvex::gui::ConverterApp app(argc, argv);
    return app.InitInstance(app.commandLineFiles());
}
