// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/window_shot.h"

#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

#include "app/form1.h"

namespace miral::app {

bool saveImage(const QImage& image, const std::string& file, std::string* error) {
    const QString name = QString::fromStdString(file);
    const QString ext = QFileInfo(name).suffix().toLower();
    QByteArray format;
    int quality = -1;
    if (ext == QLatin1String("png")) {
        format = "png";
    } else if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg")) {
        format = "jpeg";
        quality = 92;
    } else {
        *error = "name the picture .png or .jpg";
        return false;
    }
    if (image.isNull()) {
        *error = "there is no picture to write";
        return false;
    }
    QImageWriter writer(name, format);
    if (quality >= 0) writer.setQuality(quality);
    if (!writer.write(image)) {
        *error = "cannot write it: " + writer.errorString().toStdString();
        return false;
    }
    return true;
}

bool saveWindowShot(TForm1& form, const std::string& file, std::string* error) {
    return saveImage(form.panelImage(), file, error);
}

}  // namespace miral::app
