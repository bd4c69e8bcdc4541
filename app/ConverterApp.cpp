#include "app/ConverterApp.h"

#include "app/AppIcon.h"
#include "app/ConverterDialog.h"

namespace quorvex::gui {

ConverterApp::ConverterApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Quorvex Tiff to Pdf Converter"));
    setApplicationVersion(QStringLiteral("1.0"));
    setWindowIcon(applicationIcon());
}

int ConverterApp::InitInstance(const QStringList& files) {
    ConverterDialog dialog;
    if (!files.isEmpty()) {
        dialog.OnDropFiles(files);
    }
    // Shown as an ordinary window rather than an application-modal one, so
    // that window managers treat it as the main window it is (taskbar button,
    // minimising). Closing it, the last window, ends the event loop.
    setQuitOnLastWindowClosed(true);
    dialog.show();
    const int exitCode = exec();
    // Leaving this scope stops the workers of a window closed mid-batch and
    // waits for them to clean up.
    return exitCode;
}

}  // namespace quorvex::gui
