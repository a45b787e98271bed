// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/screen_export.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>

#include "core/instrument.h"
#include "storage/export.h"
#include "storage/file_io.h"

namespace miral::core {

namespace {

// Pictures that other programs read: PNG (the default, lossless), JPEG, BMP.
constexpr const char* kPictureFilter =
    "PNG Image (*.png)|*.png|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps "
    "(*.bmp)|*.bmp";
// Display units to decibels: 20 log10(e) / 2000 per unit of the logarithmic axis.
constexpr double kDbPerUnit = 20 * 0.00021714724972;

// One CSV field: the shortest text that reads back exactly, "." as the
// decimal point whatever the locale.
void csvNumber(std::string& out, double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void csvRow(std::string& out, std::initializer_list<double> values) {
    bool first = true;
    for (double v : values) {
        if (!first) out += ',';
        first = false;
        csvNumber(out, v);
    }
    out += '\n';
}

// The picture's path without the extension of its last component (a leading
// dot starts a hidden file's name, not an extension); "" when the path names
// no file.
std::string dataFileBase(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name = std::string_view(path).substr(nameAt);
    if (name.empty() || name == "." || name == "..") return "";
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot <= nameAt) return path;
    return path.substr(0, dot);
}

}  // namespace

void ScreenExport::savescreenClick() {
    // The button springs back; the picture is what the screen shows now.
    panel_.setDown(Ctl::savescreen, false);
    const ControlState& pb = panel_.state(Ctl::PaintBox1);
    if (pictureWriter_ && pb.canvas)
        pictureWriter_->capture(*pb.canvas, std::min(pb.width, pb.canvas->width()),
                                std::max(0, std::min(pb.height - 1, pb.canvas->height())));
    // The name.
    if (!saveDialog_) {
        in_.showStatusMessage("Nothing saved: there is no picture-save dialog to choose a name with");
        return;
    }
    const std::optional<std::string> chosen = saveDialog_->choose(".png", kPictureFilter);
    if (!chosen || chosen->empty()) return;
    // The data files sit beside the picture under its name with the
    // extension replaced, whatever its length ("a.b" and "a.jpeg" give
    // "a.bin"; a name without one gets ".bin" appended). Only the last
    // component's extension counts: a dot in a folder's name is none.
    const std::string& path = *chosen;
    const std::string base = dataFileBase(path);

    std::vector<std::string> saved, failed;
    auto write = [&](const std::string& file, std::string_view bytes) {
        if (base.empty()) {
            if (failed.empty() || failed.back().find(": no file name") == std::string::npos)
                failed.push_back("cannot write " + path + ": no file name");
            return;
        }
        std::string error;
        if (storage::writeFileAtomically(file, bytes, &error)) {
            saved.push_back(file);
        } else {
            failed.push_back(error);
        }
    };
    // The picture.
    if (panel_.checked(Ctl::CheckBox1)) {
        std::string error;
        if (!pictureWriter_) {
            failed.push_back("cannot write " + path + ": no picture writer");
        } else if (pictureWriter_->save(path, &error)) {
            saved.push_back(path);
        } else {
            failed.push_back(error);
        }
    }
    const View view = activeView(panel_);
    const bool timeView = view == View::Time;
    const bool transfer = view == View::Transfer;
    const bool logAxis = panel_.down(Ctl::ylog);
    std::size_t n = static_cast<std::size_t>(std::clamp(st_.FftSize, 0, kMaxWindow));
    for (const auto* a : {&st_.TimeWorkA, &st_.TimeWorkB, &st_.DisplayA, &st_.DisplayB, &st_.DisplayPhase})
        n = std::min(n, a->size());
    const std::size_t quarter = n / 4;
    // Display scale factors: trace A follows range2, trace B range1.
    const double sA = st_.ScaleB;
    const double sB = st_.ScaleA;
    const double transferFactor = logAxis ? kDbPerUnit / sA : 0.000525 / sA;
    const double factorA = logAxis ? kDbPerUnit / sA : 0.0525 / sA;
    const double factorB = logAxis ? kDbPerUnit / sB : 0.0525 / sB;
    // The binary block (an empty file in the time view).
    if (panel_.checked(Ctl::CheckBox3)) {
        std::string bytes;
        if (!timeView) {
            storage::BinaryExport b;
            b.divider = st_.FftDivider;
            b.kind = transfer ? 2 : 1;
            b.logAxis = logAxis ? 1 : 0;
            b.magnitude = st_.DisplayA.data();
            b.magnitudeFactor = transfer ? transferFactor : factorA;
            b.phase = st_.DisplayPhase.data();
            b.n = quarter;
            bytes = storage::encodeBinaryExport(b);
        }
        write(base + ".bin", bytes);
    }
    // The MAT-file (an empty file in the time view).
    if (panel_.checked(Ctl::CheckBox6)) {
        std::string bytes;
        if (!timeView) {
            storage::MatFile mat(transfer ? storage::kMatHeaderTransfer : storage::kMatHeaderSpectrum);
            mat.addInt32("FrequencyStep", static_cast<std::int32_t>(st_.BinWidth));
            mat.addInt32("SamplesPerSec", st_.AnalysisRate);
            if (transfer) {
                mat.addDoubles("Input", st_.TimeWorkB.data(), n);
                mat.addDoubles("Output", st_.TimeWorkA.data(), n);
                mat.addDoubles(logAxis ? "GainDb" : "Gain", st_.DisplayA.data(), quarter, transferFactor);
                mat.addDoubles("Phase", st_.DisplayPhase.data(), quarter);
            } else {
                mat.addDoubles("Input1", st_.TimeWorkB.data(), n);
                mat.addDoubles("Input2", st_.TimeWorkA.data(), n);
                mat.addDoubles(logAxis ? "Module1Db" : "Module1", st_.DisplayB.data(), quarter, factorB);
                mat.addDoubles(logAxis ? "Module2Db" : "Module2", st_.DisplayA.data(), quarter, factorA);
            }
            // The distortion analyzer's figures, when it is on.
            if (panel_.down(Ctl::distview)) distortion().addDistortionVariables(mat);
            bytes = mat.bytes();
        }
        write(base + ".mat", bytes);
    }
    // What is on the screen as text that spreadsheets, Octave and Python
    // read: one header line naming the columns and their units, then one
    // row per drawn sample or bin of the band. The impedance view has no
    // columns of its own here: its file stays empty, as the data files of
    // the time view do.
    if (panel_.checked(Ctl::csvexport)) {
        std::string text;
        if (timeView) {
            const int count = std::clamp(st_.TimeWindow, 0, kMaxWindow);
            const double dt =
                static_cast<double>(std::max(1, st_.Decimation)) / std::max(1, st_.TimeBaseRate);
            text = "time (s),A (full scale = 1),B (full scale = 1)\n";
            for (int i = 0; i < count; ++i)
                csvRow(text, {i * dt, st_.SpectrumWorkReA[static_cast<std::size_t>(i)] / 32768.0,
                              st_.SpectrumWorkReB[static_cast<std::size_t>(i)] / 32768.0});
        } else if (view != View::Impedance && st_.BinWidth > 0) {
            const std::size_t bins = std::min(n / 2, st_.DisplayA.size());
            if (transfer) {
                text = logAxis ? "frequency (Hz),gain (dB),phase (deg)\n"
                               : "frequency (Hz),gain (ratio),phase (deg)\n";
            } else {
                text = logAxis ? "frequency (Hz),A (dB re 1 mV rms),B (dB re 1 mV rms)\n"
                               : "frequency (Hz),A (mV rms),B (mV rms)\n";
            }
            for (std::size_t k = 1; k < bins; ++k) {
                const double f = static_cast<double>(k) * st_.BinWidth;
                if (f < st_.FMin || f > st_.FMax) continue;
                if (transfer) {
                    csvRow(text, {f, st_.DisplayA[k] * transferFactor, st_.DisplayPhase[k]});
                } else {
                    csvRow(text, {f, st_.DisplayA[k] * factorA, st_.DisplayB[k] * factorB});
                }
            }
        }
        write(base + ".csv", text);
    }
    // The measurement bundle: the raw capture with the panel, for opening
    // again (miral --audio bundle:NAME.miral).
    if (panel_.checked(Ctl::bundleexport)) {
        std::string error;
        if (bundles().saveBundle(base + ".miral", &error)) {
            saved.push_back(base + ".miral");
        } else {
            failed.push_back(error);
        }
    }
    // What happened, in the status line.
    std::string message;
    if (!failed.empty()) {
        message = "Not saved: ";
        for (std::size_t i = 0; i < failed.size(); ++i) message += (i ? "; " : "") + failed[i];
    }
    if (!saved.empty()) {
        if (!message.empty()) message += ".  ";
        message += "Saved ";
        for (std::size_t i = 0; i < saved.size(); ++i) message += (i ? ", " : "") + saved[i];
    }
    if (!message.empty()) in_.showStatusMessage(message);
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::savescreenClick(const UiEvent&) {
    export_.savescreenClick();
}

}  // namespace miral::core
