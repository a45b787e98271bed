// SPDX-License-Identifier: GPL-3.0-or-later
// Saving what the instrument shows (`savescreen`): the screen as a picture,
// the measurement as a raw binary file (".bin"), a MAT-file (".mat"), CSV
// text and a measurement bundle, under one name chosen in the picture-save
// dialog.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/instrument_section.h"
#include "display/canvas.h"

namespace miral::core {

// The picture-save dialog, behind an interface so that tests and headless
// runs can answer it.
class SaveDialog {
  public:
    virtual ~SaveDialog() = default;
    // Shows the dialog with a default extension (".JPG") and a filter in
    // the "Description (*.ext)|*.ext|..." form; the chosen path, or
    // nothing when cancelled.
    virtual std::optional<std::string> choose(std::string_view defaultExt, std::string_view filter) = 0;
};

// Pictures of the screen: a copy of a canvas area, written in the format
// that the file name asks for.
class PictureWriter {
  public:
    virtual ~PictureWriter() = default;
    // Takes a copy of the top-left width x height of the canvas.
    virtual void capture(const display::Canvas& source, int width, int height) = 0;
    // Writes the last copy; false with a one-line reason in *error (and no file).
    virtual bool save(const std::string& path, std::string* error) = 0;
};

class ScreenExport : public InstrumentSection {
  public:
    using InstrumentSection::InstrumentSection;

    void setSaveDialog(SaveDialog* dialog) { saveDialog_ = dialog; }
    void setPictureWriter(PictureWriter* writer) { pictureWriter_ = writer; }
    // The Save key: the files that the check boxes ask for; the status line
    // names what was saved and what was not, and why.
    void savescreenClick();

  private:
    SaveDialog* saveDialog_ = nullptr;
    PictureWriter* pictureWriter_ = nullptr;
};

}  // namespace miral::core
