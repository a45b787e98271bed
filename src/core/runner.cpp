// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace miral::core {

void Runner::start() {
    if (in_.panel.enabled(Ctl::Timer1)) cycle();
}

void Runner::cycle() {
    in_.panel.timerTick(Ctl::Timer1);
    in_.afterCycle();
}

void Runner::tick() {
    ++ms_;
    if (simulated_) in_.streams().AdvanceTo(now());
    cycle();
    if (ms_ % 100 == 0) {
        in_.panel.timerTick(Ctl::Timer7);
        in_.panel.timerTick(Ctl::Timer10);
    }
}

void Runner::runFor(double seconds) {
    const long long steps = static_cast<long long>(seconds * 1000.0 + 0.5);
    if (simulated_) {
        for (long long i = 0; i < steps && !in_.terminateRequested(); ++i) tick();
        return;
    }
    // Against the wall clock, as a window's timers run: a cycle that takes
    // longer than a millisecond delays the next one, ticks that fell behind
    // are not made up, and the 100 ms timers tick once per 100 ms of real
    // time.
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const auto end = start + std::chrono::milliseconds(steps);
    const long long startMs = ms_;
    auto next = start;
    while (!in_.terminateRequested()) {
        const auto now = clock::now();
        if (now >= end) break;
        const long long slow = ms_ / 100;
        ms_ = std::max(
            ms_ + 1,
            startMs + std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count() + 1);
        cycle();
        if (ms_ / 100 != slow) {
            in_.panel.timerTick(Ctl::Timer7);
            in_.panel.timerTick(Ctl::Timer10);
        }
        next = std::max(next + std::chrono::milliseconds(1), clock::now());
        std::this_thread::sleep_until(next);
    }
}

std::string dumpableArrays() {
    return "TimeWorkA, TimeWorkB, CaptureA, CaptureB, PlaybackA, PlaybackB, DisplayA, DisplayB, "
           "DisplayPhase, "
           "ScopeTraceA, ScopeTraceB";
}

void Runner::tickAt(double seconds) {
    if (in_.terminateRequested()) return;
    const long long slow = ms_ / 100;
    ms_ = std::max(ms_ + 1, static_cast<long long>(seconds * 1000.0));
    if (simulated_) in_.streams().AdvanceTo(now());
    cycle();
    if (ms_ / 100 != slow) {
        in_.panel.timerTick(Ctl::Timer7);
        in_.panel.timerTick(Ctl::Timer10);
    }
}

bool dumpArray(Instrument& in, std::string_view name, const std::filesystem::path& file, std::string* error) {
    std::vector<double> values;
    if (!arrayValues(in, name, &values, error)) return false;
    std::FILE* f = std::fopen(file.c_str(), "w");
    if (!f) {
        *error = "cannot write " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    for (double v : values) std::fprintf(f, "%.17g\n", v);
    bool ok = std::fflush(f) == 0;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        *error = "cannot write " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool arrayValues(Instrument& in, std::string_view name, std::vector<double>* out, std::string* error) {
    std::vector<double>& values = *out;
    values.clear();
    if (name == "TimeWorkA" || name == "TimeWorkB") {
        const auto& src = name == "TimeWorkA" ? in.st.TimeWorkA : in.st.TimeWorkB;
        std::size_t n = static_cast<std::size_t>(windowLength(in.panel, in.st));
        n = std::min(n, src.size());
        values.assign(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(n));
    } else if (name == "DisplayA" || name == "DisplayB" || name == "DisplayPhase") {
        // The drawn spectrum: one value per bin of the present FFT size.
        const auto& src = name == "DisplayA"   ? in.st.DisplayA
                          : name == "DisplayB" ? in.st.DisplayB
                                               : in.st.DisplayPhase;
        std::size_t n = static_cast<std::size_t>(std::max(in.st.FftSize / 2, 0));
        n = std::min(n, src.size());
        values.assign(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(n));
    } else if (name == "ScopeTraceA" || name == "ScopeTraceB") {
        // The scope traces of the time view share the spectrum's work arrays.
        const auto& src = name == "ScopeTraceA" ? in.st.SpectrumWorkReA : in.st.SpectrumWorkReB;
        std::size_t n = static_cast<std::size_t>(std::max(in.st.TimeWindow, 0));
        n = std::min(n, src.size());
        values.assign(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(n));
    } else if (name == "CaptureA" || name == "CaptureB") {
        values.resize(audio::CaptureRing::kSize);
        for (int i = 0; i < audio::CaptureRing::kSize; ++i)
            values[i] = name == "CaptureA" ? in.ring().SampleA(i) : in.ring().SampleB(i);
    } else if (name == "PlaybackA" || name == "PlaybackB") {
        const float* t = name == "PlaybackA" ? in.tables().PublishedA() : in.tables().PublishedB();
        int n = std::clamp(in.tables().PlaybackLength.load(), 0, audio::PlaybackTables::kSize);
        values.assign(t, t + n);
    } else {
        *error = "unknown array '" + std::string(name) + "' (arrays: " + dumpableArrays() + ")";
        return false;
    }
    return true;
}

}  // namespace miral::core
