// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/instrument_section.h"

#include "core/instrument.h"

namespace miral::core {

Bundles& InstrumentSection::bundles() const {
    return in_.bundles_;
}
Calibration& InstrumentSection::calibration() const {
    return in_.calibration_;
}
CardFloor& InstrumentSection::cardFloor() const {
    return in_.cardFloor_;
}
ColorSchemes& InstrumentSection::schemes() const {
    return in_.schemes_;
}
ProcessingCycle& InstrumentSection::cycle() const {
    return in_.cycle_;
}
DistortionMeter& InstrumentSection::distortion() const {
    return in_.distortion_;
}
Markers& InstrumentSection::markers() const {
    return in_.markers_;
}
PanelStorage& InstrumentSection::panelStorage() const {
    return in_.storage_;
}
ProbeTable& InstrumentSection::probes() const {
    return in_.probes_;
}
RlcMeter& InstrumentSection::rlc() const {
    return in_.rlc_;
}
SpectrumView& InstrumentSection::spectrum() const {
    return in_.spectrum_;
}
TransferImpedance& InstrumentSection::transferImpedance() const {
    return in_.transfer_;
}

Question* InstrumentSection::question() const {
    return in_.question_;
}
std::string& InstrumentSection::configProblem() const {
    return in_.configProblem_;
}
void InstrumentSection::requestTerminate() const {
    in_.requestTerminate();
}
audio::StreamSettings InstrumentSection::streamSettings(bool capture) const {
    return in_.streamSettings(capture);
}
void InstrumentSection::readStreamFormats() const {
    in_.readStreamFormats();
}

}  // namespace miral::core
