#include "app/ConverterApp.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QUrl>
#include <utility>

#include "app/AppIcon.h"
#include "app/ConverterDialog.h"
#include "app/InstanceChannel.h"
#include "app/StopSignalWatcher.h"

namespace quorvex::gui {

ConverterApp::ConverterApp(int& argc, char** argv, LaunchFeedback launch)
    : QApplication(argc, argv), m_launch(std::move(launch)) {
    setApplicationName(QStringLiteral("Quorvex Tiff to Pdf Converter"));
    setApplicationVersion(QStringLiteral("1.0"));
    // Wayland compositors and docks find the menu entry, and with it the
    // icon, through this name.
    setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    setWindowIcon(applicationIcon());
}

QString ConverterApp::instanceName() const {
    return InstanceChannel::serverName(QProcessEnvironment::systemEnvironment(), platformName());
}

int ConverterApp::InitInstance(const QStringList& files) {
    InstanceChannel channel(instanceName());
    if (channel.handOver(files, m_launch.activationToken())) {
        // The window already open took the files (and the token).
        m_launch.completeStartup();
        return 0;
    }
    ConverterDialog dialog;
    emit windowCreated(&dialog);
    if (!files.isEmpty()) {
        dialog.OnDropFiles(files);
    }
    // Without the name later launches open windows of their own, as before.
    channel.listen();
    connect(&channel, &InstanceChannel::filesHandedOver, &dialog,
            &ConverterDialog::OnFilesHandedOver);
    // A stop signal closes the window as its close button does; exit() also
    // ends an event loop a menu or the About box runs.
    StopSignalWatcher stopSignals;
    connect(&stopSignals, &StopSignalWatcher::stopRequested, &dialog, [this, &dialog](int status) {
        dialog.close();
        exit(status);
    });
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

QStringList ConverterApp::commandLineFiles() const {
    return filesFromArguments(arguments().mid(1), QDir::current());
}

QStringList ConverterApp::filesFromArguments(const QStringList& arguments,
                                             const QDir& workingDirectory) {
    QStringList files;
    for (const QString& argument : arguments) {
        // Desktops pass paths for %F, but some hand over file: URLs anyway.
        const QString path = argument.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)
                                 ? QUrl(argument).toLocalFile()
                                 : argument;
        if (path.isEmpty()) {
            continue;
        }
        files.append(
            QDir::toNativeSeparators(QDir::cleanPath(workingDirectory.absoluteFilePath(path))));
    }
    return files;
}

}  // namespace quorvex::gui
