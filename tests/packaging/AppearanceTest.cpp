// The window in the desktop's palette and at the screen's scale: it draws
// with whatever palette the platform gives (light or dark, no colours of its
// own), keeps its designed size in device-independent pixels, renders sharp
// at the scale QT_SCALE_FACTOR sets (CTest runs this at 1x and 2x), uses the
// icon drawn for the pixel size it needs, and clips no text at desktop fonts
// from 8 to 14 points.
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>

#include "DarkPalette.h"
#include "GuiTestSupport.h"
#include "app/AboutDialog.h"
#include "app/ConverterDialog.h"
#include "app/DialogUnits.h"
#include "app/FileListWidget.h"

using namespace quorvex::gui;
using desktoptest::lightness;

namespace {

// The lightest and darkest pixel inside a rectangle of an image.
struct LightRange {
    int darkest = 255;
    int lightest = 0;
};

LightRange lightRange(const QImage& image, const QRect& area) {
    LightRange range;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const int value = lightness(image.pixelColor(x, y));
            range.darkest = std::min(range.darkest, value);
            range.lightest = std::max(range.lightest, value);
        }
    }
    return range;
}

// A rectangle in device-independent pixels of the window, in the device
// pixels of its grabbed image.
QRect toDevice(const QRect& logical, qreal scale) {
    return {QPoint(qRound(logical.x() * scale), qRound(logical.y() * scale)),
            QSize(qRound(logical.width() * scale), qRound(logical.height() * scale))};
}

// Whether the list draws the cell's text whole, as the list's tooltip
// delegate judges it.
bool cellTextFits(const QTreeWidget* list, const QModelIndex& index) {
    const auto* delegate = qobject_cast<TruncatedTextToolTipDelegate*>(list->itemDelegate());
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.widget = list;
    option.font = list->font();
    option.fontMetrics = list->fontMetrics();
    const int side = list->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, list);
    option.decorationSize = QSize(side, side);
    option.rect = list->visualRect(index);
    return delegate != nullptr && !delegate->isTextTruncated(option, index);
}

// Where a widget, or a rectangle in its coordinates, lies in the window.
QRect inWindow(const QWidget* widget, const QWidget* window, const QRect& area) {
    return {widget->mapTo(window, area.topLeft()), area.size()};
}

}  // namespace

class AppearanceTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        bool ok = false;
        m_scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
        if (!ok) {
            m_scale = 1.0;
        }
        m_platformPalette = QApplication::palette();
        m_platformFont = QApplication::font();
    }

    void init() {
        m_engine = std::make_unique<guitest::ScriptedEngine>();
        m_engine->hold();
        m_desktop = std::make_unique<guitest::RecordingDesktop>();
    }

    void cleanup() {
        m_dialog.reset();
        m_engine.reset();
        m_desktop.reset();
        QApplication::setPalette(m_platformPalette);
        QApplication::setFont(m_platformFont);
    }

    void keepsItsSizeAndDrawsAtTheScreenScale() {
        showWindow();
        QCOMPARE(m_dialog->devicePixelRatio(), m_scale);
        // The designed size stays in device-independent pixels; the screen
        // scale multiplies the pixels drawn.
        QCOMPARE(m_dialog->size(), DialogUnits(*m_dialog).size(306, 190));
        const QPixmap shot = m_dialog->grab();
        QCOMPARE(shot.devicePixelRatio(), m_scale);
        QCOMPARE(shot.size(), m_dialog->size() * m_scale);
    }

    void iconsUseThePixelsDrawnForTheScale() {
        showWindow();
        // Where an icon size was drawn for the device pixels needed, that
        // drawing is used as it is, not a smaller one stretched.
        for (int side : {16, 24, 32, 48, 64, 128}) {
            const int devicePixels = qRound(side * m_scale);
            const QImage drawn(QStringLiteral(":/icons/quorvex-tiff2pdf-%1.png").arg(devicePixels));
            const QPixmap pixmap = m_dialog->windowIcon().pixmap(QSize(side, side), m_scale);
            QCOMPARE(pixmap.size(), QSize(devicePixels, devicePixels));
            if (!drawn.isNull()) {
                // Pixmaps keep premultiplied alpha; compare in that form.
                constexpr QImage::Format kFormat = QImage::Format_ARGB32_Premultiplied;
                QVERIFY2(
                    pixmap.toImage().convertToFormat(kFormat) == drawn.convertToFormat(kFormat),
                    qPrintable(QString::number(side)));
            }
        }
        AboutDialog about(m_dialog.get());
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QPixmap aboutIcon = about.findChild<QLabel*>("aboutIcon")->pixmap();
        QCOMPARE(aboutIcon.devicePixelRatio(), m_scale);
        // Row icons come at the scale too.
        QTemporaryDir folder;
        m_dialog->OnDropFiles({guitest::makeFile(folder, QStringLiteral("scan.tif"), 100)});
        QVERIFY(!m_dialog->list()->topLevelItem(0)->icon(kFilenameColumn).isNull());
        const QIcon rowIcon = m_dialog->list()->topLevelItem(0)->icon(kFilenameColumn);
        QTreeWidget* list = m_dialog->list();
        const int side = list->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, list);
        const QSize iconSize(side, side);
        QCOMPARE(rowIcon.pixmap(iconSize, m_scale).size(), iconSize * m_scale);
    }

    void noTextIsClippedAtTheDesktopFontSize_data() {
        QTest::addColumn<int>("points");
        for (int points : {8, 11, 14}) {
            QTest::addRow("%d pt", points) << points;
        }
    }

    void noTextIsClippedAtTheDesktopFontSize() {
        QFETCH(int, points);
        QFont font = m_platformFont;
        font.setPointSize(points);
        QApplication::setFont(font);
        showWindow();
        // The window is drawn up in units of the font it really uses.
        QCOMPARE(m_dialog->font().pointSize(), points);
        QCOMPARE(m_dialog->size(), DialogUnits(*m_dialog).size(306, 190));

        // A typical row: a scan in a folder of its own, a megabyte or so.
        QTemporaryDir folder;
        m_dialog->OnDropFiles({guitest::makeFile(folder, "invoice-0042.tif", 1258291)});
        for (const char* name : {"dropHint", "outputHint"}) {
            const auto* label = m_dialog->findChild<QLabel*>(name);
            QVERIFY2(label->height() >= label->heightForWidth(label->width()), name);
            QVERIFY2(m_dialog->rect().contains(label->geometry()), name);
        }
        const auto* about = m_dialog->findChild<QToolButton*>("aboutButton");
        QVERIFY(about->width() >= about->sizeHint().width());
        QVERIFY(m_dialog->rect().contains(about->geometry()));
        // Every column lies within the list and holds its header and the
        // row's text.
        QTreeWidget* list = m_dialog->list();
        const QHeaderView* header = list->header();
        for (int column : {kFilenameColumn, kStatusColumn, kSizeColumn}) {
            const QString title = list->headerItem()->text(column);
            const int left = header->sectionViewportPosition(column);
            const int width = header->sectionSize(column);
            QVERIFY2(left >= 0 && left + width <= list->viewport()->width(), qPrintable(title));
            QVERIFY2(width >= header->sectionSizeHint(column), qPrintable(title));
            const QModelIndex cell = list->model()->index(0, column);
            QVERIFY2(!cell.data().toString().isEmpty() && cellTextFits(list, cell),
                     qPrintable(title));
        }
    }

    void drawsWithTheLightPlatformPalette() {
        QVERIFY(lightness(QApplication::palette().color(QPalette::Base)) > 200);
        checkDrawnInPalette(QApplication::palette());
    }

    void drawsWithADarkPalette() {
        QApplication::setPalette(desktoptest::darkPalette());
        checkDrawnInPalette(desktoptest::darkPalette());
    }

  private:
    void showWindow() {
        m_dialog =
            std::make_unique<ConverterDialog>(nullptr, m_desktop->actions(), m_engine->function());
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    }

    // Every part of the window takes its colours from palette: none sets a
    // palette or style sheet of its own, the backgrounds are the palette's,
    // and the text contrasts with them in the palette's direction.
    void checkDrawnInPalette(const QPalette& palette) {
        showWindow();
        m_dialog->OnDropFiles({QStringLiteral("/tmp/appearance/first.tif"),
                               QStringLiteral("/tmp/appearance/second.tif")});
        QApplication::processEvents();

        QVERIFY(qApp->styleSheet().isEmpty());
        QList<QWidget*> widgets = m_dialog->findChildren<QWidget*>();
        widgets.append(m_dialog.get());
        for (const QWidget* widget : widgets) {
            QVERIFY2(!widget->testAttribute(Qt::WA_SetPalette), qPrintable(widget->objectName()));
            QVERIFY2(widget->styleSheet().isEmpty(), qPrintable(widget->objectName()));
        }

        const QImage shot = m_dialog->grab().toImage();
        const bool dark = lightness(palette.color(QPalette::Base)) < 128;
        const int base = lightness(palette.color(QPalette::Base));
        const int window = lightness(palette.color(QPalette::Window));

        // Empty list area below the rows: the Base colour, untouched.
        QWidget* viewport = m_dialog->list()->viewport();
        const QRect lastRow = m_dialog->list()->visualItemRect(m_dialog->list()->topLevelItem(1));
        const QRect belowRows(4, lastRow.bottom() + 6, viewport->width() - 8, 12);
        const LightRange empty =
            lightRange(shot, toDevice(inWindow(viewport, m_dialog.get(), belowRows), m_scale));
        QVERIFY2(std::abs(empty.darkest - base) <= 2 && std::abs(empty.lightest - base) <= 2,
                 qPrintable(QString("list background %1..%2, Base %3")
                                .arg(empty.darkest)
                                .arg(empty.lightest)
                                .arg(base)));

        // Row text stands out from the list in the palette's direction.
        const QRect firstRow = m_dialog->list()->visualItemRect(m_dialog->list()->topLevelItem(0));
        checkTextContrast(shot, toDevice(inWindow(viewport, m_dialog.get(), firstRow), m_scale),
                          base, dark, "row text");

        // The window around the list, and the instructions on it.
        const LightRange margin = lightRange(shot, QRect(QPoint(1, 1), QSize(4, 4) * m_scale));
        QVERIFY2(std::abs(margin.darkest - window) <= 2,
                 qPrintable(QString("window %1, palette %2").arg(margin.darkest).arg(window)));
        for (const char* name : {"dropHint", "outputHint"}) {
            const auto* label = m_dialog->findChild<QLabel*>(name);
            checkTextContrast(shot,
                              toDevice(inWindow(label, m_dialog.get(), label->rect()), m_scale),
                              window, dark, name);
        }
    }

    static void checkTextContrast(const QImage& shot, const QRect& area, int background, bool dark,
                                  const char* what) {
        const LightRange range = lightRange(shot, area);
        const int contrast = dark ? range.lightest - background : background - range.darkest;
        QVERIFY2(contrast > 120, qPrintable(QString("%1: background %2, text %3..%4")
                                                .arg(what)
                                                .arg(background)
                                                .arg(range.darkest)
                                                .arg(range.lightest)));
    }

    qreal m_scale = 1.0;
    QPalette m_platformPalette;
    QFont m_platformFont;
    std::unique_ptr<guitest::ScriptedEngine> m_engine;
    std::unique_ptr<guitest::RecordingDesktop> m_desktop;
    std::unique_ptr<ConverterDialog> m_dialog;
};

QTEST_MAIN(AppearanceTest)
#include "AppearanceTest.moc"
