// SPDX-License-Identifier: GPL-3.0-or-later
// How the program takes memory from the system, set once at the start of
// main.
#pragma once

#include <malloc.h>

namespace miral::app {

// Large blocks (a picture being saved, a stream's buffers, a file read whole)
// come from the system and go back to it when freed. Left to itself the C
// library raises that limit to the size of the largest block freed so far
// and then keeps up to twice as much freed memory in the process: after a
// few pictures saved, several megabytes more stay resident for good,
// although nothing is in use. Nothing of the processing cycle allocates, so
// the fixed limit costs nothing while measuring.
inline void useSteadyMemory() {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

}  // namespace miral::app
