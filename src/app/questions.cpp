// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/questions.h"

#include <QMessageBox>
#include <iostream>

namespace miral::app {

bool QtQuestion::ask(std::string_view question) {
    const QString text = QString::fromUtf8(question.data(), static_cast<qsizetype>(question.size()));
    return QMessageBox::question(parent_, QStringLiteral("Miral"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

std::string failureText(std::string_view reason) {
    return "Miral stopped because of an error:\n\n" + std::string(reason) +
           "\n\nThe panel was not stored; the next start brings back the one stored before.";
}

void showFailure(QWidget* parent, std::string_view reason) {
    QMessageBox::critical(parent, QStringLiteral("Miral"), QString::fromStdString(failureText(reason)));
}

void showInputFailure(QWidget* parent, std::string_view reason) {
    QMessageBox::critical(parent, QStringLiteral("Miral"),
                          QStringLiteral("Miral cannot start with this file.\n\n") +
                              QString::fromUtf8(reason.data(), static_cast<qsizetype>(reason.size())));
}

bool AnsweredQuestion::ask(std::string_view question) {
    ++asked;
    std::cerr << "miral: " << question << " " << (answer ? "yes" : "no") << " (--answer)\n";
    return answer;
}

}  // namespace miral::app
