// A dark desktop palette, as a dark theme hands it to Qt applications: light
// text on dark window and list backgrounds, and a saturated highlight.
#pragma once

#include <QColor>
#include <QPalette>

namespace desktoptest {

inline QPalette darkPalette() {
    const QColor window(45, 45, 48);
    const QColor base(30, 30, 32);
    const QColor text(230, 230, 230);
    const QColor disabledText(130, 130, 130);
    QPalette palette(text, window);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(90, 160, 240));
    palette.setColor(QPalette::BrightText, QColor(255, 90, 90));
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, disabledText);
    }
    return palette;
}

// Relative luminance on a 0..255 scale, enough to tell light from dark.
inline int lightness(const QColor& color) {
    return (color.red() * 299 + color.green() * 587 + color.blue() * 114) / 1000;
}

}  // namespace desktoptest
