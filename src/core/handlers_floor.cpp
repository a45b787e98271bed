// The card's own floor: the loopback test and the "~floor" marks.
#include "core/instrument.h"

namespace miral::core {

void Instrument::loopback_testClick(const UiEvent&) {}

}  // namespace miral::core
