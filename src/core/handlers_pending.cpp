// Handlers whose behaviour is not built yet: bound by name, they do nothing.
#include "core/instrument.h"

namespace miral::core {

void Instrument::trasfClick(const UiEvent&) {}
void Instrument::zetaClick(const UiEvent&) {}
void Instrument::rlcmodeClick(const UiEvent&) {}
void Instrument::SpeedButton9Click(const UiEvent&) {}
void Instrument::Edit14Change(const UiEvent&) {}
void Instrument::Edit9Change(const UiEvent&) {}
void Instrument::Edit17Change(const UiEvent&) {}
void Instrument::Edit1Change(const UiEvent&) {}
void Instrument::Edit5Change(const UiEvent&) {}
void Instrument::Edit10Change(const UiEvent&) {}
void Instrument::Edit16Change(const UiEvent&) {}
void Instrument::ComboBox5Change(const UiEvent&) {}


}  // namespace miral::core

namespace miral::core {
// Parts of the frequency views that are not built yet: the transfer-function
// and impedance branches, the phase curve and the readouts on the traces.
void Instrument::transferBranch() {}
void Instrument::impedanceBranch() {}
void Instrument::impedanceDisplayUnits() {}
void Instrument::phaseCurve() {}
void Instrument::rlcSetup() {}
void Instrument::rlcReadout(int) {}
}  // namespace miral::core
