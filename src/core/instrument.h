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
#include "core/color_schemes.h"
#include "core/distortion_meter.h"
#include "core/generators.h"
#include "core/instrument_state.h"
#include "core/knobs.h"
#include "core/markers.h"
#include "core/panel.h"
#include "core/panel_readers.h"
#include "core/panel_storage.h"
#include "core/probe_table.h"
#include "core/processing_cycle.h"
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

    // The audio side: the capture ring, the playback tables, the streams and
    // the card's mixer (the system's unless replaced; null brings it back).
    audio::CaptureRing& ring() { return *ring_; }
    audio::PlaybackTables& tables() { return *tables_; }
    audio::AudioStreams& streams() { return *streams_; }
    audio::Mixer& mixer() { return *mixer_; }
    void setMixer(std::unique_ptr<audio::Mixer> mixer);
    // The mixer of the selected driver: the software card's own with "sim"
    // and "wav:FILE", else the system's (front ends call it after SelectDriver).
    void useMixerOfDriver();

    // One processing cycle (Timer1 without its exception guard); the housekeeping tick (Timer7).
    void processingCycle();
    void housekeepingTick();
    // What the last cycle left due as it opens a stream or writes a file (the
    // RLC test tone, the loopback test's steps): whoever ticks Timer1 calls it
    // after each tick; a tick that comes without it runs it before its cycle.
    void afterCycle();
    std::uint64_t cycleCount() const { return cycles_; }  // processing cycles since the start

    // Folder of Prefs.ini, prefs.dat and the stored panel. `problem` says why
    // it cannot be used ("" when it can): nothing is read at power-on, the
    // status line says so, and storing tries to make it again.
    void setConfigDir(std::filesystem::path dir, std::string problem = {});
    const std::filesystem::path& configDir() const { return configDir_; }

    // The front end's parts: the colour dialog, who answers questions (none:
    // nothing is asked, the answer is "yes"), the picture-save dialog and
    // writer, what runs when the program asks to end (power, reset, a failed cycle).
    void setColorChooser(ColorChooser* chooser) { schemes_.setColorChooser(chooser); }
    void setQuestion(Question* question) { question_ = question; }
    using SaveDialog = core::SaveDialog;
    using PictureWriter = core::PictureWriter;
    void setSaveDialog(SaveDialog* dialog) { export_.setSaveDialog(dialog); }
    void setPictureWriter(PictureWriter* writer) { export_.setPictureWriter(writer); }
    void setTerminateHandler(std::function<void()> f) { onTerminate_ = std::move(f); }
    bool terminateRequested() const { return terminateRequested_; }

    // The screen's off-screen surface (twice PaintBox1's size), attached by the
    // front end before FormActivate; each frame ends shown on PaintBox1.
    void setScreenBuffer(display::Canvas* buffer) { screenBuffer_ = buffer; }
    display::Canvas* screenBuffer() const { return screenBuffer_; }
    // This run's colour of every slot, as the screen draws it.
    const display::ColorSlots& colors() const { return cycle_.colors(); }

    // ---- Start-up --------------------------------------------------------
    // The generators' noise seed for FormCreate (else: fixed for simulated and WAV cards, the clock).
    void setNoiseSeed(std::uint64_t seed) { noiseSeed_ = seed; }
    void FormCreate();
    void FormActivate();
    bool activated() const { return activated_; }
    // A bundle (NAME.miral) as the sound card, opened before FormActivate; one written now.
    bool openBundle(const std::string& path, std::string* error) { return bundles_.openBundle(path, error); }
    bool bundleOpen() const { return bundles_.bundle() != nullptr; }
    bool saveBundle(const std::string& path, std::string* error) { return bundles_.saveBundle(path, error); }

    // ---- Helpers used by handlers and front ends ---------------------------
    void cambia_frequenzaClick();  // applies the time-base position (never bound to a control)
    void gostart();                // power-on restore, run by the first cycle
    void drawKnob(Ctl knob, int v) { knobs_.drawKnob(knob, v); }      // pointer at v, v stored (knobs.h)
    bool knobInput(const UiEvent& e) { return knobs_.knobInput(e); }  // a knob's mouse-move turns it
    // The colour schemes (color_schemes.h).
    display::Color slotColor(int slot) const { return schemes_.slotColor(slot); }
    int selectedScheme() const { return schemes_.selectedScheme(); }
    display::Color schemeColor(int scheme, int slot) const { return schemes_.schemeColor(scheme, slot); }
    void setSchemeColor(int scheme, int slot, display::Color c) { schemes_.setSchemeColor(scheme, slot, c); }

    void setDecimation(int d);     // the capture decimation (the capture callback reads it every frame)
    void enableBandKnobs();        // the band knobs that apply to the band-width knob's position
    void showSidePanel(int mode);  // the side area for a mode (0 settings pages, 1 tuner, 2 generators)
    // An edit box's or label's number ("." decimal separator; no number reads
    // as 0); an integer combo text with a fallback.
    double editNumber(Ctl c) const;
    int comboInt(Ctl c, int fallback) const;
    // The sample-clock correction stored for a capture rate ("Freq_Corr_<rate>"), 1 when none is.
    double clockCorrection(int rate) const;
    // A card that runs at one rate only (a JACK server): the capture and
    // playback rates are its rate, the rate boxes show it and cannot be
    // changed. Back on a card that takes any rate, the boxes show the user's
    // choice again.
    void applyFixedRate();
    // A message (store, calibration, export, refused entry) kept in the status
    // line for a while, put back after the stream status by the housekeeping tick.
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
    bool loopbackRunning() const { return cardFloor_.loopbackRunning(); }

    // ---- Event handlers ---------------------------------------------------
    void handle(Handler h, const UiEvent& e) override;
#define H(name) void name(const UiEvent& e = UiEvent{});
#include "core/handlers.inc"
#undef H

  private:
    // The sections; each reaches the instrument's parts through its accessors.
    friend class InstrumentSection;
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
    ColorSchemes schemes_{panel, st, *this};        // color_schemes.cpp
    ProcessingCycle cycle_{panel, st, *this};       // processing_cycle.cpp

    void requestTerminate();
    void afterCycleSteps();  // afterCycle without the exception guard (cycle.cpp)
    audio::StreamSettings streamSettings(bool capture) const;
    void readStreamFormats();
    void showSidePanelAtRestore(int mode);
    void setDefaultKnobs();

    std::unique_ptr<audio::CaptureRing> ring_;
    std::unique_ptr<audio::PlaybackTables> tables_;
    std::unique_ptr<audio::AudioStreams> streams_;
    std::unique_ptr<audio::Mixer> mixer_ = audio::MakeAlsaMixer();
    std::string statusMessage_;
    int statusMessageTicks_ = 0;
    std::optional<std::uint64_t> noiseSeed_;
    std::uint64_t cycles_ = 0;
    std::filesystem::path configDir_ = ".";
    std::string configProblem_;  // why configDir_ cannot be used ("" when it can)
    Question* question_ = nullptr;
    display::Canvas* screenBuffer_ = nullptr;
    std::function<void()> onTerminate_;
    bool terminateRequested_ = false;
    bool created_ = false;
    bool activated_ = false;
};

// What a generator's readout shows while its playback stream is lost.
inline constexpr const char* kGeneratorStopped = "STOPPED";

// Shortest decimal text of a number with up to 15 significant digits.
std::string shortestText(double v);

// A knob's value when there is no stored panel (nothing for the knobs that
// have none of their own: the enlarged screen's copies).
std::optional<int> defaultKnobValue(Ctl knob);

}  // namespace miral::core
