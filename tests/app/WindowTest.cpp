// The main window itself: size, flags, placement, texts, icon, tooltips, how
// paths are cut to fit and the About entry.
#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QtMath>
#include <optional>

#include "GuiTestSupport.h"
#include "app/AboutDialog.h"
#include "app/ByteSize.h"
#include "app/ConverterDialog.h"
#include "app/DialogUnits.h"
#include "app/FileListWidget.h"
#include "app/PathElision.h"

using namespace quorvex::gui;

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_engine = std::make_unique<guitest::ScriptedEngine>();
        m_desktop = std::make_unique<guitest::RecordingDesktop>();
        m_dialog =
            std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(), m_engine->function());
    }

    void cleanup() {
        m_dialog.reset();
        m_engine.reset();
        m_desktop.reset();
    }

    void hasTheDesignedFixedSize() {
        const QSize designed = DialogUnits(*m_dialog).size(306, 190);
        QCOMPARE(m_dialog->size(), designed);
        QCOMPARE(m_dialog->minimumSize(), designed);
        QCOMPARE(m_dialog->maximumSize(), designed);
    }

    void dialogUnitsFollowTheFontsCharacterSize() {
        // The 8-point dialog font the layout was drawn up for, at 96 dpi:
        // 6 pixels wide on average and 13 high; then the same font doubled.
        QCOMPARE(DialogUnits(6.0, 13.0).size(306, 190), QSize(459, 309));
        QCOMPARE(DialogUnits(12.0, 26.0).size(306, 190), QSize(918, 618));
    }

    void followsADesktopFontChange() {
        const QSize before = m_dialog->size();
        QFont larger = m_dialog->font();
        larger.setPointSizeF(larger.pointSizeF() * 1.5);
        m_dialog->setFont(larger);
        QCOMPARE(m_dialog->size(), DialogUnits(*m_dialog).size(306, 190));
        QVERIFY(m_dialog->width() > before.width() && m_dialog->height() > before.height());
    }

    void staysOnTopMinimisesButNeverMaximises() {
        const Qt::WindowFlags flags = m_dialog->windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    }

    void opensFlushInTheCornerOfTheAvailableArea() {
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        const QRect available = m_dialog->screen()->availableGeometry();
        QTRY_COMPARE(m_dialog->frameGeometry().bottomRight(), available.bottomRight());
    }

    void cornerPositionLeavesRoomForTheFrame() {
        // A bottom taskbar of 40 pixels, and a left one of 64.
        QCOMPARE(ConverterDialog::cornerPosition(QRect(0, 0, 1920, 1040), QSize(461, 340)),
                 QPoint(1459, 700));
        QCOMPARE(ConverterDialog::cornerPosition(QRect(64, 0, 1856, 1080), QSize(461, 340)),
                 QPoint(1459, 740));
    }

    void showsCaptionListAndInstructions() {
        QCOMPARE(m_dialog->windowTitle(), QString("Quorvex Tiff to Pdf Converter"));
        QTreeWidget* list = m_dialog->list();
        QCOMPARE(list->columnCount(), 3);
        QTreeWidgetItem* header = list->headerItem();
        QCOMPARE(QStringList({header->text(0), header->text(1), header->text(2)}),
                 QStringList({"Filename", "Status", "Size"}));
        QVERIFY(!list->isSortingEnabled());
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(!list->rootIsDecorated());

        const auto* dropHint = m_dialog->findChild<QLabel*>("dropHint");
        const auto* outputHint = m_dialog->findChild<QLabel*>("outputHint");
        QVERIFY(dropHint && outputHint);
        QCOMPARE(dropHint->text(), QString("1. Drag & drop TIFF file(s) into above window."));
        QCOMPARE(outputHint->text(),
                 QString("2. Once it is finished, the file will be created in same directory as "
                         "the image is located in."));
    }

    void instructionsAreNotClipped() {
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        for (const char* name : {"dropHint", "outputHint"}) {
            const auto* label = m_dialog->findChild<QLabel*>(name);
            QVERIFY2(label->height() >= label->heightForWidth(label->width()), name);
            QVERIFY2(m_dialog->rect().contains(label->geometry()), name);
        }
        QVERIFY(m_dialog->list()->height() > m_dialog->height() / 2);
    }

    void listHasTheFocusWhenTheWindowOpens() {
        m_dialog->show();
        QApplication::setActiveWindow(m_dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
        QTRY_VERIFY(m_dialog->list()->hasFocus());
    }

    void carriesTheApplicationIconInSeveralSizes() {
        const QList<QSize> sizes = m_dialog->windowIcon().availableSizes();
        for (int side : {16, 32, 48, 128}) {
            QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
        }
    }

    void truncatedCellsShowTheirFullTextAsTooltip() {
        m_engine->hold();
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        const QString longPath = "/tmp/" + QString(200, QChar('x')) + ".tif";
        m_dialog->OnDropFiles({longPath, "/tmp/s.tif"});
        QTreeWidget* list = m_dialog->list();
        list->header()->resizeSection(kFilenameColumn, 80);

        QCOMPARE(toolTipAt(list->topLevelItem(0), kFilenameColumn), longPath);
        QCOMPARE(toolTipAt(list->topLevelItem(1), kSizeColumn), QString());
    }

    void pathsAreCutInTheFolderKeepingTheFileName_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("room");  // in characters of a fixed-pitch font
        // What is shown starts and ends with these.
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        const QString deep = "/home/ann/Customer Documents/2024/2024 Invoice 0001.pdf";
        QTest::newRow("fits") << deep << 55 << deep << "";
        QTest::newRow("folder cut at its end")
            << deep << 35 << "/home/ann/Cu\u2026/2024 Invoice 0001.pdf"
            << "";
        QTest::newRow("no room for the folder") << deep << 23 << "\u2026/2024 Invoice 0001.pdf"
                                                << "";
        QTest::newRow("name too long: cut in its middle") << deep << 18 << "\u2026/2024 I"
                                                          << "0001.pdf";
        QTest::newRow("no folder: cut in the middle") << "2024 Invoice 0001.pdf" << 15 << "2024 I"
                                                      << "01.pdf";
    }

    void pathsAreCutInTheFolderKeepingTheFileName() {
        QFETCH(QString, path);
        QFETCH(int, room);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setStyleHint(QFont::TypeWriter);
        font.setPixelSize(12);
        QVERIFY(QFontInfo(font).fixedPitch());
        const QFontMetricsF exact(font);
        QCOMPARE(exact.horizontalAdvance(QString(20, QChar(0x2026))),
                 exact.horizontalAdvance(QString(20, 'x')));

        const int pixels = qCeil(exact.horizontalAdvance(QString(room, 'x')));
        const QString shown = elidePath(path, QFontMetrics(font), pixels);
        QVERIFY2(shown.startsWith(start) && shown.endsWith(end), qPrintable(shown));
        QVERIFY2(shown.size() <= room, qPrintable(shown));
    }

    void aFinishedRowShowsItsPdfNameWhole() {
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        // "pdf" is wider than "tif": a column sized for the TIFF cuts the PDF.
        m_dialog->OnDropFiles({"/tmp/a.tif"});
        QVERIFY(finished.wait(10000));
        QTreeWidgetItem* row = m_dialog->list()->topLevelItem(0);
        QTRY_COMPARE(m_dialog->list()->shownText(row, kFilenameColumn), QString("/tmp/a.pdf"));
    }

    void filesOfOneDeepFolderStayToldApart() {
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        const QString folder = "/srv/archive/" + QString(60, 'x') + "/Customer Documents/";
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        m_dialog->OnDropFiles({folder + "2024 Invoice 1.tif", folder + "2024 Invoice 2.tif",
                               folder + "2024 Invoice 3.tif"});
        QVERIFY(finished.wait(10000));

        FileListWidget* list = m_dialog->list();
        for (int index = 0; index < 3; ++index) {
            QTreeWidgetItem* row = list->topLevelItem(index);
            const QString pdf = folder + QString("2024 Invoice %1.pdf").arg(index + 1);
            const QString shown = list->shownText(row, kFilenameColumn);
            QVERIFY2(shown.startsWith("/srv/archive/") &&
                         shown.endsWith(QString("/2024 Invoice %1.pdf").arg(index + 1)) &&
                         shown.contains(QChar(0x2026)),
                     qPrintable(shown));
            QCOMPARE(toolTipAt(row, kFilenameColumn), pdf);
        }
        // The columns share the list's width: no scrolling sideways.
        QCOMPARE(list->header()->length(), list->viewport()->width());
    }

    void sizeColumnShowsThePdfsSizeOnceConverted() {
        m_engine->hold();
        QTemporaryDir dir;
        const QString good = guitest::makeFile(dir, "good.tif", 2048);
        const QString broken = guitest::makeFile(dir, "broken.tif", 20);
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        m_dialog->OnDropFiles({good, broken});
        QCOMPARE(guitest::columnTexts(m_dialog->list(), kSizeColumn),
                 QStringList({"2.00 KB", "20 bytes"}));
        m_engine->releaseAll();
        QVERIFY(finished.wait(10000));
        // A failed row still names the TIFF, and shows its size.
        const QString pdfSize =
            QString::fromStdString(formatByteSize(guitest::ScriptedEngine::kPdfBytes));
        QCOMPARE(guitest::columnTexts(m_dialog->list(), kSizeColumn),
                 QStringList({pdfSize, "20 bytes"}));
    }

    void statusTooltipSaysWhatWentWrong_data() {
        using namespace guitest::pretend;
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<bool>("warningIcon");
        const QString unreadable = QStringLiteral("Cannot read the TIFF.\n");
        QTest::newRow("no TIFF") << "invoice.tif" << kStatusFailed
                                 << unreadable + kNotTiffDetail + "\nlibtiff: " + kNotTiffLibtiff
                                 << false;
        QTest::newRow("read-only folder")
            << "readonly/scan.tif" << kStatusFailed
            << QStringLiteral("Cannot create the PDF.\n") + kReadOnlyDetail << false;
        QTest::newRow("not a regular file")
            << "fifo.tif" << kStatusFailed << unreadable + kFifoDetail << false;
        QTest::newRow("damaged") << "fax.tif" << kStatusFinished
                                 << QString(
                                        "Converted, but parts of the TIFF could not be "
                                        "read:\n") +
                                        kDamage
                                 << true;
        QTest::newRow("thumbnail left out")
            << "thumbnails.tif" << kStatusFinished << QString(kSubfilesNote) << false;
        QTest::newRow("clean") << "letter.tif" << kStatusFinished << QString() << false;
    }

    void statusTooltipSaysWhatWentWrong() {
        QFETCH(QString, file);
        m_dialog = std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(),
                                                     guitest::pretendConversion);
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        QSignalSpy finished(m_dialog.get(), &ConverterDialog::batchFinished);
        m_dialog->OnDropFiles({"/tmp/outcomes/" + file});
        QVERIFY(finished.wait(10000));

        QTreeWidgetItem* row = m_dialog->list()->topLevelItem(0);
        QTEST(row->text(kStatusColumn), "status");
        QTEST(toolTipAt(row, kStatusColumn), "toolTip");
        QTEST(!row->icon(kStatusColumn).isNull(), "warningIcon");
    }

    void aboutEntryIsReachableByMouseAndKeyboard() {
        m_dialog->show();
        QApplication::setActiveWindow(m_dialog.get());
        QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
        auto* button = m_dialog->findChild<QToolButton*>("aboutButton");
        QVERIFY(button);
        QCOMPARE(button->text(), QString("&About Tessaly..."));
        QVERIFY(button->isVisible());
        QVERIFY(m_dialog->rect().contains(button->geometry()));

        QVERIFY(aboutBoxOpensAndCloses([button] { button->click(); }));
        QVERIFY(aboutBoxOpensAndCloses([this] { QTest::keyClick(m_dialog.get(), Qt::Key_F1); }));
        QVERIFY(aboutBoxOpensAndCloses(
            [this] { QTest::keyClick(m_dialog->list(), Qt::Key_A, Qt::AltModifier); }));
        QVERIFY(m_dialog->isVisible());
    }

    void aboutBoxShowsNameAndVersion() {
        AboutDialog about;
        QCOMPARE(about.windowTitle(), QString("About Quorvex Tiff to Pdf Converter"));
        QCOMPARE(about.findChild<QLabel*>("aboutTitle")->text(),
                 QString("Quorvex Tiff to Pdf Converter Version 1.0"));
        QVERIFY(!about.findChild<QLabel*>("aboutIcon")->pixmap().isNull());
        auto* ok = about.findChild<QPushButton*>("aboutOk");
        QCOMPARE(ok->text(), QString("OK"));
        QVERIFY(ok->isDefault());
        const QSize designed = DialogUnits(about).size(235, 55);
        QVERIFY(about.width() >= designed.width() && about.height() >= designed.height());

        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        for (const char* name : {"aboutTitle", "aboutDetail"}) {
            const auto* label = about.findChild<QLabel*>(name);
            QVERIFY2(label->width() >= label->sizeHint().width(), name);
        }
    }

  private:
    // Asks the list's delegate for the cell's tooltip, as a hovering pointer
    // would.
    QString toolTipAt(QTreeWidgetItem* item, int column) {
        QToolTip::hideText();
        if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); })) {
            return QStringLiteral("(an earlier tooltip stayed up)");
        }
        // Where the cell is once the events of the wait have been handled.
        QTreeWidget* list = m_dialog->list();
        const QRect cell = list->visualItemRect(item).intersected(
            QRect(list->header()->sectionViewportPosition(column), 0,
                  list->header()->sectionSize(column), list->viewport()->height()));
        const QPoint at = cell.center();
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        const QString text = QToolTip::isVisible() ? QToolTip::text() : QString();
        QToolTip::hideText();
        return text;
    }

    // Runs `open`, expects the About box as the active modal window, and closes
    // it with its OK button.
    bool aboutBoxOpensAndCloses(const std::function<void()>& open) {
        QApplication::setActiveWindow(m_dialog.get());
        if (!QTest::qWaitForWindowActive(m_dialog.get())) {
            return false;
        }
        bool seen = false;
        // Buttons answer their mnemonic with an animated click, so the box
        // may open a little after `open` returns.
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&seen] {
            auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
            if (!seen && about != nullptr && about->isModal()) {
                seen = true;
                about->findChild<QPushButton*>("aboutOk")->click();
            }
        });
        poll.start();
        open();
        return QTest::qWaitFor(
            [&seen] { return seen && QApplication::activeModalWidget() == nullptr; }, 5000);
    }

    std::unique_ptr<guitest::ScriptedEngine> m_engine;
    std::unique_ptr<guitest::RecordingDesktop> m_desktop;
    std::unique_ptr<ConverterDialog> m_dialog;
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
