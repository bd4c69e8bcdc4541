// A short note shown over a widget, in the colours of a tooltip, that goes
// away by itself: the window's answer to a drop it could do nothing with.
#pragma once

#include <QLabel>
#include <QTimer>

namespace quorvex::gui {

class TransientNote : public QLabel {
    Q_OBJECT

  public:
    // Long enough to read a short sentence twice.
    static constexpr int kShownMs = 4000;

    // The note lies over the middle of `over`, which owns it.
    explicit TransientNote(QWidget* over);

    // Shows the text, replacing a note still up, for kShownMs.
    void showNote(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void centre();

    QTimer m_hideTimer;
};

}  // namespace quorvex::gui
