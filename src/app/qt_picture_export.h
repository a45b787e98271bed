// SPDX-License-Identifier: GPL-3.0-or-later
// The Save button's dialog and pictures on the desktop: Qt's file dialog,
// and the screen's picture as a QImage written by Qt's image writers.
#pragma once

#include <QImage>
#include <QStringList>
#include <optional>
#include <string>
#include <string_view>

#include "core/instrument.h"

class QWidget;

namespace miral::app {

class QtPictureWriter;

// The picture-save dialog: Qt's save dialog with the instrument's filter and
// one more entry, "PNG Image at twice the size". The type chosen in the
// dialog is the type written: a name typed without an extension gets the
// chosen type's. With a writer, the chosen size goes to it.
class QtSaveDialog final : public core::Instrument::SaveDialog {
  public:
    explicit QtSaveDialog(QWidget* parent, QtPictureWriter* writer = nullptr)
        : parent_(parent), writer_(writer) {}
    std::optional<std::string> choose(std::string_view defaultExt, std::string_view filter) override;

    // The name filters as offered (for tests).
    static QStringList offeredFilters(std::string_view filter);
    // The file name for a typed name and the chosen filter: the filter's
    // extension appended unless the name already ends in a picture type's.
    static QString nameForFilter(const QString& typed, const QString& nameFilter);
    // The scale a name filter asks for (2 for the twice-the-size entry).
    static int scaleOfFilter(const QString& nameFilter);

  private:
    QWidget* parent_;
    QtPictureWriter* writer_;
};

// The dialog of a run without a window: answered with a name given
// beforehand (--save-dialog FILE), or cancelled with a note on stderr.
class AnsweredSaveDialog final : public core::Instrument::SaveDialog {
  public:
    std::optional<std::string> answer;
    std::optional<std::string> choose(std::string_view defaultExt, std::string_view filter) override;
};

// Pictures of the screen. The format follows the name's extension: .jpg and
// .jpeg JPEG, .bmp Windows bitmap, .png PNG, .ico icon (scaled to fit 256 x
// 256, the largest icon); other names (the
// metafiles .emf and .wmf among them) are refused with a message. The file is
// written whole or not at all.
class QtPictureWriter final : public core::Instrument::PictureWriter {
  public:
    void capture(const display::Canvas& source, int width, int height) override;
    bool save(const std::string& path, std::string* error) override;
    const QImage& picture() const { return picture_; }
    // 2: the next pictures are written at twice the size, every screen pixel
    // as a sharp 2 x 2 block (for slides and print); 1: as the screen shows it.
    void setScale(int scale) { scale_ = scale == 2 ? 2 : 1; }
    int scale() const { return scale_; }

  private:
    QImage picture_;
    int scale_ = 1;
};

// "Description (*.ext)|*.ext|..." as Qt's name filters, one "Description
// (*.ext)" per pair.
QStringList qtNameFilters(std::string_view filter);

}  // namespace miral::app
