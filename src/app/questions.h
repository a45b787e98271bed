// SPDX-License-Identifier: GPL-3.0-or-later
// The instrument's yes/no questions: a Qt message box on the desktop, a
// given answer in runs without a window. And the message that says why the
// instrument stopped.
#pragma once

#include <string>
#include <string_view>

#include "core/instrument.h"

class QWidget;

namespace miral::app {

// Asks with a QMessageBox; "No" is the default button.
class QtQuestion final : public core::Question {
  public:
    explicit QtQuestion(QWidget* parent) : parent_(parent) {}
    bool ask(std::string_view question) override;

  private:
    QWidget* parent_;
};

// Answers every question with `answer` (--answer yes|no), noting the
// question and the answer on stderr.
class AnsweredQuestion final : public core::Question {
  public:
    bool answer = true;
    int asked = 0;
    bool ask(std::string_view question) override;
};

// What the window says when a processing cycle or a handler failed and the
// program ends: the reason, and that the panel was not stored.
std::string failureText(std::string_view reason);

// Shows failureText(reason) in a critical QMessageBox and waits until it is
// closed.
void showFailure(QWidget* parent, std::string_view reason);

// A file given to open (a bundle, a WAV input) that cannot be opened: the
// reason, which names the file, in a critical QMessageBox; waits until it is
// closed.
void showInputFailure(QWidget* parent, std::string_view reason);

}  // namespace miral::app
