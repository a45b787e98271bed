// SPDX-License-Identifier: GPL-3.0-or-later
// What every section of the instrument (the markers, the device views, the
// store ...) works on: the panel, the instrument state, and the instrument
// it belongs to, for the screen and the handlers of other sections. Each
// section is a class that owns its own state; what it needs of the
// instrument's own parts and of the other sections it reaches through the
// accessors below (instrument_section.cpp).
#pragma once

#include <string>

#include "core/instrument_state.h"
#include "core/panel.h"

namespace miral::audio {
struct StreamSettings;
}

namespace miral::core {

class Instrument;
class Bundles;
class Calibration;
class CardFloor;
class ColorSchemes;
class DistortionMeter;
class Markers;
class PanelStorage;
class ProbeTable;
class ProcessingCycle;
class Question;
class RlcMeter;
class SpectrumView;
class TransferImpedance;

class InstrumentSection {
  public:
    InstrumentSection(Panel& panel, InstrumentState& st, Instrument& in) : panel_(panel), st_(st), in_(in) {}
    InstrumentSection(const InstrumentSection&) = delete;
    InstrumentSection& operator=(const InstrumentSection&) = delete;

  protected:
    ~InstrumentSection() = default;

    // The other sections.
    Bundles& bundles() const;
    Calibration& calibration() const;
    CardFloor& cardFloor() const;
    ColorSchemes& schemes() const;
    ProcessingCycle& cycle() const;
    DistortionMeter& distortion() const;
    Markers& markers() const;
    PanelStorage& panelStorage() const;
    ProbeTable& probes() const;
    RlcMeter& rlc() const;
    SpectrumView& spectrum() const;
    TransferImpedance& transferImpedance() const;

    // The instrument's own parts: who answers its questions (null: nobody
    // asked, the answer is "yes"), why the configuration folder cannot be
    // used ("" when it can), the end of the program, the streams' settings.
    Question* question() const;
    std::string& configProblem() const;
    void requestTerminate() const;
    audio::StreamSettings streamSettings(bool capture) const;
    void readStreamFormats() const;

    Panel& panel_;
    InstrumentState& st_;
    Instrument& in_;
};

}  // namespace miral::core
