// The instrument's yes/no questions: a Qt message box on the desktop, a
// given answer in runs without a window.
#pragma once

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

}  // namespace miral::app
