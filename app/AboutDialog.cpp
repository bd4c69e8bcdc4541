#include "app/AboutDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/AppIcon.h"
#include "app/DialogUnits.h"

namespace quorvex::gui {

namespace {

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About Quorvex Tiff to Pdf Converter"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);

    const DialogUnits units(*this);
    const int iconSide = units.x(21);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(applicationIcon().pixmap(iconSide, iconSide));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* title = plainLabel(QStringLiteral("Quorvex Tiff to Pdf Converter Version 1.0"), this);
    title->setObjectName(QStringLiteral("aboutTitle"));
    auto* detail = plainLabel(QStringLiteral("Turns TIFF images into PDF documents."), this);
    detail->setObjectName(QStringLiteral("aboutDetail"));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("aboutOk"));
    ok->setDefault(true);
    ok->setMinimumSize(units.size(50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(units.margins(11, 7, 7, 7));
    grid->setHorizontalSpacing(units.x(8));
    grid->setVerticalSpacing(units.y(7));
    grid->addWidget(icon, 0, 0, 3, 1);
    grid->addWidget(title, 0, 1);
    grid->addWidget(detail, 1, 1);
    grid->addWidget(ok, 0, 2, Qt::AlignTop);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(1, 1);

    // The designed size, grown where the desktop's font needs more room.
    const QSize designed = units.size(235, 55);
    setFixedSize(designed.expandedTo(sizeHint()));
}

}  // namespace quorvex::gui
