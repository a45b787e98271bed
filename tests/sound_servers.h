// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the tests that play and record through the private sound servers
// that scripts/test starts (scripts/pulse-private.sh and its siblings).
#pragma once

#include <cmath>
#include <complex>
#include <cstdlib>
#include <string>

namespace miral::test {

// The private PulseAudio server answers (scripts/test sets MIRAL_PULSE=1).
inline bool PulseThere() {
    const char* flag = std::getenv("MIRAL_PULSE");
    return flag != nullptr && std::string(flag) == "1" && std::getenv("PULSE_SERVER") != nullptr;
}

// Runs a function of scripts/pulse-private.sh (miral_pulse_kill,
// miral_pulse_restart) in a shell that inherits the server's variables.
inline bool PulseScript(const char* function) {
    const std::string cmd = std::string("bash -c 'source \"" MIRAL_SCRIPTS_DIR "/pulse-private.sh\" && ") +
                            function + "' </dev/null >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

inline bool PulseAnswers() {
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

// Brings the private server back however a test that kills it ends, for the
// tests after it.
struct PulseRevival {
    PulseRevival() = default;
    PulseRevival(const PulseRevival&) = delete;
    PulseRevival& operator=(const PulseRevival&) = delete;
    ~PulseRevival() {
        PulseScript("miral_pulse_thaw");  // a frozen server answers nothing, not even pactl
        if (!PulseAnswers()) PulseScript("miral_pulse_restart");
    }
};

// Amplitude of the tone at f in a window of n samples (Hann window; a sine of
// amplitude A reads A).
inline double ToneAt(const double* x, int n, double f, double rate) {
    std::complex<double> acc = 0;
    for (int i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
        acc += x[i] * w * std::polar(1.0, -2 * M_PI * f * i / rate);
    }
    return 4.0 * std::abs(acc) / n;
}

}  // namespace miral::test
