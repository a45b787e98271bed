// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of the front panel.
#pragma once

#include <string>

class QImage;

namespace miral::app {

class TForm1;

// Writes an image; the format follows the file name's extension (".png",
// ".jpg" or ".jpeg", any case). Returns false with the reason in *error.
bool saveImage(const QImage& image, const std::string& file, std::string* error);

// Writes the front panel as the window shows it now.
bool saveWindowShot(TForm1& form, const std::string& file, std::string* error);

}  // namespace miral::app
