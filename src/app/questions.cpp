#include "app/questions.h"

#include <QMessageBox>

#include <iostream>

namespace miral::app {

bool QtQuestion::ask(std::string_view question) {
    const QString text = QString::fromUtf8(question.data(), static_cast<qsizetype>(question.size()));
    return QMessageBox::question(parent_, QStringLiteral("Miral"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool AnsweredQuestion::ask(std::string_view question) {
    ++asked;
    std::cerr << "miral: " << question << " " << (answer ? "yes" : "no") << " (--answer)\n";
    return answer;
}

}  // namespace miral::app
