// SPDX-License-Identifier: GPL-3.0-or-later
// Running the instrument without a window: the timers in simulated or real
// time, and dumps of its arrays.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/instrument.h"

namespace miral::core {

class Runner {
  public:
    // simulated: one processing cycle per simulated millisecond, the 100 ms
    // timers every hundredth, and the simulated or WAV card advanced to each
    // millisecond before its cycle (repeatable bit for bit). Otherwise the
    // timers run against the wall clock as a window's would: runFor lasts
    // that many real seconds, a cycle runs at most once a millisecond (later
    // when cycles take longer), the 100 ms timers once per 100 ms.
    Runner(Instrument& in, bool simulated) : in_(in), simulated_(simulated) {}

    // The first processing cycle (the power-on restore), at time 0.
    void start();
    // Runs the timers for this many seconds.
    void runFor(double seconds);
    // One processing cycle at this time (seconds since the start; at least a
    // millisecond after the last), the 100 ms timers when a hundredth has
    // begun since. Ticks that fell behind are not made up: for a caller that
    // keeps the pace of the clock itself and must not be held up by a burst.
    void tickAt(double seconds);
    double now() const { return static_cast<double>(ms_) / 1000.0; }

  private:
    void tick();
    // Timer1's tick and what its cycle left for right after it.
    void cycle();

    Instrument& in_;
    bool simulated_;
    long long ms_ = 0;
};

// The values of an array that --dump writes; false with the reason in *error.
bool arrayValues(Instrument& in, std::string_view name, std::vector<double>* values, std::string* error);
// Names that --dump accepts.
std::string dumpableArrays();
// Writes an array, one value per line with 17 significant digits (reads back
// exactly). Returns false with the reason in *error.
bool dumpArray(Instrument& in, std::string_view name, const std::filesystem::path& file, std::string* error);

}  // namespace miral::core
