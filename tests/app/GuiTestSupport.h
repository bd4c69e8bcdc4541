// Shared pieces of the window tests: a scripted stand-in for the engine whose
// conversions the test lets through one by one, a desktop that records beeps,
// opened files and drags, and helpers to drop files on a widget.
#pragma once

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <condition_variable>
#include <cstdint>
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
// cancels; files whose name contains "stuck" do not listen to that, like an
// input that blocks). Files whose name contains "broken" fail with
// kFailureReason; the rest succeed and report the output path the real engine
// would derive, and a PDF of kPdfBytes.
class ScriptedEngine {
  public:
    static constexpr const char* kFailureReason = "Scripted failure: not a TIFF file.";
    static constexpr uint64_t kPdfBytes = 4321;

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
    // The threads each call was given, in call order.
    QList<unsigned> threads() const;
    // The most threads the calls inside the engine held at one time.
    unsigned peakThreads() const;
    // Whether two calls for one file were ever inside the engine at once.
    bool sawOneFileTwice() const;

  private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool holding = false;
        std::vector<std::string> released;  // file names, one entry per call
        int waiting = 0;
        bool cancelSeen = false;
        std::vector<std::string> calls;
        std::vector<unsigned> threads;
        unsigned threadsInside = 0;
        unsigned peakThreads = 0;
        std::vector<std::string> inside;  // input paths of the calls running
        bool oneFileTwice = false;
    };
    std::shared_ptr<State> m_state;
};

// A desktop that only takes notes. A drag is answered with dropAnswer after
// duringDrag (if set) has run, as a drop target acting on the files would; the
// question before opening many files with openAnswer.
struct RecordingDesktop {
    int beeps = 0;
    QList<QUrl> opened;

    bool openAnswer = true;
    QList<int> openQuestions;      // the number of files each question named
    QStringList activationTokens;  // one per time the window came to the front

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

// The engine the screenshot tools and the outcome tests use: succeeds at once
// with a PDF three quarters the size of the file (0 bytes when it is missing),
// except for files named after what goes wrong with them: "invoice" is no
// TIFF, "readonly" sits in a folder the PDF cannot be written to, "fifo" is
// not a regular file, "fax" is converted with damage, and "contract"
// keeps converting until the window stops it.
namespace pretend {
inline constexpr const char* kNotTiffDetail = "not a readable TIFF file";
inline constexpr const char* kNotTiffLibtiff = "Not a TIFF or MDI file, bad magic number 20617";
inline constexpr const char* kReadOnlyDetail =
    "cannot create a file in readonly: Permission denied";
inline constexpr const char* kFifoDetail = "not a regular file (FIFO)";
inline constexpr const char* kSubfilesNote =
    "1 subfile skipped (reduced-resolution copies and transparency masks are not pages)";
inline constexpr const char* kDamage =
    "page 1, rows 54-600 unreadable (LZW: Using code not yet in table)";
}  // namespace pretend
quorvex::ConversionOutcome pretendConversion(const quorvex::ConversionRequest& request);

// Creates a file of the given size (bytes of 'x') and returns its path.
QString makeFile(const QTemporaryDir& dir, const QString& name, qint64 bytes = 0);

}  // namespace guitest
