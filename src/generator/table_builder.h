// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The function generators' table builder. Every change of a generator control
// rebuilds two whole output tables holding exactly one second of signal at
// the table's own sample rate N; the playback stream loops over them. All
// frequencies are whole hertz, so one second always holds whole periods.
//
// The caller gathers the control values into GeneratorControls, keeps one
// GeneratorState for the life of the program and hands over the two tables
// to fill (at least kMaxTableLength entries each).

#include <cstdint>
#include <string_view>

#include "generator/sine_grid.h"

namespace miral::generator {

// Longest table: one second at the highest playback rate offered.
inline constexpr int kMaxTableLength = 192000;
// Lowest playback rate offered; a requested rate outside
// kMinDacRate .. kMaxTableLength is brought to the nearest end.
inline constexpr int kMinDacRate = 4000;

// Modulation modes of the aux generator (the genstart1 selector).
inline constexpr int kModeAdd = 1;
inline constexpr int kModeAm = 2;
inline constexpr int kModeDsb = 3;
inline constexpr int kModeFm = 4;
inline constexpr int kModeDual = 5;

// Range of the gensweep knob, chosen by clicking the label next to it.
enum class SweepRange { One, Ten, Hundred, Thousand, Half };

// "1", "10", "100", "1K"; any other text (normally "50%") is Half.
SweepRange sweepRangeFromLabel(std::string_view label);
// Divisor S of the gensweep knob: 100, 10, 1, 0.1, and 2 for Half.
double sweepScale(SweepRange range);
// The label that a click shows next: "1" -> "10" -> "100" -> "1K" -> "50%"
// -> "1". Any other text stays as it is.
std::string_view nextSweepLabel(std::string_view label);

// 1 -> 2 -> 3 -> 4 -> 5 -> 1 (anything else -> 1).
int nextModulationMode(int mode);
// "ADD", "AM", "DSB", "FM", "DUAL"; "ADD" for anything else.
std::string_view modulationWord(int mode);

// Knob units that move a frequency knob by exactly 1 Hz at range multiplier
// 1, 10, 100 or 1000: 1000, 100, 10, 1.
int knobUnitsPerHertz(int rangeMultiplier);

// Everything the builder reads, as plain values.
struct GeneratorControls {
    // Main generator.
    int genfreq = 4400;   // frequency knob, 1000..10000 = 1..10 x range
    int mainRange = 100;  // 1, 10, 100 or 1000 (genx1..genx4)
    int genampl = 50;     // amplitude knob 10..100
    int gensweep = 100;   // duty / sweep span / FM depth knob 0..100
    SweepRange sweepRange = SweepRange::Half;
    bool genon1 = false;
    bool gensin1 = true;
    bool gentri1 = false;
    bool gensqr1 = false;
    bool gennoise1 = false;
    bool db20 = false;       // -20 dB attenuator
    bool db40 = false;       // -40 dB attenuator
    bool gensweep1 = false;  // sweep on
    // Aux generator.
    int genfreq2 = 4400;
    int auxRange = 10;  // geny1..geny4
    int genampl2 = 100;
    bool genon2 = false;
    bool gensin2 = true;
    bool gentri2 = false;
    bool gensqr2 = false;
    int modulationMode = kModeAdd;
    // Playback rate chosen by the user, and the square-wave rate adjustment
    // (playback rate bent so that a square period is a whole, even number of
    // samples).
    int dacRate = 44100;
    bool freqVar = false;
};

// The noise generator's starting state where runs must repeat.
inline constexpr std::uint64_t kFixedNoiseSeed = 1;

// Kept between rebuilds.
struct GeneratorState {
    std::uint64_t noiseState =
        kFixedNoiseSeed;         // noise generator state, persists so every rebuild gives new noise
    int length = 44100;          // entries written by the last rebuild
    int lastStartedLength = 0;   // rate the playback stream was last started with; 0 = stopped
    double mainFrequency = 0.0;  // whole hertz; 0 while the main generator is off
    double auxFrequency = 0.0;   // whole hertz; 0 while the aux generator is off
    SineGrid sine;               // cached sine points for the current length
};

struct GeneratorResult {
    int length = 0;  // N: valid entries of both tables, and the playback rate
    double mainFrequency = 0.0;
    double auxFrequency = 0.0;
    bool rateAdjusted = false;     // the square-wave rate adjustment is in force
    bool restartPlayback = false;  // start playback at `length` samples per second
    char rateText[16] = {};        // "DAC 42000" while adjusted, else " "

    std::string_view rateLabel() const { return rateText; }
};

// Next value of the noise generator: a 64-bit linear congruential generator
// (multiplier 22695477, increment 1) returning bits 32..62 of its state.
std::uint32_t nextNoise(std::uint64_t& state);

// Fills entries 0..N-1 of a (first, left output) and b (second, right output)
// with values inside (-1, +1) and updates state. A restart request also
// records N as the last started length.
GeneratorResult buildTables(const GeneratorControls& controls, GeneratorState& state, float* a, float* b);
// The same tables in double precision.
GeneratorResult buildTables(const GeneratorControls& controls, GeneratorState& state, double* a, double* b);

// The main generator was switched off and its stream stopped: the next
// rebuild restarts playback.
inline void markStopped(GeneratorState& state) {
    state.lastStartedLength = 0;
}

}  // namespace miral::generator
