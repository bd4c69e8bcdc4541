#include "app/AppIcon.h"

#include <array>

// The resources live in this static library; the executable and the tests
// must register them before first use.
static void initAppResources() {
    Q_INIT_RESOURCE(resources);
}

namespace quorvex::gui {

QIcon applicationIcon() {
    static const bool registered = (initAppResources(), true);
    (void)registered;
    static constexpr std::array kSizes = {16, 24, 32, 48, 64, 128, 256};
    QIcon icon;
    for (int size : kSizes) {
        icon.addFile(QStringLiteral(":/icons/quorvex-tiff2pdf-%1.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}

}  // namespace quorvex::gui
