// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated bench's networks against the analog networks they stand for,
// over the whole band up to 0.45 x the rate, at every rate the instrument
// offers. The bench itself plays an impulse train through the device under
// test and records both inputs; NumPy's FFT of one period of the recording
// gives the realised response at every bin, which a Python helper compares
// with the textbook formula of each network (written there, independently
// of the bench's own design).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "audio/streams.h"
#include "audio_test_support.h"

namespace miral::audio {
namespace {

namespace fs = std::filesystem;

constexpr int kRates[] = {4000,  8000,  16000, 32000, 32768,  44100, 48000,
                          60000, 65536, 88200, 96000, 176400, 192000};

// The analog formulas, A relative to B, and the comparison bin by bin.
constexpr const char* kAnalogScript = R"PY(
import sys
import numpy as np

def analog(kind, p, f):
    w = 2j * np.pi * f
    if kind == 'rc-lowpass':
        return 1.0 / (1.0 + w * p['r'] * p['c'])
    if kind == 'rc-highpass':
        return w * p['r'] * p['c'] / (1.0 + w * p['r'] * p['c'])
    if kind in ('shunt', 'shunt-serial'):
        if 'z' in p:
            z = p['z'] + 0.0 * w
        elif 'c' in p:
            z = p.get('esr', 0.0) + 1.0 / (w * p['c'])
        else:
            z = p.get('esr', 0.0) + w * p['l']
        rs, rin = p['r'], p.get('rin', 1e4)
        if kind == 'shunt':
            u = rs * rin / (rs + rin)        # the shunt loaded by channel A
            return u / (u + z)
        zp = z * rin / (z + rin)             # the device loaded by channel A
        return zp / (zp + rs)
    if kind == 'delay-b':                    # B later than A by ns
        return np.exp(w * p['ns'] * 1e-9)
    if kind == 'gain-b':
        return 10.0 ** (-p['db'] / 20.0) + 0.0 * w
    if kind == 'wire':
        return 1.0 + 0.0 * w
    raise ValueError(kind)

for line in open(sys.argv[1]):
    name, rate, period, path = line.split()
    rate, period = int(rate), int(period)
    kind, _, rest = name.partition(':')
    p = {}
    for item in filter(None, rest.split(',')):
        k, v = item.split('=')
        p[k.lower()] = float(v)
    x = np.fromfile(path, dtype=np.float32).astype(np.float64)
    a, b = x[:period], x[period:]
    k = np.arange(1, int(0.45 * period) + 1)   # every bin from the first up to 0.45 x the rate
    f = k * rate / period
    h = np.fft.rfft(a)[k] / np.fft.rfft(b)[k]
    r = h / analog(kind, p, f)
    db = 20.0 * np.log10(np.abs(r))
    deg = np.degrees(np.angle(r))
    i, j = np.argmax(np.abs(db)), np.argmax(np.abs(deg))
    print(name, rate, len(k), abs(db[i]), f[i], abs(deg[j]), f[j])
)PY";

// One period of A and of B after the start has settled, with an impulse
// every rate / 8 samples on both outputs. The recording is periodic, so one
// period's FFT is the realised response at its bins exactly.
struct Recorded {
    int period = 0;
    std::vector<float> ab;  // A then B
};

Recorded RecordImpulses(const std::string& dut, int rate) {
    auto ring = std::make_unique<CaptureRing>();
    auto tables = std::make_unique<PlaybackTables>();
    AudioStreams audio(*ring, *tables);
    Recorded r;
    r.period = rate / 8;
    EXPECT_TRUE(audio.SetDeviceUnderTest(dut)) << audio.LastError();
    EXPECT_TRUE(audio.SelectDriver("sim", TimeMode::Simulated)) << audio.LastError();
    float* left = tables->BackA();
    float* right = tables->BackB();
    for (int i = 0; i < rate; ++i) left[i] = right[i] = i % r.period == 0 ? 0.5f : 0.0f;
    tables->Publish();
    EXPECT_TRUE(audio.StartPlayback(rate, 1, DefaultPlaybackSettings())) << audio.LastError();
    EXPECT_TRUE(audio.StartCapture(rate, 1, DefaultCaptureSettings())) << audio.LastError();
    for (int ms = 10; ms <= 300; ms += 10) audio.AdvanceTo(ms / 1000.0);
    for (bool channelB : {false, true})
        for (double v : test::Newest(*ring, r.period, channelB)) r.ab.push_back(static_cast<float>(v));
    return r;
}

struct Deviation {
    double db = 0, dbAt = 0, deg = 0, degAt = 0;
    int bins = 0;
};

// Records every network at every rate and lets NumPy compare; the largest
// deviation of each network at each rate, keyed "network@rate".
std::map<std::string, Deviation> Compare(const std::vector<std::string>& duts) {
    const fs::path dir = fs::temp_directory_path() / ("miral_dut_response_" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream list(dir / "cases.txt");
    int n = 0;
    for (const std::string& dut : duts) {
        for (int rate : kRates) {
            const Recorded r = RecordImpulses(dut, rate);
            const fs::path data = dir / ("case" + std::to_string(n++) + ".f32");
            std::ofstream(data, std::ios::binary)
                .write(reinterpret_cast<const char*>(r.ab.data()),
                       static_cast<std::streamsize>(r.ab.size() * 4));
            list << dut << ' ' << rate << ' ' << r.period << ' ' << data.string() << '\n';
        }
    }
    list.close();
    std::ofstream(dir / "analog.py") << kAnalogScript;
    std::map<std::string, Deviation> out;
    const std::string cmd =
        "/usr/bin/python3 " + (dir / "analog.py").string() + " " + (dir / "cases.txt").string();
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char line[512];
        while (fgets(line, sizeof line, p)) {
            std::istringstream in(line);
            std::string name;
            int rate = 0;
            Deviation d;
            in >> name >> rate >> d.bins >> d.db >> d.dbAt >> d.deg >> d.degAt;
            out[name + "@" + std::to_string(rate)] = d;
        }
        EXPECT_EQ(pclose(p), 0) << cmd;
    }
    fs::remove_all(dir);
    return out;
}

TEST(SimDutResponse, EveryNetworkFollowsItsAnalogNetworkUpTo045OfTheRate) {
    if (std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no Python with NumPy (the Debian package python3-numpy)";
    const std::vector<std::string> duts = {
        "rc-lowpass:R=1000,C=1e-7",  // corner 1.59 kHz
        "rc-highpass:R=1000,C=1e-7",
        "rc-lowpass:R=10,C=1e-9",      // corner far above every Nyquist frequency
        "rc-highpass:R=10000,C=1e-6",  // corner 16 Hz
        "shunt:R=10,C=1e-6,ESR=0.1",  "shunt:R=10,L=0.01", "shunt:R=10,Z=100", "shunt-serial:R=1000,C=1e-7",
        "delay-b:ns=20000",           "delay-b:ns=-7300",  "gain-b:db=-6",     "wire",
    };
    const auto result = Compare(duts);
    ASSERT_EQ(result.size(), duts.size() * std::size(kRates)) << "the Python comparison did not run";
    double worstDb = 0, worstDeg = 0;
    for (const auto& [key, d] : result) {
        EXPECT_GT(d.bins, 200) << key;
        EXPECT_LE(d.db, 0.05) << key << ": " << d.db << " dB at " << d.dbAt << " Hz";
        EXPECT_LE(d.deg, 0.3) << key << ": " << d.deg << " degrees at " << d.degAt << " Hz";
        worstDb = std::max(worstDb, d.db);
        worstDeg = std::max(worstDeg, d.deg);
    }
    std::printf("largest deviation from the analog networks: %.4f dB, %.4f degrees\n", worstDb, worstDeg);
}

}  // namespace
}  // namespace miral::audio
