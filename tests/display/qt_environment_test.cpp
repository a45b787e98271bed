// SPDX-License-Identifier: GPL-3.0-or-later
// Texts on the QImage canvas need Qt's font database, which needs a
// QGuiApplication; the tests run without a display (offscreen platform).
#include "support/qt_environment.h"

#include <QGuiApplication>

namespace {

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new miral::test::QtEnvironment<QGuiApplication>());

}  // namespace
