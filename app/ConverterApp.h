// The application object: names the program, sets its icon and runs the main
// window until it closes.
#pragma once

#include <QApplication>
#include <QStringList>

#include "app/LaunchFeedback.h"

class QDir;

namespace quorvex::gui {

class ConverterDialog;

class ConverterApp : public QApplication {
    Q_OBJECT

  public:
    // The name of the desktop entry that launches the window; desktops match
    // the window to its menu entry and icon by it.
    static constexpr const char* kDesktopFileName = "quorvex-tiff2pdf";

    // The default launch is read from the environment as the call is made,
    // before the application (and with it Qt's X11 connection) exists.
    ConverterApp(int& argc, char** argv, LaunchFeedback launch = LaunchFeedback::fromEnvironment());

    // Hands the files to the window already open for this user and display
    // and returns 0 when it takes them, having ended the desktop's launch
    // feedback (see LaunchFeedback). Otherwise shows the main window,
    // takes the files in as if they had been dropped on it (none: an empty
    // list), takes the files later launches hand over, and runs until it
    // closes. Returns the process exit code.
    int InitInstance(const QStringList& files = {});

    // The name later launches find this program's window by.
    QString instanceName() const;

    // The files named on the command line, after Qt has taken out its own
    // options: what a file manager's "Open With" passes.
    QStringList commandLineFiles() const;
    // Each argument as an absolute, cleaned local path, the way a drop names
    // files. Relative paths are resolved against workingDirectory; file: URLs
    // are accepted as well.
    static QStringList filesFromArguments(const QStringList& arguments,
                                          const QDir& workingDirectory);

  signals:
    // The main window exists and has not taken in any file yet.
    void windowCreated(quorvex::gui::ConverterDialog* window);

  private:
    LaunchFeedback m_launch;
};

}  // namespace quorvex::gui
