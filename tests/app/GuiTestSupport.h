// Shared pieces of the window tests: a scripted stand-in for the engine whose
// conversions the test lets through one by one, a desktop that records beeps,
// opened files and drags, and helpers to drop files on a widget.
#pragma once

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/ConversionJob.h"
#include "app/DesktopActions.h"
#include "engine/Conversion.h"

class QTreeWidget;
class QWidget;

namespace guitest {

// Converts nothing: every call is recorded and, while the engine holds, waits
// until the test releases its file by name (or all files, or the caller
// cancels). Files whose name contains "broken" fail with kFailureReason; the
// rest succeed and report the output path the real engine would derive.
class ScriptedEngine {
  public:
    static constexpr const char* kFailureReason = "Scripted failure: not a TIFF file.";

    ScriptedEngine();

    quorvex::gui::ConvertFunction function() const;

    // From now on every call waits for a release.
    void hold();
    // Lets one call for a file of this name (waiting now or later) finish.
    void release(const QString& fileName);
    // Lets every call finish, now and later.
    void releaseAll();

    int callCount() const;
    // Input paths in call order.
    QStringList calls() const;
    // Calls currently waiting for a release.
    int waitingCount() const;
    // Whether any call ended because its caller cancelled it.
    bool sawCancel() const;

  private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool holding = false;
        std::vector<std::string> released;  // file names, one entry per call
        int waiting = 0;
        bool cancelSeen = false;
        std::vector<std::string> calls;
    };
    std::shared_ptr<State> m_state;
};

// A desktop that only takes notes. A drag is answered with dropAnswer after
// duringDrag (if set) has run, as a drop target acting on the files would.
struct RecordingDesktop {
    int beeps = 0;
    QList<QUrl> opened;

    Qt::DropAction dropAnswer = Qt::IgnoreAction;
    std::function<void()> duringDrag;
    int drags = 0;
    QList<QUrl> draggedUrls;
    QStringList draggedFormats;
    QByteArray draggedPrivateData;

    quorvex::gui::DesktopActions actions();
};

// Sends drag-enter, drag-move and drop events carrying the paths as file URLs.
// Returns whether the widget accepted the drop.
bool dropPaths(QWidget* target, const QStringList& paths);
bool dropUrls(QWidget* target, const QList<QUrl>& urls);

// The texts of one column, top row first.
QStringList columnTexts(const QTreeWidget* list, int column);
// Positions of the selected rows, top row first.
QList<int> selectedPositions(const QTreeWidget* list);
void selectPositions(QTreeWidget* list, const QList<int>& positions);

// The engine the screenshot tools use: succeeds at once, fails "invoice"
// files the way the engine reports an unreadable file, and keeps "contract"
// files converting until the window stops it.
quorvex::ConversionOutcome pretendConversion(const quorvex::ConversionRequest& request);

// Creates a file of the given size (bytes of 'x') and returns its path.
QString makeFile(const QTemporaryDir& dir, const QString& name, qint64 bytes = 0);

}  // namespace guitest
