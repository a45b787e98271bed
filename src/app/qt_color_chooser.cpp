// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt_color_chooser.h"

#include <QColorDialog>

#include "app/panel_widgets.h"

namespace miral::app {

std::optional<display::Color> QtColorChooser::choose(display::Color initial) {
    const QColor c = QColorDialog::getColor(qcolor(initial), parent_);
    if (!c.isValid()) return std::nullopt;  // cancelled
    return display::rgb(c.red(), c.green(), c.blue());
}

}  // namespace miral::app
