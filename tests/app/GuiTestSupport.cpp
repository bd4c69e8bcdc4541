#include "GuiTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/Conversion.h"

namespace guitest {

using quorvex::ConversionOutcome;
using quorvex::ConversionRequest;

ScriptedEngine::ScriptedEngine() : m_state(std::make_shared<State>()) {}

quorvex::gui::ConvertFunction ScriptedEngine::function() const {
    std::shared_ptr<State> state = m_state;
    return [state](const ConversionRequest& request) {
        ConversionOutcome outcome;
        outcome.outputPath = quorvex::deriveOutputPath(request.inputPath);
        std::unique_lock lock(state->mutex);
        state->calls.push_back(request.inputPath);
        state->threads.push_back(request.options.threads);
        state->threadsInside += request.options.threads;
        state->peakThreads = std::max(state->peakThreads, state->threadsInside);
        state->oneFileTwice =
            state->oneFileTwice || std::find(state->inside.begin(), state->inside.end(),
                                             request.inputPath) != state->inside.end();
        state->inside.push_back(request.inputPath);
        const auto leave = [&state, &request] {
            state->threadsInside -= request.options.threads;
            state->inside.erase(
                std::find(state->inside.begin(), state->inside.end(), request.inputPath));
        };
        ++state->waiting;
        state->changed.notify_all();
        const std::string fileName =
            QFileInfo(QFile::decodeName(request.inputPath.c_str())).fileName().toStdString();
        const auto isReleased = [&] {
            return std::find(state->released.begin(), state->released.end(), fileName) !=
                   state->released.end();
        };
        const bool stuck = request.inputPath.find("stuck") != std::string::npos;
        while (state->holding && !isReleased()) {
            if (!stuck && request.cancel != nullptr && request.cancel->load()) {
                --state->waiting;
                leave();
                state->cancelSeen = true;
                outcome.failure = quorvex::FailureKind::Cancelled;
                return outcome;
            }
            state->changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        if (state->holding) {
            state->released.erase(
                std::find(state->released.begin(), state->released.end(), fileName));
        }
        --state->waiting;
        leave();
        if (request.inputPath.find("broken") != std::string::npos) {
            outcome.result = 0;
            outcome.failure = quorvex::FailureKind::InputUnreadable;
            outcome.detail = kFailureReason;
        } else {
            outcome.result = 1;
            outcome.bytesWritten = kPdfBytes;
        }
        return outcome;
    };
}

void ScriptedEngine::hold() {
    std::lock_guard lock(m_state->mutex);
    m_state->holding = true;
}

void ScriptedEngine::release(const QString& fileName) {
    std::lock_guard lock(m_state->mutex);
    m_state->released.push_back(fileName.toStdString());
    m_state->changed.notify_all();
}

void ScriptedEngine::releaseAll() {
    std::lock_guard lock(m_state->mutex);
    m_state->holding = false;
    m_state->changed.notify_all();
}

int ScriptedEngine::callCount() const {
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->calls.size());
}

QStringList ScriptedEngine::calls() const {
    std::lock_guard lock(m_state->mutex);
    QStringList paths;
    for (const std::string& path : m_state->calls) {
        paths.append(QFile::decodeName(path.c_str()));
    }
    return paths;
}

int ScriptedEngine::waitingCount() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->waiting;
}

bool ScriptedEngine::sawCancel() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelSeen;
}

QList<unsigned> ScriptedEngine::threads() const {
    std::lock_guard lock(m_state->mutex);
    return QList<unsigned>(m_state->threads.begin(), m_state->threads.end());
}

unsigned ScriptedEngine::peakThreads() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->peakThreads;
}

bool ScriptedEngine::sawOneFileTwice() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->oneFileTwice;
}

quorvex::gui::DesktopActions RecordingDesktop::actions() {
    quorvex::gui::DesktopActions actions;
    actions.beep = [this] { ++beeps; };
    actions.openUrl = [this](const QUrl& file) { opened.append(file); };
    actions.confirmOpen = [this](QWidget*, int files) {
        openQuestions.append(files);
        return openAnswer;
    };
    actions.activate = [this](QWidget*, const QString& activationToken) {
        activationTokens.append(activationToken);
    };
    actions.runDrag = [this](QWidget*, std::unique_ptr<QMimeData> data) {
        ++drags;
        draggedUrls = data->urls();
        draggedFormats = data->formats();
        draggedPrivateData = data->data(QStringLiteral("Tessaly_quorvexsoftware"));
        if (duringDrag) {
            duringDrag();
        }
        return dropAnswer;
    };
    return actions;
}

bool dropUrls(QWidget* target, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    const QPoint position = target->rect().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

    QDragEnterEvent enter(position, offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDragMoveEvent move(position, offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(position), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

bool dropPaths(QWidget* target, const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls.append(QUrl::fromLocalFile(path));
    }
    return dropUrls(target, urls);
}

QStringList columnTexts(const QTreeWidget* list, int column) {
    QStringList texts;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        texts.append(list->topLevelItem(row)->text(column));
    }
    return texts;
}

QList<int> selectedPositions(const QTreeWidget* list) {
    QList<int> positions;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->isSelected()) {
            positions.append(row);
        }
    }
    return positions;
}

void selectPositions(QTreeWidget* list, const QList<int>& positions) {
    list->clearSelection();
    for (int row : positions) {
        list->topLevelItem(row)->setSelected(true);
    }
}

QString makeFile(const QTemporaryDir& dir, const QString& name, qint64 bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qFatal("cannot create test file %s", qPrintable(path));
    }
    file.write(QByteArray(bytes, 'x'));
    return path;
}

quorvex::ConversionOutcome pretendConversion(const quorvex::ConversionRequest& request) {
    quorvex::ConversionOutcome outcome;
    outcome.outputPath = quorvex::deriveOutputPath(request.inputPath);
    if (request.inputPath.find("contract") != std::string::npos) {
        while (request.cancel != nullptr && !request.cancel->load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        outcome.failure = quorvex::FailureKind::Cancelled;
        return outcome;
    }
    const auto named = [&request](const char* part) {
        return request.inputPath.find(part) != std::string::npos;
    };
    if (named("invoice")) {
        outcome.detail = pretend::kNotTiffDetail;
        outcome.diagnostic = pretend::kNotTiffLibtiff;
        outcome.failure = quorvex::FailureKind::InputUnreadable;
        return outcome;
    }
    if (named("readonly")) {
        outcome.detail = pretend::kReadOnlyDetail;
        outcome.failure = quorvex::FailureKind::OutputFailed;
        return outcome;
    }
    if (named("fifo")) {
        outcome.detail = pretend::kFifoDetail;
        outcome.failure = quorvex::FailureKind::InputUnreadable;
        return outcome;
    }
    if (named("fax")) {
        outcome.warnings.push_back(pretend::kDamage);
    }
    if (named("thumbnails")) {
        outcome.notes.push_back(pretend::kSubfilesNote);
    }
    outcome.result = 1;
    const QFileInfo input(QFile::decodeName(request.inputPath.c_str()));
    outcome.bytesWritten = static_cast<uint64_t>(input.size()) / 4 * 3;
    return outcome;
}

}  // namespace guitest
