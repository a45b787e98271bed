// Handlers whose behaviour is not built yet: bound by name, they do nothing.
#include "core/instrument.h"

namespace miral::core {



}  // namespace miral::core

namespace miral::core {
// Parts of the frequency views that are not built yet: the transfer-function
// and impedance branches, the phase curve and the readouts on the traces.
}  // namespace miral::core
