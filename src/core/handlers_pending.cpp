// Handlers whose behaviour is not built yet: bound by name, they do nothing.
#include "core/instrument.h"

namespace miral::core {

void Instrument::TempoClick(const UiEvent&) {}
void Instrument::trasfClick(const UiEvent&) {}
void Instrument::zetaClick(const UiEvent&) {}
void Instrument::Label135Click(const UiEvent&) {}
void Instrument::Label139Click(const UiEvent&) {}
void Instrument::trigreset_Click(const UiEvent&) {}
void Instrument::trigres(const UiEvent&) {}
void Instrument::Inv1Click(const UiEvent&) {}
void Instrument::modeaClick(const UiEvent&) {}
void Instrument::panviewClick(const UiEvent&) {}
void Instrument::ylogClick(const UiEvent&) {}
void Instrument::vedifreqClick(const UiEvent&) {}
void Instrument::PaintBox1MouseDown(const UiEvent&) {}
void Instrument::PaintBox1MouseMove(const UiEvent&) {}
void Instrument::PaintBox1MouseUp(const UiEvent&) {}
void Instrument::mark1xMouseDown(const UiEvent&) {}
void Instrument::mark1xMouseMove(const UiEvent&) {}
void Instrument::markerviewClick(const UiEvent&) {}
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
void Instrument::card_boxChange(const UiEvent&) {}
void Instrument::output_boxChange(const UiEvent&) {}
void Instrument::input_boxChange(const UiEvent&) {}
void Instrument::output_barChange(const UiEvent&) {}
void Instrument::input_barChange(const UiEvent&) {}
void Instrument::master_barChange(const UiEvent&) {}
void Instrument::mixerstartClick(const UiEvent&) {}
void Instrument::savescreenClick(const UiEvent&) {}
void Instrument::SpeedButton19Click(const UiEvent&) {}
void Instrument::Panel29Click(const UiEvent&) {}
void Instrument::SpeedButton22Click(const UiEvent&) {}
void Instrument::salvaClick(const UiEvent&) {}
void Instrument::ripristinaClick(const UiEvent&) {}
void Instrument::Timer10Timer(const UiEvent&) {}

void Instrument::cambia_frequenzaClick() {}

}  // namespace miral::core
