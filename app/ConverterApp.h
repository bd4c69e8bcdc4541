// The application object: names the program, sets its icon and runs the main
// window until it closes.
#pragma once

#include <QApplication>
#include <QStringList>

namespace quorvex::gui {

class ConverterApp : public QApplication {
    Q_OBJECT

  public:
    ConverterApp(int& argc, char** argv);

    // Shows the main window and runs until it closes. files
    // are taken in as if they had been dropped on the window (none: an empty
    // list). Returns the process exit code.
    int InitInstance(const QStringList& files = {});
};

}  // namespace quorvex::gui
