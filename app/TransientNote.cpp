#include "app/TransientNote.h"

#include <QEvent>
#include <QStyleOptionFrame>
#include <QStylePainter>
#include <QToolTip>

namespace quorvex::gui {

TransientNote::TransientNote(QWidget* over) : QLabel(over) {
    setObjectName(QStringLiteral("transientNote"));
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    setMargin(fontMetrics().height() / 2);
    // Drawn as the style draws tooltips, in their colours.
    setPalette(QToolTip::palette());
    setForegroundRole(QPalette::ToolTipText);
    // Clicks and drops go to the list beneath, as if the note were not there.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
    m_hideTimer.setSingleShot(true);
    m_hideTimer.setInterval(kShownMs);
    connect(&m_hideTimer, &QTimer::timeout, this, &QWidget::hide);
    over->installEventFilter(this);
}

void TransientNote::showNote(const QString& text) {
    setText(text);
    setAccessibleName(text);
    centre();
    show();
    raise();
    m_hideTimer.start();
}

void TransientNote::paintEvent(QPaintEvent* event) {
    QStylePainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    painter.drawPrimitive(QStyle::PE_PanelTipLabel, frame);
    painter.end();
    QLabel::paintEvent(event);
}

bool TransientNote::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize) {
        centre();
    }
    return QLabel::eventFilter(watched, event);
}

void TransientNote::centre() {
    const auto* over = parentWidget();
    const QSize size = sizeHint().boundedTo(over->size());
    setGeometry(QRect(
        QPoint((over->width() - size.width()) / 2, (over->height() - size.height()) / 2), size));
}

}  // namespace quorvex::gui
