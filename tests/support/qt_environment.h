// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt application of a test program, on Qt's offscreen platform (no
// display is needed): App is QGuiApplication for the canvas tests (fonts),
// QApplication for the window tests; `setup` runs once it exists.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>
#include <memory>

namespace miral::test {

template <class App>
class QtEnvironment : public ::testing::Environment {
  public:
    explicit QtEnvironment(void (*setup)() = nullptr) : setup_(setup) {}
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<App>(argc_, argv_);
        if (setup_) setup_();
    }
    void TearDown() override { app_.reset(); }

  private:
    void (*setup_)();
    int argc_ = 1;
    char name_[16] = "miral_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<App> app_;
};

}  // namespace miral::test
