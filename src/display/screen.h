// SPDX-License-Identifier: GPL-3.0-or-later
// The instrument's screen: geometry, background and plot areas, the grids of
// every view, the pretrigger mark, the scale label line and the final copy
// onto the visible paint box. Traces, markers and readouts of the other
// instrument parts are drawn between DrawGrids and DrawScaleLabels into the
// same buffer, using the geometry computed here.
//
// One drawing cycle:
//   ScreenGeometry g = ComputeScreenGeometry(in);
//   BeginFrame(buffer, in, g, colors);
//   ... band update (in.fMin / in.fMax) ...
//   if (auto c = DrawGrids(buffer, in, g, colors)) fCenter = *c;
//   ... traces, markers, readouts ...
//   DrawScaleLabels(buffer, in, g, colors);
//   PresentScreen(buffer, screen);
//
// The buffer is normally twice the paint box's size (so that the enlarged
// screen fits); BeginFrame clips it to the paint box, and only that active
// area is cleared, drawn and presented. Nothing here allocates.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "display/canvas.h"
#include "display/color_slots.h"
#include "display/number_text.h"

namespace miral::display {

// The measurement-mode group: `Tempo`, `Frequenza`, `trasf`, `zeta`.
enum class ScreenView { Time, Spectrum, Transfer, Impedance };
// The channel group: `modea`, `modeb`, `modeab`.
enum class ChannelMode { A, B, AB };

// Everything the screen drawing reads, gathered by the caller from the panel
// and the instrument state once per cycle (buttons: true = down).
struct ScreenInputs {
    int paintWidth = 567;  // `PaintBox1`
    int paintHeight = 400;
    ScreenView view = ScreenView::Spectrum;
    ChannelMode mode = ChannelMode::AB;
    bool xlog = true;       // `xlog`
    bool ylog = true;       // `ylog`
    bool freqGrid = true;   // `freq`: decade grid on a logarithmic X axis
    bool noteGrid = false;  // `croma` "Nota": semitone grid on a logarithmic X axis
    bool splitFft = true;   // `split1` "Split FFT"
    bool splitXfr = true;   // `split2` "Split XFR"
    bool dbGrid = true;     // `CheckBox10` "Y Grid in dB."
    bool x10A = false;      // `dc1`
    bool x10B = false;      // `dc2`
    int magScale = 10;      // `MagScale`
    int pos1 = 0;           // knob values
    int pos2 = 0;
    int range1 = 0;
    int range2 = 0;
    int mainselect = 0;
    bool rlcReadout = false;   // the impedance meter's RLC readout mode is on
    bool calibrating = false;  // an autocalibration runs
    int calibrationStep = 0;
    // Frequency views: the displayed band (set before DrawGrids).
    double fMin = 10;
    double fMax = 22050;
    // Transfer view: the phase offset of the transfer function, degrees.
    double transferPhaseOffset = 0;
    // Time view: the pretrigger shift and the zoom.
    int pretriggerSamples = 0;
    double horizontalScale = 1.0;
    // The band readouts `Label64` and `Label65` (texts as shown).
    std::string_view minFreqText;
    std::string_view maxFreqText;
};

struct ScreenGeometry {
    int rightMargin = 0;   // strip right of the plot for the vertical scale labels
    int bottomMargin = 0;  // strip below the plot for the frequency labels
    int plotWidth = 0;
    int plotHeight = 0;
    int plotSpan = 0;  // plotWidth - 4: the extent of axis mapping
    int upperTop = 0;
    int upperBottom = 0;
    int lowerTop = 0;  // 0: no lower area
    int lowerBottom = 0;
    int zeroRowA = 0;
    int zeroRowB = 0;
    double scaleA = 0;  // vertical units per count of channel A
    double scaleB = 0;
    double rowUnit = 0;     // pixels per vertical unit (upperBottom / 127 / 8)
    double columnUnit = 0;  // pixels per horizontal unit ((plotWidth - 4) / 512)

    bool hasLowerArea() const { return lowerTop != 0; }
};

// Range knob labels and the vertical units per count x 9.2 (index = knob value).
inline constexpr std::array<std::string_view, 8> kRangeLabels = {"5mV",   "10mV",  "20mV",  "50mV",
                                                                 "100mV", "200mV", "500mV", "1V"};
inline constexpr std::array<double, 8> kRangeTable = {12, 6, 3, 1.2, 0.6, 0.3, 0.12, 0.06};
// The same for the logarithmic Y axis of the frequency views.
inline constexpr std::array<double, 8> kLogRangeTable = {12, 6, 3, 1.2, 0.6, 0.3, 0.2, 0.2};
// Time-base labels (index = `mainselect` value).
inline constexpr std::array<std::string_view, 9> kTimeBaseLabels = {
    "1Sec", "300mSec", "100mSec", "30mSec", "10mSec", "3mSec", "1mSec", "300uSec", "100uSec"};

// Knob values outside a table's range read its nearest entry.
std::string_view RangeLabel(int rangeValue);
std::string_view TimeBaseLabel(int mainselectValue);

// Margins, plot areas (split into an upper and a lower area for the
// impedance view and the split spectrum and transfer views; all zero in the
// RLC readout mode and during calibration), zero rows and scales.
ScreenGeometry ComputeScreenGeometry(const ScreenInputs& in);

// Clip the buffer to the paint box, fill it with "Background" and the plot
// areas with "Canvas"; the font colour becomes "Labels" and the brush
// "Background".
void BeginFrame(Canvas& buffer, const ScreenInputs& in, const ScreenGeometry& g, const ColorSlots& colors);

// The grids and frames of the current view (nothing when the plot areas are
// zero). In the frequency views returns the new centre frequency
// (fMax + fMin) / 2, which the caller stores as FCenter.
std::optional<double> DrawGrids(Canvas& buffer, const ScreenInputs& in, const ScreenGeometry& g,
                                const ColorSlots& colors);

// The text of the scale label line.
LineText ScaleLabelText(const ScreenInputs& in);

// The pretrigger mark "T" (time view; pen width 2 in the pen's current
// colour) and the scale label line at the bottom left, in "Labels".
void DrawScaleLabels(Canvas& buffer, const ScreenInputs& in, const ScreenGeometry& g,
                     const ColorSlots& colors);

// The notice over a screen that has no input ("No input: <reason> -
// retrying"): a dark box with an amber frame and amber text in "Arial" 11 (9
// when 11 does not fit the plot), centred on the plot; a text too wide even
// then goes on two lines, cut at the space nearest its middle. The pen,
// brush and font are left as the banner set them. Allocates nothing.
inline constexpr Color kBannerBack = rgb(24, 24, 24);
inline constexpr Color kBannerText = rgb(255, 190, 0);
void DrawBanner(Canvas& buffer, const ScreenGeometry& g, std::string_view text);

// Copy the buffer's active (clip) rectangle onto the same rectangle of the
// screen canvas.
void PresentScreen(const Canvas& buffer, Canvas& screen);

}  // namespace miral::display
