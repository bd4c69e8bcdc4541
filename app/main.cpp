// quorvex-tiff2pdf-gui: the drop-target window of the TIFF to PDF converter.
#include "app/ConverterApp.h"

int main(int argc, char** argv) {
    quorvex::gui::ConverterApp app(argc, argv);
    return app.InitInstance();
}
