// The window with the real engine: TIFF files written by the fixture builder
// go through a whole batch, PDFs are checked with qpdf, Convert Again writes
// a PDF once more, and closing the window mid-file leaves nothing behind.
#include <sys/stat.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "GuiTestSupport.h"
#include "app/ByteSize.h"
#include "app/ConverterDialog.h"
#include "app/FileListWidget.h"
#include "engine/Conversion.h"
#include "fixtures/TiffFixture.h"
#include "support/TestSupport.h"

using namespace quorvex::gui;
using guitest::columnTexts;
using guitest::dropPaths;

namespace {

constexpr int kBatchTimeoutMs = 60000;
// Refusing a file that is no regular file takes no reading; well within this.
constexpr int kRefusalTimeoutMs = 10000;

void writeGreyTiff(const QString& path, int pages = 1) {
    std::vector<fixtures::PageRecipe> specs;
    for (int page = 0; page < pages; ++page) {
        specs.push_back({.width = 120, .height = 80, .variant = static_cast<uint32_t>(page)});
    }
    fixtures::writeTiff(QFile::encodeName(path).toStdString(), specs);
}

void writeRgbTiff(const QString& path, uint32_t width = 90, uint32_t height = 60) {
    fixtures::writeTiff(QFile::encodeName(path).toStdString(), {{.width = width,
                                                                 .height = height,
                                                                 .compression = COMPRESSION_LZW,
                                                                 .photometric = PHOTOMETRIC_RGB}});
}

QString qpdfProblems(const QString& pdf) {
    const support::QpdfCheck check = support::qpdfCheck(QFile::encodeName(pdf).toStdString());
    return check.ok ? QString() : QString::fromStdString(check.output);
}

}  // namespace

class RealConversionTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        m_desktop = std::make_unique<guitest::RecordingDesktop>();
    }

    void cleanup() {
        m_desktop.reset();
        m_dir.reset();
    }

    void wholeBatchEndsWithTheWrittenPdfs() {
        ConverterDialog dialog(nullptr, m_desktop->actions());
        const QString a = path("a.tif");
        const QString b = path("b.TIF");
        const QString c = path("c.tiff");
        const QString broken = path("broken.tif");
        writeGreyTiff(a, 2);
        writeRgbTiff(b);
        writeGreyTiff(c);
        guitest::makeFile(*m_dir, "broken.tif", 300);

        QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);
        QVERIFY(dropPaths(&dialog, {a, b, broken, c}));
        QVERIFY(finished.wait(kBatchTimeoutMs));
        QCOMPARE(m_desktop->beeps, 1);

        QTreeWidget* list = dialog.list();
        QCOMPARE(columnTexts(list, kStatusColumn),
                 QStringList({"Finsihed", "Finsihed", "Failed", "Finsihed"}));
        // Each converted row names the file the engine wrote.
        const QStringList pdfs = {path("a.pdf"), path("b.pdf"), path("c.pdf")};
        QCOMPARE(columnTexts(list, kFilenameColumn),
                 QStringList({pdfs[0], pdfs[1], broken, pdfs[2]}));
        // A converted row shows the size of the PDF, a failed one its file's.
        QCOMPARE(columnTexts(list, kSizeColumn),
                 QStringList({sizeOf(pdfs[0]), sizeOf(pdfs[1]), "300 bytes", sizeOf(pdfs[2])}));
        for (const QString& pdf : pdfs) {
            QVERIFY2(QFile::exists(pdf), qPrintable(pdf));
            const QString problems = qpdfProblems(pdf);
            QVERIFY2(problems.isEmpty(), qPrintable(pdf + ": " + problems));
        }
        QCOMPARE(support::pdfPageCount(QFile::encodeName(pdfs[0]).toStdString()), 2);

        const QString reason = list->topLevelItem(2)->toolTip(kStatusColumn);
        QVERIFY2(!reason.isEmpty(), "a failed row explains why in its tooltip");
        QCOMPARE(list->topLevelItem(0)->toolTip(kStatusColumn), QString());
    }

    // A FIFO, a socket and a device named like TIFFs are refused at once with
    // the reason, and the files after them still convert.
    void namesThatAreNoRegularFilesFailWithTheReason() {
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo.tif")).constData(), 0600) == 0);
        QLocalServer socket;
        QVERIFY(socket.listen(path("socket.tif")));
        QVERIFY(QFile::link("/dev/null", path("device.tif")));
        writeGreyTiff(path("a.tif"));
        writeGreyTiff(path("b.tif"));

        ConverterDialog dialog(nullptr, m_desktop->actions());
        QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);
        dialog.OnDropFiles({path("fifo.tif"), path("a.tif"), path("socket.tif"), path("device.tif"),
                            path("b.tif")});
        QVERIFY2(finished.wait(kRefusalTimeoutMs), "a file that is no regular file blocked");

        QTreeWidget* list = dialog.list();
        QCOMPARE(columnTexts(list, kStatusColumn),
                 QStringList({"Failed", "Finsihed", "Failed", "Failed", "Finsihed"}));
        for (int row : {0, 2, 3}) {
            // The reason, and on a line of its own what the file is instead.
            const QString toolTip = list->topLevelItem(row)->toolTip(kStatusColumn);
            QVERIFY2(toolTip.contains('\n'), qPrintable(toolTip));
        }
        QVERIFY(QFile::exists(path("b.pdf")));
    }

    // The window writes the classic file, which has never taken a CMYK first
    // page: the row fails, its tooltip says why, and no PDF is written.
    void cmykFirstPageIsRefusedWithItsReason() {
        const QString cmyk = path("print.tif");
        fixtures::writeTiff(QFile::encodeName(cmyk).toStdString(),
                            {{.width = 40, .height = 30, .photometric = PHOTOMETRIC_SEPARATED}});
        ConverterDialog dialog(nullptr, m_desktop->actions());
        QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);
        dialog.OnDropFiles({cmyk});
        QVERIFY(finished.wait(kBatchTimeoutMs));
        QTreeWidgetItem* row = dialog.list()->topLevelItem(0);
        QCOMPARE(row->text(kStatusColumn), QString("Failed"));
        QVERIFY2(row->toolTip(kStatusColumn).contains("the first page is CMYK"),
                 qPrintable(row->toolTip(kStatusColumn)));
        QVERIFY(!QFile::exists(path("print.pdf")));
    }

    // A page whose LZW data is damaged still converts, says "Finsihed", and
    // its row carries a warning icon and the damage in its tooltip.
    void damagedFileFinishesWithAWarning() {
        const QString damaged = path("damaged.tif");
        writeRgbTiff(damaged, 240, 200);
        QFile file(damaged);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        for (qsizetype at = bytes.size() / 3; at < bytes.size() / 3 + 400; ++at) {
            bytes[at] = static_cast<char>(bytes[at] ^ 0x5a);
        }
        QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
        file.close();

        ConverterDialog dialog(nullptr, m_desktop->actions());
        QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);
        dialog.OnDropFiles({damaged});
        QVERIFY(finished.wait(kBatchTimeoutMs));
        QTreeWidgetItem* row = dialog.list()->topLevelItem(0);
        QCOMPARE(row->text(kStatusColumn), QString("Finsihed"));
        QVERIFY(!row->icon(kStatusColumn).isNull());
        QVERIFY2(row->toolTip(kStatusColumn).contains("page 1"),
                 qPrintable(row->toolTip(kStatusColumn)));
    }

    void convertAgainWritesThePdfAgain() {
        ConverterDialog dialog(nullptr, m_desktop->actions());
        const QString a = path("a.tif");
        writeGreyTiff(a);
        QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);
        QVERIFY(dropPaths(&dialog, {a}));
        QVERIFY(finished.wait(kBatchTimeoutMs));
        QVERIFY(QFile::remove(path("a.pdf")));

        dialog.list()->topLevelItem(0)->setSelected(true);
        dialog.OnConvertAgain();
        QVERIFY(finished.wait(kBatchTimeoutMs));
        QCOMPARE(dialog.list()->topLevelItem(0)->text(kFilenameColumn), path("a.pdf"));
        QCOMPARE(dialog.list()->topLevelItem(0)->text(kStatusColumn), QString("Finsihed"));
        QVERIFY(QFile::exists(path("a.pdf")));
        QCOMPARE(m_desktop->beeps, 2);
    }

    void closingMidFileLeavesNoPdfBehind() {
        // The real engine, held after its first page until the window asks it
        // to stop, so that the close always lands in the middle of the file.
        auto firstPageWritten = std::make_shared<std::atomic<bool>>(false);
        ConvertFunction heldAfterFirstPage =
            [firstPageWritten](const quorvex::ConversionRequest& request) {
                quorvex::ConversionRequest held = request;
                held.onPageDone = [firstPageWritten, cancel = request.cancel](uint32_t, uint32_t) {
                    firstPageWritten->store(true);
                    while (cancel != nullptr && !cancel->load()) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    }
                };
                return quorvex::convertTiff(held);
            };
        auto dialog =
            std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(), heldAfterFirstPage);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        const QString a = path("a.tif");
        writeGreyTiff(a, 3);
        writeGreyTiff(path("b.tif"));
        QVERIFY(dropPaths(dialog.get(), {a, path("b.tif")}));
        QTRY_VERIFY_WITH_TIMEOUT(firstPageWritten->load(), kBatchTimeoutMs);

        QVERIFY(dialog->close());
        QVERIFY(!dialog->isVisible());
        dialog.reset();

        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"a.tif", "b.tif"}));
        QCOMPARE(m_desktop->beeps, 0);
    }

    // A drop of 500 files converts them all while the window keeps answering:
    // the event loop turns throughout the batch.
    void fiveHundredFilesConvertWhileTheWindowStaysResponsive() {
        QStringList paths;
        for (int i = 0; i < 500; ++i) {
            const QString file = path(QString("page-%1.tif").arg(i, 3, 10, QChar('0')));
            fixtures::writeTiff(QFile::encodeName(file).toStdString(),
                                {{.width = 24, .height = 16, .variant = static_cast<uint32_t>(i)}});
            paths << file;
        }
        ConverterDialog dialog(nullptr, m_desktop->actions());
        QSignalSpy finished(&dialog, &ConverterDialog::batchFinished);

        QElapsedTimer sinceLastTick;
        qint64 longestGapMs = 0;
        int ticks = 0;
        QTimer heartbeat;
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            longestGapMs = std::max(longestGapMs, sinceLastTick.restart());
            ++ticks;
        });
        sinceLastTick.start();
        heartbeat.start(5);

        QVERIFY(dropPaths(&dialog, paths));
        QVERIFY(finished.wait(kBatchTimeoutMs));
        heartbeat.stop();

        const QStringList statuses = columnTexts(dialog.findChild<QTreeWidget*>(), 1);
        QCOMPARE(statuses.size(), 500);
        QCOMPARE(statuses.count("Finsihed"), 500);
        QCOMPARE(m_desktop->beeps, 1);
        QVERIFY2(ticks > 0, "the event loop never turned during the batch");
        QVERIFY2(longestGapMs < 1000,
                 qPrintable(QString("the window was unresponsive for %1 ms").arg(longestGapMs)));
    }

  private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    static QString sizeOf(const QString& file) {
        return QString::fromStdString(
            formatByteSize(static_cast<uint64_t>(QFileInfo(file).size())));
    }

    std::optional<QTemporaryDir> m_dir;
    std::unique_ptr<guitest::RecordingDesktop> m_desktop;
};

QTEST_MAIN(RealConversionTest)
#include "RealConversionTest.moc"
