// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/distortion_meter.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/instrument.h"
#include "display/distortion_panel.h"
#include "storage/export.h"

namespace miral::core {

namespace {

// Volts r.m.s. per r.m.s. count, the calibration of the distortion readout
// on the display: a fundamental reads e^-2.58 x m millivolts, m being its
// bin's magnitude with the Hann window (gain 2.0071, coherent gain 0.5), and a
// sine of peak A counts on a bin has m = A / 2 x 0.5 x 2.0071. So 1 count
// r.m.s. = sqrt(2) x 0.5 x 0.5 x 2.0071 x e^-2.58 mV (full scale reads 1.246 V).
const double kVoltsPerCount = std::sqrt(2.0) * 0.25 * 2.0071 * std::exp(-2.58) * 1e-3;

std::string number(double v) {
    if (std::isnan(v)) return "nan";
    return shortestText(v);
}

}  // namespace

void DistortionMeter::distviewClick() {
    const bool on = panel_.down(Ctl::distview);
    panel_.setVisible(Ctl::pan3, on);
    // The side area must be inside the window to be seen.
    if (on) panel_.setFormSize(848, panel_.formHeight());
    distDrawn_ = false;
}

void DistortionMeter::prepareDistortionFonts() {
    display::Canvas* box = panel_.canvas(Ctl::PaintBox6);
    if (!box) return;
    for (const display::Font& f : display::kDistortionPanelFonts) box->prepareFont(f);
}

void DistortionMeter::distortionRestart() {
    // A bundle's capture arrives whole as its stream starts, from slot 0:
    // it is all new.
    distCountedIndex_ = bundles().bundle() ? 0 : in_.ring().VisibleWriteIndex();
    distCaptured_ = 0;
    distAnalyzer_.Clear();
    distN_ = 0;
    distDrawn_ = false;
}

void DistortionMeter::distortionStage() {
    const int n = std::clamp(st_.FftSize, 0, kMaxWindow);
    // The spectrum's window pass weights the spectra for the analyzer too.
    if (!sharesSpectrumPass_) {
        distAnalyzer_.ShareSpectrumPass(spectrum().engine());
        sharesSpectrumPass_ = true;
    }
    // Count the samples captured since the capture started: until they fill
    // a window, the window still holds the ring's older content (silence, or
    // another rate's samples), which is no measurement and would linger in
    // the average.
    if (cycle().acquiredWriteIndex() >= 0 && cycle().acquiredWriteIndex() != distCountedIndex_) {
        const int size = audio::CaptureRing::kSize;
        const int from = distCountedIndex_ < 0 ? 0 : distCountedIndex_;
        distCaptured_ =
            std::min(distCaptured_ + ((cycle().acquiredWriteIndex() - from) % size + size) % size, size);
        distCountedIndex_ = cycle().acquiredWriteIndex();
    }
    if (distCaptured_ < n) {
        if (distAnalyzer_.figures(0).status != analysis::DistStatus::Off) {
            distAnalyzer_.Clear();
            distDrawn_ = false;
        }
        drawDistortionPanel();
        return;
    }
    analysis::DistSettings s;
    s.binWidth = st_.BinWidth;
    // The band: what the boxes say, the top never above 0.45 x the rate; an
    // empty or unreadable box gives the default (20 Hz, 20 kHz).
    const double rateHz = st_.BinWidth * n;
    const double top = 0.45 * rateHz;
    double high = in_.editNumber(Ctl::disthigh);
    if (!std::isfinite(high) || high <= 0) high = 20000;
    double low = in_.editNumber(Ctl::distlow);
    if (!std::isfinite(low) || low < 0) low = 20;
    s.bandHigh = std::min(high, top);
    s.bandLow = std::min(low, s.bandHigh);
    const double averages = in_.editNumber(Ctl::distavg);
    s.averages = std::isfinite(averages) ? static_cast<int>(std::clamp(averages, 1.0, 100.0)) : 1;
    s.voltsPerCount = kVoltsPerCount;
    // A new window, or new settings: measure again. The same window twice
    // (no samples arrived since) would only weigh it double in the average.
    const bool fresh = cycle().acquiredWriteIndex() != distWriteIndex_;
    const bool changed = n != distN_ || s.binWidth != distSettings_.binWidth ||
                         s.bandLow != distSettings_.bandLow || s.bandHigh != distSettings_.bandHigh ||
                         s.averages != distSettings_.averages;
    if (fresh || changed) {
        // The display's transform of this window serves the analyzer too.
        distAnalyzer_.AnalyzeSpectra(spectrum().engine(), static_cast<std::size_t>(n), s);
        distWriteIndex_ = cycle().acquiredWriteIndex();
        distN_ = n;
        distSettings_ = s;
        distDrawn_ = false;
        cardFloor().floorStage();
    }
    // A figure within 3 dB of the card's stored floor is the card's.
    bool atFloor = false;
    if (cardFloor().floor().valid && !cardFloor().loopbackRunning()) {
        for (std::size_t ch = 0; ch < (channelMode(panel_) == ChannelMode::A ? 1u : 2u); ++ch) {
            const analysis::DistFigures& f = distAnalyzer_.figures(static_cast<int>(ch));
            if (f.status == analysis::DistStatus::Ok &&
                (cardFloor().figureAtFloor(f.thdDb, cardFloor().floor().thdDb[ch]) ||
                 cardFloor().figureAtFloor(f.thdNDb, cardFloor().floor().thdNDb[ch])))
                atFloor = true;
        }
    }
    if (atFloor != analyzerAtFloor_) {
        analyzerAtFloor_ = atFloor;
        distDrawn_ = false;
    }
    drawDistortionPanel();
}

void DistortionMeter::distortionIdle() {
    // The time view holds fewer samples than a measurement needs: no figures
    // rather than old ones.
    analyzerAtFloor_ = false;
    if (distAnalyzer_.figures(0).status != analysis::DistStatus::Off || distN_ != 0) {
        distAnalyzer_.Clear();
        distN_ = 0;
        distDrawn_ = false;
    }
    drawDistortionPanel();
}

void DistortionMeter::drawDistortionPanel() {
    if (distDrawn_ || !panel_.visible(Ctl::pan3)) return;
    display::Canvas* box = panel_.canvas(Ctl::PaintBox6);
    if (!box) return;
    display::DistortionPanelInputs in;
    in.timeView = activeView(panel_) == View::Time;
    in.a = &distAnalyzer_.figures(0);
    in.b = channelMode(panel_) == ChannelMode::A ? nullptr : &distAnalyzer_.figures(1);
    in.averages = distSettings_.averages;
    const bool marks = cardFloor().floor().valid && !cardFloor().loopbackRunning();
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const analysis::DistFigures& f = distAnalyzer_.figures(static_cast<int>(ch));
        in.thdAtFloor[ch] = marks && f.status == analysis::DistStatus::Ok &&
                            cardFloor().figureAtFloor(f.thdDb, cardFloor().floor().thdDb[ch]);
        in.thdNAtFloor[ch] = marks && f.status == analysis::DistStatus::Ok &&
                             cardFloor().figureAtFloor(f.thdNDb, cardFloor().floor().thdNDb[ch]);
    }
    in.background = in_.colors()[display::Slot::Canvas];
    in.text = in_.colors()[display::Slot::Labels];
    in.traceA = in_.colors()[display::Slot::FTrace];
    in.traceB = in_.colors()[display::Slot::XfrIn];
    in.grid = in_.colors()[display::Slot::FGrid];
    const ControlState& s = panel_.state(Ctl::PaintBox6);
    display::DrawDistortionPanel(*box, s.width, s.height, in);
    panel_.bump(Ctl::PaintBox6);
    distDrawn_ = true;
}

namespace {

// A figure by its print name without "Dist" / "DistB".
std::optional<double> figureValue(const analysis::DistFigures& f, std::string_view name) {
    if (name == "F0") return f.f0;
    if (name == "LevelDbfs") return f.levelDbfs;
    if (name == "LevelV") return f.levelVolts;
    if (name == "ThdDb") return f.thdDb;
    if (name == "ThdPct") return f.thd * 100;
    if (name == "ThdNDb") return f.thdNDb;
    if (name == "ThdNPct") return f.thdN * 100;
    if (name == "SinadDb") return f.sinadDb;
    if (name == "SnrDb") return f.snrDb;
    if (name == "Enob") return f.enob;
    if (name == "GuardHz") return f.guardHz;
    if (name == "BandLow") return f.bandLowHz;
    if (name == "BandHigh") return f.bandHighHz;
    if (name.size() >= 4 && name[0] == 'H' && name.substr(name.size() - 2) == "Db") {
        const std::string_view digits = name.substr(1, name.size() - 3);
        for (int h = 2; h <= analysis::kDistHighestHarmonic; ++h)
            if (digits == std::to_string(h)) return f.harmonicDbc[static_cast<std::size_t>(h)];
    }
    return std::nullopt;
}

constexpr const char* kMatFigures[] = {
    "F0",   "LevelDbfs", "LevelV", "ThdDb", "ThdPct", "ThdNDb", "ThdNPct", "SinadDb", "SnrDb", "Enob",
    "H2Db", "H3Db",      "H4Db",   "H5Db",  "H6Db",   "H7Db",   "H8Db",    "H9Db",    "H10Db"};

}  // namespace

std::optional<std::string> DistortionMeter::distortionField(std::string_view name) const {
    if (name.substr(0, 4) != "Dist") return std::nullopt;
    std::string_view rest = name.substr(4);
    int channel = 0;
    // "DistB..." is channel B ("DistBandLow" and "DistBandHigh" are not).
    if (rest.substr(0, 1) == "B" && rest.substr(0, 4) != "Band") {
        channel = 1;
        rest = rest.substr(1);
    }
    const analysis::DistFigures& f = distAnalyzer_.figures(channel);
    if (rest == "Status") return std::string(analysis::DistStatusText(f.status));
    if (rest == "Averaged") return std::to_string(f.averaged);
    if (rest == "AtFloor") return std::string(analyzerAtFloor_ || markers().readoutAtFloor() ? "1" : "0");
    if (auto v = figureValue(f, rest)) return number(*v);
    return std::nullopt;
}

void DistortionMeter::addDistortionVariables(storage::MatFile& mat) const {
    const bool withB = channelMode(panel_) != ChannelMode::A;
    for (int channel = 0; channel < (withB ? 2 : 1); ++channel) {
        // "DistA..." and "DistB...": no name comes out 8 or 16 characters
        // long, which the MAT layout pads with 8 zero bytes more than its
        // readers skip.
        const std::string prefix = channel ? "DistB" : "DistA";
        for (const char* name : kMatFigures) {
            const double v = *figureValue(distAnalyzer_.figures(channel), name);
            mat.addDoubles(prefix + name, &v, 1);
        }
    }
}

// ---- The instrument's handlers ---------------------------------------------------------

void Instrument::distviewClick(const UiEvent&) {
    distortion_.distviewClick();
}

}  // namespace miral::core
