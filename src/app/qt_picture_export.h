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

// The picture-save dialog: Qt's save dialog with the instrument's filter.
class QtSaveDialog final : public core::Instrument::SaveDialog {
public:
    explicit QtSaveDialog(QWidget* parent) : parent_(parent) {}
    std::optional<std::string> choose(std::string_view defaultExt, std::string_view filter) override;

private:
    QWidget* parent_;
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

private:
    QImage picture_;
};

// "Description (*.ext)|*.ext|..." as Qt's name filters, one "Description
// (*.ext)" per pair.
QStringList qtNameFilters(std::string_view filter);

}  // namespace miral::app
