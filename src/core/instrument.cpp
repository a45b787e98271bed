// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/instrument.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>

#include "core/twins.h"
#include "display/number_text.h"
#include "storage/bundle.h"
#include "storage/preferences.h"

namespace miral::core {

using display::Color;

namespace {

// How long a message stays in the status line (housekeeping ticks).
constexpr int kMessageTicks = 300;

}  // namespace

std::string shortestText(double v) {
    return display::ShortestText(v).str();
}

Instrument::Instrument()
    : ring_(std::make_unique<audio::CaptureRing>()),
      tables_(std::make_unique<audio::PlaybackTables>()),
      streams_(std::make_unique<audio::AudioStreams>(*ring_, *tables_)) {
    panel.setSink(this);
    schemes_.setDefaultSchemes();
    for (int slot = 1; slot <= 18; ++slot) panel.setColor(swatchOf(slot), designedColor(slot));
}

Instrument::~Instrument() {
    panel.setSink(nullptr);
    streams_.reset();  // streams end before the ring and tables they feed
}

void Instrument::handle(Handler h, const UiEvent& e) {
    // A compact copy on the enlarged screen's strip acts on the control it
    // copies before the shared handler runs, so that e.g. "T" on the strip
    // sets the time view up at once (the housekeeping tick would only copy
    // the button's state later, without the view's set-up).
    if (e.type == Event::Click) {
        for (const Twin& t : kTwinButtons) {
            if (t.copy == e.sender) {
                panel.setDown(t.main, panel.down(t.copy));
                break;
            }
        }
    }
    switch (h) {
#define H(name)         \
    case Handler::name: \
        name(e);        \
        break;
#include "core/handlers.inc"
#undef H
        case Handler::None:
        case Handler::Count:
            break;
    }
}

void Instrument::requestTerminate() {
    terminateRequested_ = true;
    if (onTerminate_) onTerminate_();
}

// ---- Start-up ------------------------------------------------------------

void Instrument::FormCreate() {
    // The generators' noise: the seed given, else a fixed one where the
    // input is the program's own (the simulated bench, a WAV file), so that
    // those runs repeat bit for bit, else the time.
    if (noiseSeed_) {
        generators_.state().noiseState = *noiseSeed_;
    } else if (streams_->RepeatableInput()) {
        generators_.state().noiseState = generator::kFixedNoiseSeed;
    } else {
        generators_.state().noiseState = static_cast<std::uint64_t>(std::time(nullptr));
    }
    // Side panels: all at the right of the front panel, hidden until a mode
    // shows one of them.
    for (Ctl c : {Ctl::pan1, Ctl::pan2a, Ctl::pan2b, Ctl::PageControl1}) {
        const ControlState& s = panel.state(c);
        panel.setBounds(c, 672, c == Ctl::pan2b ? 408 : 4, s.width, s.height);
    }
    panel.setVisible(Ctl::pan1, false);
    panel.setVisible(Ctl::pan2a, false);
    panel.setVisible(Ctl::pan2b, false);
    panel.setFormSize(848, 722);
    // Working arrays for the life of the program.
    st.TimeWorkA.assign(kMaxWindow, 0.0);
    st.TimeWorkB.assign(kMaxWindow, 0.0);
    for (auto* a : {&st.SpectrumWorkReA, &st.SpectrumWorkImA, &st.SpectrumWorkReB, &st.SpectrumWorkImB})
        a->assign(kSpectrumLen, 0.0);
    for (auto* a : {&st.DisplayA, &st.DisplayB, &st.DisplayPhase, &st.PeakSearchA})
        a->assign(kMaxWindow, 0.0);
    // The transform's tables for every size the frequency views and the
    // distortion analyzer use (65536 points down to 2048), made here once
    // rather than when a size is first chosen: what the program holds stays
    // the same from the start.
    for (std::size_t n = 65536; n >= 2048; n /= 2) {
        spectrum_.engine().Prepare(n, analysis::WindowKind::Rectangular);
        distortion_.analyzer().Prepare(n);
    }
    created_ = true;
}

void Instrument::FormActivate() {
    if (activated_) return;  // the activation steps are needed once, when the window is first shown
    if (!created_) FormCreate();
    // Preferences.
    // A file that is there but cannot be read (a folder, a FIFO, an I/O
    // error) gives the defaults, and the status line says why.
    if (!configProblem_.empty() && !bundles_.bundle()) {
        // Nothing is read from a folder that is not there, and nothing is
        // stored in another one; the user is told at once.
        prefs.clear();
        showStatusMessage(configProblem_);
    } else if (bundles_.bundle()) {
        prefs.loadFromText(
            bundles_.bundle()->preferences);  // the preferences in force when the bundle was saved
    } else if (!prefs.load(configDir_ / "Prefs.ini") && !prefs.missing()) {
        showStatusMessage(prefs.loadError() + "; the defaults are used instead");
    }
    // Values that make no sense take their defaults; the status line says which.
    if (!prefs.rangeMessage().empty()) showStatusMessage(prefs.rangeMessage());
    // Numbers are read and written with "." everywhere: our conversions do
    // not depend on the locale.
    // Probe names.
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) names.push_back(prefs.readText("Probe" + std::to_string(i + 1)));
    int sel = panel.itemIndex(Ctl::ComboBox5);
    panel.setItems(Ctl::ComboBox5, std::move(names));
    panel.setItemIndex(Ctl::ComboBox5, sel);
    // Square-wave rate adjustment of the generators.
    st.FreqVar = prefs.readInt("Freq_Var");
    // Plot size from the screen.
    st.PlotWidth = panel.state(Ctl::PaintBox1).width;
    st.PlotHeight = panel.state(Ctl::PaintBox1).height;
    // Clear the time windows.
    std::fill(st.TimeWorkA.begin(), st.TimeWorkA.end(), 0.0);
    std::fill(st.TimeWorkB.begin(), st.TimeWorkB.end(), 0.0);
    st.DisplayPrimed = false;
    // Generator panels.
    panel.setVisible(Ctl::pan2a, true);
    panel.setVisible(Ctl::pan2b, true);
    // Knob faces; the screen's fonts are made ready for the cycles.
    knobs_.drawKnobFaces();
    if (screenBuffer_) {
        display::Font f;
        for (int size : display::kScreenFontSizes) {
            f.size = size;
            screenBuffer_->prepareFont(f);
        }
    }
    distortion_.prepareDistortionFonts();
    // The processing cycle starts.
    panel.setEnabled(Ctl::Timer1, true);
    // The mixer.
    mixerstartClick();
    activated_ = true;
}

// ---- Helpers ---------------------------------------------------------------

void Instrument::setConfigDir(std::filesystem::path dir, std::string problem) {
    configDir_ = std::move(dir);
    configProblem_ = std::move(problem);
}

double Instrument::editNumber(Ctl c) const {
    auto v = storage::parseReal(panel.text(c));
    return v ? *v : 0.0;
}

int Instrument::comboInt(Ctl c, int fallback) const {
    auto v = storage::parseInteger(panel.text(c));
    if (!v || *v < -2147483647LL || *v > 2147483647LL) return fallback;
    return static_cast<int>(*v);
}

// ---- Printing ----------------------------------------------------------------

std::optional<std::string> Instrument::printControl(std::string_view name) const {
    Ctl c = findControl(name);
    if (c == Ctl::Count) return std::nullopt;
    const ControlDef& d = panel.def(c);
    const ControlState& s = panel.state(c);
    switch (d.kind) {
        case Kind::Latch:
        case Kind::Check:
        case Kind::Radio:
            return std::string(s.down ? "1" : "0");
        case Kind::Knob:
            return std::to_string(s.tag);
        case Kind::Edit:
            return s.text;
        case Kind::Combo:
            return s.itemIndex >= 0 ? panel.itemText(c) : s.text;
        case Kind::TrackBar:
        case Kind::ProgressBar:
            return std::to_string(s.position);
        case Kind::Timer:
            return std::string(s.enabled ? "1" : "0");
        case Kind::PageControl:
            return std::to_string(s.position);
        default:
            return s.caption;
    }
}

std::optional<std::string> Instrument::printField(std::string_view name) const {
    using Getter = std::function<std::string(const Instrument&)>;
    auto i = [](auto member) {
        return Getter([member](const Instrument& in) { return std::to_string(in.st.*member); });
    };
    auto d = [](auto member) {
        return Getter([member](const Instrument& in) { return shortestText(in.st.*member); });
    };
    auto b = [](auto member) {
        return Getter([member](const Instrument& in) { return std::string(in.st.*member ? "1" : "0"); });
    };
    static const std::map<std::string, Getter, std::less<>> fields = {
        {"AdcRate", i(&InstrumentState::AdcRate)},
        {"DacRate", i(&InstrumentState::DacRate)},
        {"AnalysisRate", i(&InstrumentState::AnalysisRate)},
        {"TimeBaseRate", i(&InstrumentState::TimeBaseRate)},
        {"CaptureRate", i(&InstrumentState::CaptureRate)},
        {"Decimation", i(&InstrumentState::Decimation)},
        {"TimeWindow", i(&InstrumentState::TimeWindow)},
        {"HorizontalScale", d(&InstrumentState::HorizontalScale)},
        {"FftDivider", i(&InstrumentState::FftDivider)},
        {"FftSize", i(&InstrumentState::FftSize)},
        {"FreqCorr", d(&InstrumentState::FreqCorr)},
        {"BinWidth", d(&InstrumentState::BinWidth)},
        {"BaseRate", d(&InstrumentState::BaseRate)},
        {"BaseScale", d(&InstrumentState::BaseScale)},
        {"RateMultiplier", d(&InstrumentState::RateMultiplier)},
        {"TimeBaseStep", i(&InstrumentState::TimeBaseStep)},
        {"RestoreOnFirstTick", b(&InstrumentState::RestoreOnFirstTick)},
        {"InputRestartPending", b(&InstrumentState::InputRestartPending)},
        {"FreshCapture", b(&InstrumentState::FreshCapture)},
        {"SettleCount", i(&InstrumentState::SettleCount)},
        {"LfRestartCount", i(&InstrumentState::LfRestartCount)},
        {"SidePanelMode", i(&InstrumentState::SidePanelMode)},
        {"EnlargedScreen", b(&InstrumentState::EnlargedScreen)},
        {"DisplayPrimed", b(&InstrumentState::DisplayPrimed)},
        {"PeakA", d(&InstrumentState::PeakA)},
        {"PeakB", d(&InstrumentState::PeakB)},
        {"RightMargin", i(&InstrumentState::RightMargin)},
        {"BottomMargin", i(&InstrumentState::BottomMargin)},
        {"PlotWidth", i(&InstrumentState::PlotWidth)},
        {"PlotHeight", i(&InstrumentState::PlotHeight)},
        {"MagScale", i(&InstrumentState::MagScale)},
        {"Ratio1", d(&InstrumentState::Ratio1)},
        {"Ratio2", d(&InstrumentState::Ratio2)},
        {"FMin", d(&InstrumentState::FMin)},
        {"FMax", d(&InstrumentState::FMax)},
        {"FCenter", d(&InstrumentState::FCenter)},
        {"CenterHeld", b(&InstrumentState::CenterHeld)},
        {"RetuneKnobs", b(&InstrumentState::RetuneKnobs)},
        {"ModulationMode", i(&InstrumentState::ModulationMode)},
        {"MainFrequency", d(&InstrumentState::MainFrequency)},
        {"AuxFrequency", d(&InstrumentState::AuxFrequency)},
        {"FreqVar", i(&InstrumentState::FreqVar)},
        {"MeasuredFrequency", d(&InstrumentState::MeasuredFrequency)},
        {"FundamentalBin",
         Getter([](const Instrument& in) { return std::to_string(in.spectrum_.fundamentalBin()); })},
        // The frequency meter's reading, Hz (between bins; what the whole-hertz readout rounds).
        {"TunerHz", Getter([](const Instrument& in) { return shortestText(in.spectrum_.fundamentalHz()); })},
        {"TriggerIndex", i(&InstrumentState::TriggerIndex)},
        {"PretriggerSamples", i(&InstrumentState::PretriggerSamples)},
        {"TriggerFound", b(&InstrumentState::TriggerFound)},
        {"SingleShotArmed", b(&InstrumentState::SingleShotArmed)},
        {"PlotSpan", i(&InstrumentState::PlotSpan)},
        {"UpperTop", i(&InstrumentState::UpperTop)},
        {"UpperBottom", i(&InstrumentState::UpperBottom)},
        {"LowerTop", i(&InstrumentState::LowerTop)},
        {"LowerBottom", i(&InstrumentState::LowerBottom)},
        {"ZeroRowA", i(&InstrumentState::ZeroRowA)},
        {"ZeroRowB", i(&InstrumentState::ZeroRowB)},
        {"ScaleA", d(&InstrumentState::ScaleA)},
        {"ScaleB", d(&InstrumentState::ScaleB)},
        {"RowUnit", d(&InstrumentState::RowUnit)},
        {"ColumnUnit", d(&InstrumentState::ColumnUnit)},
        {"WindowWidth", Getter([](const Instrument& in) { return std::to_string(in.panel.formWidth()); })},
        {"WindowHeight", Getter([](const Instrument& in) { return std::to_string(in.panel.formHeight()); })},
        {"StatusText", Getter([](const Instrument& in) { return in.st.StatusText; })},
        {"WriteIndex",
         Getter([](const Instrument& in) { return std::to_string(in.ring_->VisibleWriteIndex()); })},
        {"PlaybackLength",
         Getter([](const Instrument& in) { return std::to_string(in.tables_->PlaybackLength.load()); })},
        {"ReadIndex",
         Getter([](const Instrument& in) { return std::to_string(in.tables_->ReadIndex.load()); })},
        {"AudioDriver", Getter([](const Instrument& in) { return in.streams_->DriverName(); })},
        {"InputLost",
         Getter([](const Instrument& in) { return std::string(in.streams_->CaptureLost() ? "1" : "0"); })},
        {"OutputLost",
         Getter([](const Instrument& in) { return std::string(in.streams_->PlaybackLost() ? "1" : "0"); })},
    };
    if (auto v = distortion_.distortionField(name)) return v;
    if (auto v = cardFloor_.floorField(name)) return v;
    auto it = fields.find(name);
    if (it == fields.end()) return std::nullopt;
    return it->second(*this);
}

// ---- Status line ------------------------------------------------------------------

void Instrument::showStatusMessage(std::string message) {
    // The messages of the power-on (a damaged store and a damaged prefs.dat)
    // are shown together; later an older message gives way to a newer one.
    if (st.RestoreOnFirstTick && statusMessageTicks_ > 0 && !statusMessage_.empty()) {
        statusMessage_ += "  " + message;
    } else {
        statusMessage_ = std::move(message);
    }
    statusMessageTicks_ = kMessageTicks;
    st.StatusText = streams_->StatusText();
    st.StreamStatus = st.StatusText;
    keepStatusMessage();
}

void Instrument::keepStatusMessage() {
    if (statusMessage_.empty()) return;
    if (statusMessageTicks_ <= 0) {
        statusMessage_.clear();
        return;
    }
    --statusMessageTicks_;
    if (!st.StatusText.empty()) st.StatusText += "  ";
    st.StatusText += statusMessage_;
}

}  // namespace miral::core
