// SPDX-License-Identifier: GPL-3.0-or-later
// The spectrum traces of the frequency views and the labels on spectral
// peaks.
//
// A trace walks the bins from 0 upwards, maps each to its screen column and
// stops at the first bin right of the plot. Bins that share a column are
// combined by the column rule ("Avg": their mean, "Max": their highest
// point, neither: every bin drawn), and the combined point is clamped to the
// trace's plot area. Channel A's walk records, for every column it draws,
// the bin, the column and the unclamped row, which is what the markers snap
// to.
#pragma once

#include <vector>

#include "display/canvas.h"
#include "display/number_text.h"

namespace miral::display {

// Which screen column each bin of the spectrum lands in:
// trunc(MapAxis(bin x binWidth, plotSpan, fMin, fMax, xlog) + 3). Kept
// between cycles and recomputed only when the band, the bin width or the
// plot change, so that a cycle maps no frequencies when nothing moved.
class SpectrumColumns {
  public:
    // Storage for the largest spectrum (32768 bins) is taken here, once.
    SpectrumColumns();

    void Update(int bins, double binWidth, int plotSpan, int plotWidth, double fMin, double fMax, bool xlog);

    // The first bin (>= 1) whose column lies beyond plotWidth - 3, or the
    // number of bins when every bin fits: the walk covers bins 1 .. end() - 1.
    int end() const { return end_; }
    // Column of bin 1 .. end() (bin end() is mapped too, to close the last column).
    int column(int bin) const { return columns_[static_cast<std::size_t>(bin)]; }

  private:
    std::vector<int> columns_;
    int end_ = 1;
    bool valid_ = false;
    int bins_ = 0, plotSpan_ = 0, plotWidth_ = 0;
    double binWidth_ = 0, fMin_ = 0, fMax_ = 0;
    bool xlog_ = false;
};

// How bins that share a column are combined.
enum class ColumnRule {
    EveryBin,  // "Avg" and "Max" up: each bin is its own point
    Mean,      // "Avg": the mean row of the column's bins
    Highest,   // "Max": the highest point (smallest row) of the column
};

// One drawn column of a trace: its last bin, its x and the row before clamping.
struct TraceColumn {
    int bin = 0;
    int x = 0;
    double y = 0;
};

struct SpectrumTraceInputs {
    const double* values = nullptr;  // display units, bins 0 .. columns.end()
    // Row of a value v: baseRow - rowFactor x v.
    double baseRow = 0;
    double rowFactor = 0;
    // The trace's plot area: rows are clamped to areaTop .. areaBottom - 4.
    int areaTop = 0;
    int areaBottom = 0;
    int paintWidth = 567;  // columns 4 .. paintWidth - 1 are drawn to, others only moved to
    ColumnRule rule = ColumnRule::Highest;
    Pen pen;
    // "Color": each drawn column takes its colour from the tuning deviation of
    // its frequency (red 5 per cent of deviation, green the rest). Null: the
    // pen's colour throughout.
    double (*centsOf)(double frequency) = nullptr;
    double binWidth = 1;
    // false: the walk records its columns but paints nothing (no plot area).
    bool draw = true;
    // When set (trace A), receives one entry per column the walk emits (the
    // columns left of the plot, only moved to, included); room for
    // columns.end() entries is needed.
    TraceColumn* columns = nullptr;
};

// Draws one trace; `points` is scratch space kept by the caller (grown here
// only the first time). Returns the number of columns recorded.
int DrawSpectrumTrace(Canvas& c, const SpectrumTraceInputs& in, const SpectrumColumns& columns,
                      std::vector<Point>& points);

// The colour of a column with "Color": red |trunc(5 d)|, green 255 minus that.
Color DeviationColor(double cents);

// A label on a spectral peak.
struct PeakLabel {
    double frequency = 0;   // bin x binWidth
    const char* note = "";  // the nearest note's name
    double peakRow = 0;     // the row of the peak on trace A
};

struct PeakLabelInputs {
    bool notes = false;  // `vedinota`: the note name on the peak
    bool freqs = false;  // `vedifreq`: the frequency below, close peaks stacked in one column
    int plotSpan = 563;
    double fMin = 10;
    double fMax = 22050;
    bool xlog = true;
    int plotHeight = 388;
    Color color = colors::Yellow;  // "Labels"
};

// The frequency of a peak label as the marker readouts write frequencies:
// rounded to 0.1 Hz, at most six characters ("260.4", "8998.8"); a cut that
// ends on the decimal point drops it ("11200").
NumText PeakFrequencyText(double hz);

// Labels of the peaks, given in ascending order of frequency. No label covers
// another (a label takes its text's width, a space, and one 12-pixel row):
// a column of stacked frequencies starts high enough for all of them to fit
// above the plot's bottom; a frequency label whose place is taken moves to
// the next free row of its column (below, else above); labels stay inside
// the plot; a note that would cover a label already drawn, or a frequency
// label with no free row, is left out.
void DrawPeakLabels(Canvas& c, const PeakLabel* labels, int count, const PeakLabelInputs& in);

}  // namespace miral::display
