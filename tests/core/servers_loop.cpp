// SPDX-License-Identifier: GPL-3.0-or-later
// The whole instrument on the other sound servers it supports: a private JACK
// server (jackd2, dummy driver; the test loops the instrument's playback
// ports to its capture ports) and a private PipeWire server reached through
// its PulseAudio interface (null sink, monitor as the default source). The
// main generator's 440 Hz must come back at its frequency and level.
// scripts/test starts both servers; where one cannot start it says why and
// the test is skipped with that reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/instrument.h"
#include "core/operate.h"
#include "support/server_instrument.h"

namespace miral::core {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The server's skip reason, or "" when scripts/test says it runs.
std::string NotThere(const char* flag, const char* why, const char* fallback) {
    if (Env(flag) == "1") return "";
    return Env(why).empty() ? fallback : Env(why);
}

std::vector<std::string> Lines(const std::string& command) {
    std::vector<std::string> out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(command.c_str(), "r"), pclose);
    if (!p) return out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p.get())) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        out.push_back(line);
    }
    return out;
}

// The instrument on a server with its generator at 440 Hz, full level.
class ServerLoop {
  public:
    explicit ServerLoop(const std::string& driver) : s_("servers_loop", driver) { ok = s_.start(&why); }

    double runUntil(double seconds, const std::function<bool()>& done) { return s_.runUntil(seconds, done); }
    // The strongest frequency within 10 Hz of 440 (0.25 Hz steps) and its level.
    std::pair<double, double> Tone() const {
        double best = 0, at = 0;
        for (double f = 430.0; f <= 450.0; f += 0.25) {
            const double l = s_.level(f);
            if (l > best) {
                best = l;
                at = f;
            }
        }
        return {at, best};
    }
    bool ToneRight() const {
        const auto [f, level] = Tone();
        return std::fabs(f - 440.0) <= 0.5 && std::fabs(20 * std::log10(level / kPlayed)) < 0.5;
    }
    // Waits (up to 6 s) for the right tone and checks it.
    void ExpectTone(const char* server) {
        const double t = runUntil(6.0, [&] { return ToneRight(); });
        const auto [f, level] = Tone();
        EXPECT_GE(t, 0.0) << server << ": " << f << " Hz at " << 20 * std::log10(level / kPlayed)
                          << " dB from the played level; status: " << in.st.StatusText;
        EXPECT_NEAR(f, 440.0, 0.5) << server;
        EXPECT_NEAR(20 * std::log10(level / kPlayed), 0.0, 0.5) << server;
        EXPECT_FALSE(in.streams().CaptureLost()) << in.st.StatusText;
        EXPECT_FALSE(in.streams().PlaybackLost()) << in.st.StatusText;
        std::printf("%s: %.2f Hz, %.3f dB from the played level\n", server, f,
                    20 * std::log10(level / kPlayed));
    }

    static constexpr double kPlayed = test::ServerInstrument::kPlayed;
    test::ServerInstrument s_;
    Instrument& in = s_.in;
    bool ok = false;
    std::string why;  // why the start failed
};

TEST(JackLoop, TheGeneratorComesBackAtItsFrequencyAndLevel) {
    const std::string skip =
        NotThere("MIRAL_JACK", "MIRAL_JACK_SKIP", "no private JACK server (scripts/test starts one)");
    if (!skip.empty()) GTEST_SKIP() << skip;
    ServerLoop loop("jack");
    ASSERT_TRUE(loop.ok) << loop.why;
    ASSERT_GE(
        loop.runUntil(
            5.0, [&] { return loop.in.streams().CaptureRunning() && loop.in.streams().PlaybackRunning(); }),
        0.0)
        << loop.in.st.StatusText;
    // The dummy driver's ports are silent and deaf: loop our playback ports to
    // our capture ports.
    std::vector<std::string> outs, ins;
    const std::vector<std::string> ports = Lines("jack_lsp 2>/dev/null");
    for (const std::string& p : ports) {
        if (p.rfind("Miral playback:", 0) == 0) outs.push_back(p);
        if (p.rfind("Miral capture:", 0) == 0) ins.push_back(p);
    }
    std::string listing;
    for (const std::string& p : ports) listing += p + "\n";
    ASSERT_EQ(outs.size(), 2u) << listing;
    ASSERT_EQ(ins.size(), 2u) << listing;
    std::sort(outs.begin(), outs.end());
    std::sort(ins.begin(), ins.end());
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string cmd = "jack_connect '" + outs[i] + "' '" + ins[i] + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    loop.ExpectTone("JACK");
    // The server runs at 48000 Hz, not the instrument's default rate: every
    // view uses the server's rate, and the rate boxes show it, fixed.
    EXPECT_EQ(loop.in.st.AdcRate, 48000);
    EXPECT_EQ(loop.in.st.DacRate, 48000);
    EXPECT_EQ(loop.in.panel.itemText(Ctl::ComboBox2), "48000");
    EXPECT_FALSE(loop.in.panel.state(Ctl::ComboBox2).enabled);
    EXPECT_FALSE(loop.in.panel.state(Ctl::ComboBox4).enabled);
    std::string err;
    ASSERT_TRUE(operateSet(loop.in, "Tempo", "1", &err)) << err;
    const double t = loop.runUntil(6.0, [&] {
        return loop.in.streams().CaptureRunning() && loop.in.st.CaptureRate == 48000 &&
               loop.in.panel.position(Ctl::bar1) > 500;
    });
    EXPECT_GE(t, 0.0) << "the time view: capture at " << loop.in.st.CaptureRate
                      << " Hz; status: " << loop.in.st.StatusText;
    EXPECT_EQ(loop.in.st.StreamStatus, "");
}

TEST(PipeWireLoop, TheGeneratorComesBackThroughItsPulseAudioInterface) {
    const std::string skip = NotThere("MIRAL_PIPEWIRE", "MIRAL_PIPEWIRE_SKIP",
                                      "no private PipeWire server (scripts/test starts one)");
    if (!skip.empty()) GTEST_SKIP() << skip;
    // This process reaches PipeWire instead of the tests' PulseAudio server.
    const std::string pulse = Env("PULSE_SERVER");
    ASSERT_EQ(setenv("PULSE_SERVER", Env("MIRAL_PIPEWIRE_SERVER").c_str(), 1), 0);
    {
        ServerLoop loop("pulse");
        ASSERT_TRUE(loop.ok) << loop.why;
        loop.ExpectTone("PipeWire");
    }
    if (pulse.empty()) {
        unsetenv("PULSE_SERVER");
    } else {
        setenv("PULSE_SERVER", pulse.c_str(), 1);
    }
}

}  // namespace
}  // namespace miral::core
