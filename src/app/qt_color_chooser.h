// SPDX-License-Identifier: GPL-3.0-or-later
// The colour dialog of the swatches: Qt's own colour dialog.
#pragma once

#include "core/instrument.h"

class QWidget;

namespace miral::app {

class QtColorChooser final : public core::ColorChooser {
  public:
    explicit QtColorChooser(QWidget* parent) : parent_(parent) {}
    std::optional<display::Color> choose(display::Color initial) override;

  private:
    QWidget* parent_;
};

}  // namespace miral::app
