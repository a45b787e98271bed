// SPDX-License-Identifier: GPL-3.0-or-later
// The window tests run on Qt's offscreen platform: no display is needed.
#include "support/qt_environment.h"

#include <QApplication>

#include "app/gui.h"

namespace {

[[maybe_unused]] ::testing::Environment* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(
    new miral::test::QtEnvironment<QApplication>(&miral::app::setupApplication));

}  // namespace
