// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt_picture_export.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <iostream>

#include "display/qimage_canvas.h"

namespace miral::app {

QStringList qtNameFilters(std::string_view filter) {
    // Pairs of description and pattern; Qt shows the description, which
    // already names the pattern.
    QStringList parts =
        QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) filters << parts[i].trimmed();
    return filters;
}

namespace {

const QString kTwiceFilter = QStringLiteral("PNG Image at twice the size (*.png)");

QString extensionOfFilter(const QString& nameFilter) {
    const qsizetype star = nameFilter.indexOf(QLatin1String("(*."));
    if (star < 0) return {};
    const qsizetype end = nameFilter.indexOf(QLatin1Char(')'), star);
    return nameFilter.mid(star + 3, end - star - 3).section(QLatin1Char(' '), 0, 0);
}

bool isPictureExtension(const QString& ext) {
    static const QStringList known = {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                      QStringLiteral("bmp"), QStringLiteral("ico")};
    return known.contains(ext.toLower());
}

}  // namespace

QStringList QtSaveDialog::offeredFilters(std::string_view filter) {
    QStringList filters = qtNameFilters(filter);
    filters.insert(filters.isEmpty() ? 0 : 1, kTwiceFilter);
    return filters;
}

QString QtSaveDialog::nameForFilter(const QString& typed, const QString& nameFilter) {
    if (isPictureExtension(QFileInfo(typed).suffix())) return typed;
    const QString ext = extensionOfFilter(nameFilter);
    return ext.isEmpty() ? typed : typed + QLatin1Char('.') + ext;
}

int QtSaveDialog::scaleOfFilter(const QString& nameFilter) {
    return nameFilter == kTwiceFilter ? 2 : 1;
}

std::optional<std::string> QtSaveDialog::choose(std::string_view defaultExt, std::string_view filter) {
    QFileDialog dialog(parent_, QStringLiteral("Save"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(offeredFilters(filter));
    QString ext = QString::fromUtf8(defaultExt.data(), static_cast<qsizetype>(defaultExt.size()));
    if (ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
    dialog.setDefaultSuffix(ext.toLower());
    // The type chosen is the type written.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
        const QString e = extensionOfFilter(f);
        if (!e.isEmpty()) dialog.setDefaultSuffix(e);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString chosenFilter = dialog.selectedNameFilter();
    if (writer_) writer_->setScale(scaleOfFilter(chosenFilter));
    return nameForFilter(dialog.selectedFiles().first(), chosenFilter).toStdString();
}

std::optional<std::string> AnsweredSaveDialog::choose(std::string_view, std::string_view) {
    if (!answer)
        std::cerr << "miral: the picture-save dialog was cancelled: answer it with --save-dialog FILE\n";
    return answer;
}

void QtPictureWriter::capture(const display::Canvas& source, int width, int height) {
    width = std::max(0, std::min(width, source.width()));
    height = std::max(0, std::min(height, source.height()));
    if (const auto* q = dynamic_cast<const display::QImageCanvas*>(&source)) {
        picture_ = q->image().copy(0, 0, width, height);
        return;
    }
    picture_ = QImage(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const display::Color c = source.pixel(x, y);
            picture_.setPixel(x, y, qRgb(display::red(c), display::green(c), display::blue(c)));
        }
}

bool QtPictureWriter::save(const std::string& path, std::string* error) {
    const QString name = QString::fromStdString(path);
    const QString ext = QFileInfo(name).suffix().toLower();
    QByteArray format;
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg")) {
        format = "jpeg";
    } else if (ext == QLatin1String("bmp")) {
        format = "bmp";
    } else if (ext == QLatin1String("png")) {
        format = "png";
    } else if (ext == QLatin1String("ico")) {
        format = "ico";
    } else {
        *error = "cannot write " + path + ": pictures are written as .jpg, .jpeg, .bmp, .png or .ico" +
                 (ext.isEmpty() ? std::string() : ", not ." + ext.toStdString());
        return false;
    }
    if (picture_.isNull()) {
        *error = "cannot write " + path + ": there is no picture of the screen";
        return false;
    }
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = "cannot write " + path + ": " + file.errorString().toStdString();
        return false;
    }
    QImageWriter writer(&file, format);
    if (format == "jpeg") writer.setQuality(92);
    // An icon is at most 256 pixels wide and high: the screen, scaled down.
    QImage image = format == "ico" && (picture_.width() > 256 || picture_.height() > 256)
                       ? picture_.scaled(256, 256, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                       : picture_;
    if (scale_ == 2 && format != "ico") {
        // Every pixel a sharp 2 x 2 block; printed at the same size as before.
        image = image.scaled(image.width() * 2, image.height() * 2, Qt::IgnoreAspectRatio,
                             Qt::FastTransformation);
        image.setDotsPerMeterX(picture_.dotsPerMeterX() * 2);
        image.setDotsPerMeterY(picture_.dotsPerMeterY() * 2);
    }
    if (!writer.write(image)) {
        *error = "cannot write " + path + ": " + writer.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = "cannot write " + path + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace miral::app
