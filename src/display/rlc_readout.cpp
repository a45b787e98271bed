// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/rlc_readout.h"

#include <cmath>

namespace miral::display {

namespace {

constexpr double kTwoPi = 6.2831853078;

// " @1020 Hz.  " after a quality factor, "  @1020 Hz.  " after |Z|.
void appendAt(NumText& t, std::string_view gap, double frequency) {
    t.append(gap).appendInt(static_cast<long long>(frequency)).append(" Hz.  ");
}

}  // namespace

RlcTexts NoReadingTexts() {
    RlcTexts t;
    t.main = NumText(kNoReading);
    t.series = NumText(kNoReading);
    t.quality = NumText(kNoReading);
    t.impedance = NumText(kNoReading);
    return t;
}

RlcTexts ReactiveTexts(const RlcFigures& f, bool capacitor, int precision, double probePf,
                       double probeMilliOhm) {
    if (!std::isfinite(f.ohms) || !std::isfinite(f.frequency)) return NoReadingTexts();
    RlcTexts t;
    const int n = precision + 2;
    bool shown = false;
    const double series = f.ohms * f.cos - probeMilliOhm * 0.001;
    if (capacitor) {
        const double c = f.sin / (f.ohms * kTwoPi * f.frequency) - probePf * 1e-12;
        if (!std::isfinite(c)) {
            t.main = NumText(kNoReading);
        } else if (c >= 1e-13) {
            t.main = SiText(c, n, true);
            t.main.append("F.  ");
            shown = true;
        } else {
            t.main = NumText("0 pF. ");
        }
    } else {
        const double l = f.ohms / (kTwoPi * f.frequency) * f.sin;
        if (!std::isfinite(l)) {
            t.main = NumText(kNoReading);
        } else if (l >= 1e-7) {
            t.main = SiText(l, n, false);
            t.main.append("H.  ");
            shown = true;
        } else {
            t.main = NumText("0 nH. ");
        }
    }
    if (shown) {
        if (std::isfinite(series)) {
            t.series = SiText(series, n, false);
            t.series.append("Ohm  ");
        } else {
            t.series = NumText(kNoReading);
        }
        if (std::isfinite(f.tan)) {
            NumText q = ShortestText(f.tan);
            q.truncate(4);
            t.quality = NumText("Q=");
            t.quality.append(q);
            appendAt(t.quality, " @", f.frequency);
        } else {
            t.quality = NumText(kNoReading);
        }
    } else if (t.main.view() == kNoReading) {
        t.series = NumText(kNoReading);
        t.quality = NumText(kNoReading);
    } else {
        t.series = NumText(" ");
        t.quality = NumText(" ");
    }
    t.impedance = NumText("Z=");
    t.impedance.append(SiText(f.ohms, n, false));
    appendAt(t.impedance, "  @", f.frequency);
    return t;
}

NumText ResistiveText(const RlcFigures& f, int precision, double probeMilliOhm) {
    const double r = f.ohms * f.cos - probeMilliOhm * 0.001;
    if (!std::isfinite(r)) return NumText(kNoReading);
    if (!(r >= 0.0001)) return NumText("0 Ohm");
    NumText t = SiText(r, precision + 2, false);
    t.append("Ohm");
    return t;
}

void DrawRlcReadout(Canvas& c, const RlcDrawInputs& in, std::string_view edit11, std::string_view edit12,
                    std::string_view edit13, std::string_view edit15) {
    const Brush brush = c.brush;
    c.brush.style = BrushStyle::Clear;
    const int y = in.row;
    if (in.meterActive) {
        c.font.size = 36;
        c.font.color = in.overload ? in.mark1Trace : in.labels;
        c.textOut(8, y + 12, in.resistive ? edit12 : edit11);
        if (!in.resistive) {
            c.font.size = 18;
            c.font.color = in.labels;
            if (in.phase >= 88 || in.phase <= -85) {
                c.textOut(8, y + 68, edit15);
            } else {
                c.textOut(8, y + 68, edit12);
                c.textOut(8, y + 90, edit13);
            }
        }
    } else {
        c.font.size = 10;
        c.font.color = in.labels;
        LineText line;
        if (in.resistive) {
            line.append(edit12);
        } else if (in.phase >= 89 || in.phase <= -89) {
            line.append(edit11).append(edit15);
        } else {
            line.append(edit11).append(edit12).append(edit13);
        }
        c.textOut(8, y - 2, line);
    }
    c.font.size = 8;
    c.brush = brush;
}

}  // namespace miral::display
