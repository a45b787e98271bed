// SPDX-License-Identifier: GPL-3.0-or-later
// The instrument: the panel model, the instrument state, the preferences and
// every event handler of the main window. Toolkit-free; the Qt window and the
// headless runner drive it through the panel's user-action API and the timers.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analyzer_stage.h"
#include "analysis/distortion_analyzer.h"
#include "analysis/fft_engine.h"
#include "audio/capture_ring.h"
#include "audio/mixer.h"
#include "audio/playback_tables.h"
#include "audio/streams.h"
#include "core/bundles.h"
#include "core/calibration.h"
#include "core/card_floor.h"
#include "core/distortion_meter.h"
#include "core/generators.h"
#include "core/instrument_state.h"
#include "core/knobs.h"
#include "core/markers.h"
#include "core/panel.h"
#include "core/panel_readers.h"
#include "core/panel_storage.h"
#include "core/probe_table.h"
#include "core/rlc_meter.h"
#include "core/screen_export.h"
#include "core/spectrum_view.h"
#include "core/transfer_impedance.h"
#include "display/color_slots.h"
#include "display/markers.h"
#include "display/screen.h"
#include "display/spectrum_traces.h"
#include "display/tuner.h"
#include "generator/table_builder.h"
#include "storage/panel_store.h"
#include "storage/preferences.h"

namespace miral::storage {
class MatFile;
struct Bundle;
struct PrefsDat;
class RegistryKey;
}  // namespace miral::storage

namespace miral::core {

// The colour dialog, behind an interface so that tests can answer it.
class ColorChooser {
  public:
    virtual ~ColorChooser() = default;
    // Shows the dialog starting at `initial`; nothing when cancelled.
    virtual std::optional<display::Color> choose(display::Color initial) = 0;
};

// A yes/no question to the user (the reset key asks before it forgets the
// stored panel), behind an interface so that tests and headless runs can
// answer it.
class Question {
  public:
    virtual ~Question() = default;
    // True for "yes".
    virtual bool ask(std::string_view question) = 0;
};

// What the reset key asks.
inline constexpr const char* kForgetPanelQuestion = "Forget the stored panel and switch off?";

constexpr int kSchemeCount = 11;  // "DEFAULT" and "PERSONAL 1".."PERSONAL 10"
constexpr int kSchemeSlots = 20;  // slots 1..18 are used

// Colour slots by number (the swatch tags).
enum Slot : int {
    SlotBackground = 1,
    SlotFTrace = 2,
    SlotTTrace1 = 3,
    SlotTTrace2 = 4,
    SlotXfrGain = 5,
    SlotXfrPhase = 6,
    SlotXfrIn = 7,
    SlotTGrid = 8,
    SlotFGrid = 9,
    SlotFGrid0 = 10,
    SlotLabels = 11,
    SlotMark1Trace = 12,
    SlotMark2Trace = 13,
    SlotMarker1 = 14,
    SlotMarker2 = 15,
    SlotMarker3 = 16,
    SlotMarker4 = 17,
    SlotCanvas = 18,
};

// The designed colour of a slot (1..18).
display::Color designedColor(int slot);
// The swatch that holds a slot's colour (1..18).
Ctl swatchOf(int slot);

// The instrument: the panel, the state and the preferences, the audio side,
// the processing cycle and the start-up; each section of the front panel is
// a class of its own (below, with its file), and the handlers of a section
// forward to it.
class Instrument : public HandlerSink {
  public:
    Instrument();
    ~Instrument() override;
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    Panel panel;
    InstrumentState st;
    storage::Preferences prefs;

    // The audio side: the capture ring, the playback tables and the streams.
    audio::CaptureRing& ring() { return *ring_; }
    audio::PlaybackTables& tables() { return *tables_; }
    audio::AudioStreams& streams() { return *streams_; }
    // The sound card's mixer: the system's (ALSA) unless replaced; null
    // brings the system's back.
    audio::Mixer& mixer() { return *mixer_; }
    void setMixer(std::unique_ptr<audio::Mixer> mixer);
    // The mixer that belongs to the selected driver: the software card's own
    // with "sim" and "wav:FILE", the system's otherwise. Front ends call it
    // after streams().SelectDriver.
    void useMixerOfDriver();

    // One run of the processing cycle (what Timer1 runs, without the
    // exception guard); the housekeeping tick (what Timer7 runs).
    void processingCycle();
    void housekeepingTick();
    // What the last processing cycle found due but leaves to right after it,
    // as it opens a stream or writes a file: the RLC meter's test tone, the
    // loopback test's second level and its end. Whoever ticks Timer1 calls it
    // after each tick; a tick that comes without it runs it before its cycle.
    void afterCycle();
    std::uint64_t cycleCount() const { return cycles_; }  // processing cycles since the start

    // Folder of Prefs.ini, prefs.dat and the stored panel. `problem` says why
    // the folder cannot be used ("" when it can): then nothing is read at
    // power-on, the status line says so, and storing tries to make the
    // folder again and fails with that reason when it still cannot.
    void setConfigDir(std::filesystem::path dir, std::string problem = {}) {
        configDir_ = std::move(dir);
        configProblem_ = std::move(problem);
    }
    const std::filesystem::path& configDir() const { return configDir_; }

    // The front end's parts: the colour dialog, who answers the instrument's
    // questions (without one nothing is asked and the answer is "yes"), the
    // picture-save dialog and writer, and what runs when the program asks to
    // end (power button, reset button, a failed cycle).
    void setColorChooser(ColorChooser* chooser) { colorChooser_ = chooser; }
    void setQuestion(Question* question) { question_ = question; }
    using SaveDialog = core::SaveDialog;
    using PictureWriter = core::PictureWriter;
    void setSaveDialog(SaveDialog* dialog) { export_.setSaveDialog(dialog); }
    void setPictureWriter(PictureWriter* writer) { export_.setPictureWriter(writer); }
    void setTerminateHandler(std::function<void()> f) { onTerminate_ = std::move(f); }
    bool terminateRequested() const { return terminateRequested_; }

    // The off-screen drawing surface of the screen, created by the front end
    // at twice the size of PaintBox1 and attached before FormActivate (which
    // counts it as created). Each drawing cycle ends with one copy of its
    // active area onto PaintBox1's canvas.
    void setScreenBuffer(display::Canvas* buffer) { screenBuffer_ = buffer; }
    display::Canvas* screenBuffer() const { return screenBuffer_; }
    // This run's colour of every slot, as the screen draws it.
    const display::ColorSlots& colors() const { return colors_; }

    // ---- Start-up --------------------------------------------------------
    // The seed of the generators' noise, taken by FormCreate. Without one the
    // simulated bench and WAV cards use a fixed seed (their runs repeat bit
    // for bit) and real cards the clock.
    void setNoiseSeed(std::uint64_t seed) { noiseSeed_ = seed; }
    void FormCreate();
    void FormActivate();
    bool activated() const { return activated_; }
    // A bundle (NAME.miral) as the sound card, opened before FormActivate;
    // the bundle of this moment written (see Bundles).
    bool openBundle(const std::string& path, std::string* error) { return bundles_.openBundle(path, error); }
    bool bundleOpen() const { return bundles_.bundle() != nullptr; }
    bool saveBundle(const std::string& path, std::string* error) { return bundles_.saveBundle(path, error); }

    // ---- Programmatic operations (run by other handlers, never by a control) --
    void cambia_frequenzaClick();  // applies the time-base position
    void gostart();                // power-on restore, run by the first cycle

    // ---- Helpers used by handlers and front ends ---------------------------
    void drawKnob(Ctl knob, int v) { knobs_.drawKnob(knob, v); }      // pointer at v, v stored (knobs.h)
    bool knobInput(const UiEvent& e) { return knobs_.knobInput(e); }  // a knob's mouse-move turns it

    // Colour schemes: a slot's colour (1..18) as its swatch shows it now;
    // the first-run schemes (scheme 2 selected, all equal to the design).
    display::Color slotColor(int slot) const;
    int selectedScheme() const { return selectedScheme_; }
    display::Color schemeColor(int scheme, int slot) const { return schemes_[scheme][slot]; }
    void setSchemeColor(int scheme, int slot, display::Color c) { schemes_[scheme][slot] = c; }
    void setDefaultSchemes();

    void setDecimation(int d);     // the capture decimation (the capture callback reads it every frame)
    void enableBandKnobs();        // the band knobs that apply to the band-width knob's position
    void showSidePanel(int mode);  // the side area for a mode (0 settings pages, 1 tuner, 2 generators)
    // A number from an edit box or label text ("." decimal separator; empty
    // or non-numeric text reads as 0); an integer combo text with a fallback.
    double editNumber(Ctl c) const;
    int comboInt(Ctl c, int fallback) const;
    // A message of the store, the calibration, the export or a refused probe
    // entry, kept in the status line for a while (the housekeeping tick puts
    // it back after the stream status).
    void showStatusMessage(std::string message);
    void keepStatusMessage();

    // Value of a named control for printing (1/0, knob integer, text, item),
    // of a named scalar of the instrument state or a section; nothing when unknown.
    std::optional<std::string> printControl(std::string_view name) const;
    std::optional<std::string> printField(std::string_view name) const;
    // What the sections show to tests and front ends.
    const display::MarkerCapture& markerCapture(int m) const { return markers_.capture(m); }
    double phaseCurveRow(double phase) const { return transfer_.phaseCurveRow(phase); }
    int calibrationStep() const { return calibration_.step(); }
    std::optional<std::string> floorField(std::string_view name) const { return cardFloor_.floorField(name); }
    bool loopbackRunning() const { return cardFloor_.loopbackRunning(); }
    std::optional<std::string> distortionField(std::string_view n) const {
        return distortion_.distortionField(n);
    }
    const analysis::DistortionAnalyzer& distortionAnalyzer() const { return distortion_.analyzer(); }

    // ---- Event handlers ---------------------------------------------------
    void handle(Handler h, const UiEvent& e) override;
#define H(name) void name(const UiEvent& e = UiEvent{});
#include "core/handlers.inc"
#undef H

  private:
    // The sections (each works on this instrument's panel, state and parts).
    friend class Generators;
    friend class Markers;
    friend class TransferImpedance;
    friend class ProbeTable;
    friend class PanelStorage;
    friend class ScreenExport;
    friend class Bundles;
    friend class Calibration;
    friend class CardFloor;
    friend class RlcMeter;
    friend class DistortionMeter;
    friend class SpectrumView;
    Knobs knobs_{panel, st, *this};                 // knobs.cpp
    Generators generators_{panel, st, *this};       // generators.cpp
    Markers markers_{panel, st, *this};             // markers.cpp
    TransferImpedance transfer_{panel, st, *this};  // transfer_impedance.cpp
    ProbeTable probes_{panel, st, *this};           // probe_table.cpp
    PanelStorage storage_{panel, st, *this};        // panel_storage.cpp
    ScreenExport export_{panel, st, *this};         // screen_export.cpp
    Bundles bundles_{panel, st, *this};             // bundles.cpp
    Calibration calibration_{panel, st, *this};     // calibration.cpp
    CardFloor cardFloor_{panel, st, *this};         // card_floor.cpp
    RlcMeter rlc_{panel, st, *this};                // rlc_meter.cpp
    DistortionMeter distortion_{panel, st, *this};  // distortion_meter.cpp
    SpectrumView spectrum_{panel, st, *this};       // spectrum_view.cpp

    void requestTerminate();
    // Stages of the processing cycle (cycle.cpp).
    void updateGeometry();
    void updateBand();
    void scopeChannel(bool channelB);
    void updateGeneratorReadouts();
    void acquire();
    void noInput();          // the acquisition while the capture stream is lost: silence, bars at 0
    void afterCycleSteps();  // afterCycle without the exception guard
    // "No input: <reason> - retrying" (made again only when the reason changes).
    const std::string& noInputBanner();
    // The factor by which the acquisition undoes the recording level
    // (`input_bar`): the level's real gain below full scale where the mixer
    // reports it in dB, else the linear rule max / (position + 0.1). Asks the
    // mixer only when the line or the position changed.
    double inputLevelCorrection();
    void frequencyReadouts();  // RLC set-up, RLC and marker readouts, distortion (readouts.cpp)
    void present();
    // What the preferences say for the capture (or playback) stream.
    audio::StreamSettings streamSettings(bool capture) const;
    // Reads "ADC_Bits", "DAC_Bits" and their 24-bit rate limits, once: before
    // the power-on restore, which may open the playback stream, so that the
    // first open of either stream has the configured format.
    void readStreamFormats();
    void showSidePanelAtRestore(int mode);
    void setDefaultKnobs();

    std::unique_ptr<audio::CaptureRing> ring_;
    std::unique_ptr<audio::PlaybackTables> tables_;
    std::unique_ptr<audio::AudioStreams> streams_;
    std::unique_ptr<audio::Mixer> mixer_ = audio::MakeAlsaMixer();
    // The recording level's correction and the line and position it is for
    // (line -2: none worked out yet).
    struct InputLevelGain {
        int line = -2;
        int position = -1;
        double factor = 1.0;
    } inputLevelGain_;
    int acquiredWriteIndex_ = -1;  // the window in TimeWorkA / TimeWorkB
    double windowPeak_ = 0;        // this cycle's largest |input| of A and B, counts, before gain correction
    std::string banner_, bannerReason_;
    int phaseSmooth_ = 0;
    int penWidth_ = 1;
    display::ScreenInputs screenIn_;
    display::ScreenGeometry geo_;
    display::ColorSlots colors_;
    std::vector<display::Point> tracePoints_ = std::vector<display::Point>(65536);  // scope and pan traces
    std::string statusMessage_;
    int statusMessageTicks_ = 0;
    std::optional<std::uint64_t> noiseSeed_;

    std::uint64_t cycles_ = 0;
    std::filesystem::path configDir_ = ".";
    std::string configProblem_;  // why configDir_ cannot be used ("" when it can)
    ColorChooser* colorChooser_ = nullptr;
    Question* question_ = nullptr;
    display::Canvas* screenBuffer_ = nullptr;
    std::function<void()> onTerminate_;
    bool terminateRequested_ = false;
    bool created_ = false;
    bool activated_ = false;

    // Colour schemes: 11 x 20 slots, 0x00BBGGRR; the selected scheme index.
    std::array<std::array<display::Color, kSchemeSlots>, kSchemeCount> schemes_{};
    int selectedScheme_ = 2;
};

// What a generator's readout shows while its playback stream is lost.
inline constexpr const char* kGeneratorStopped = "STOPPED";

// Shortest decimal text of a number with up to 15 significant digits.
std::string shortestText(double v);

// A knob's value when there is no stored panel (nothing for the knobs that
// have none of their own: the enlarged screen's copies).
std::optional<int> defaultKnobValue(Ctl knob);

}  // namespace miral::core
