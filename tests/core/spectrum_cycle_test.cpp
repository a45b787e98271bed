// SPDX-License-Identifier: GPL-3.0-or-later
// The spectrum analyzer and the tuner in the processing cycle: WAV files of
// known spectra and the simulated bench, drawn into recording canvases.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "analysis/band.h"
#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "cycle_bench.h"
#include "display/recording_canvas.h"

namespace miral::core {
namespace {

namespace fs = std::filesystem;

const double kPi = std::acos(-1.0);
constexpr int kN = 16384;           // the default FFT size
constexpr int kBin = 16384 / 4096;  // bins of 16384 points per bin of the tests' 4096

struct Bench : test::CycleBench {
    display::RecordingCanvas needleBox{142, 15};
    display::RecordingCanvas traceBox{142, 39};
    Bench() : CycleBench("spectrum") {
        in.panel.setCanvas(Ctl::PaintBox2, &traceBox);
        in.panel.setCanvas(Ctl::PaintBox3, &needleBox);
    }
    // Starts on the given card with the "Fast mode" divider (16: 4096
    // points, which fill in a tenth of a second and keep the tests quick).
    void start(const std::string& audio, int divider = 16) {
        power(audio);
        set("ComboBox3", std::to_string(divider));
        ASSERT_EQ(in.st.FftSize, 65536 / divider);
    }
    // Long enough for the capture to start and fill one window.
    void fill() { runner.runFor(0.15 + in.st.FftSize / 44100.0); }
    // A stereo float WAV at 44100 Hz of kN x 4 frames (a whole number of
    // FFT windows, so that the loop has no seam for tones on bins).
    std::string wav(const std::string& name, double (*a)(int), double (*b)(int)) {
        fs::path p = dir / name;
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        std::vector<float> frames(2 * 4 * kN);
        for (int i = 0; i < 4 * kN; ++i) {
            frames[2 * static_cast<std::size_t>(i)] = static_cast<float>(a(i));
            frames[2 * static_cast<std::size_t>(i) + 1] = static_cast<float>(b(i));
        }
        sf_writef_float(f, frames.data(), 4 * kN);
        sf_close(f);
        return "wav:" + p.string();
    }
    // A stereo float WAV of `seconds` at `rate` with `a` on both channels.
    std::string wavAt(const std::string& name, int rate, double seconds,
                      const std::function<double(double)>& a) {
        fs::path p = dir / name;
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        const auto frames = static_cast<std::size_t>(seconds * rate);
        std::vector<float> data(2 * frames);
        for (std::size_t i = 0; i < frames; ++i)
            data[2 * i] = data[2 * i + 1] = static_cast<float>(a(static_cast<double>(i) / rate));
        sf_writef_float(f, data.data(), static_cast<sf_count_t>(frames));
        sf_close(f);
        return "wav:" + p.string();
    }
    void click(const char* name) {
        std::string err;
        ASSERT_TRUE(operateClick(in, name, &err)) << name << ": " << err;
    }
    std::string caption(Ctl c) const { return in.panel.caption(c); }
    // Magnitude of channel A at a bin from the drawn value (trace A uses the
    // second input panel's scale).
    double magnitudeA(int bin) const {
        const double v = in.st.DisplayA[static_cast<std::size_t>(bin)];
        return in.panel.down(Ctl::ylog) ? std::exp((v / in.st.ScaleB + 5160) / 2000)
                                        : v / (1.44 * in.st.ScaleB);
    }
    double magnitudeB(int bin) const {
        const double v = in.st.DisplayB[static_cast<std::size_t>(bin)];
        return in.panel.down(Ctl::ylog) ? std::exp((v / in.st.ScaleA + 5160) / 2000)
                                        : v / (1.44 * in.st.ScaleA);
    }
    // The polylines of a trace colour drawn since the last clear.
    std::vector<display::DrawCall> traces(int slot) const { return polylines(slot); }
};

double silence(int) {
    return 0.0;
}
// Full scale on bin 1000 of 16384 points at 44100 Hz (2691.65 Hz), and half of it.
double fullScaleBin1000(int i) {
    return std::sin(2 * kPi * 1000.0 * i / kN);
}
double halfScaleBin1000(int i) {
    return 0.5 * std::sin(2 * kPi * 1000.0 * i / kN);
}
// One count (1/32768 of full scale) of cosine on bin 700.
double unitCosineBin700(int i) {
    return std::cos(2 * kPi * 700.0 * i / kN) / 32768.0;
}

TEST(SpectrumCycle, BinWidthAndTheFftSizeControls) {
    Bench b;
    b.start("sim", 4);
    EXPECT_EQ(b.in.st.FftDivider, 4);
    EXPECT_EQ(b.in.st.FftSize, 16384);
    EXPECT_DOUBLE_EQ(b.in.st.BinWidth, 44100.0 / 16384);
    b.click("Label135");  // "+"
    EXPECT_EQ(b.in.st.FftSize, 32768);
    EXPECT_EQ(b.in.st.SettleCount, 4);
    EXPECT_FALSE(b.in.st.DisplayPrimed);
    b.click("Label135");
    b.click("Label135");
    EXPECT_EQ(b.in.st.FftDivider, 1);  // not below 1
    EXPECT_EQ(b.in.st.FftSize, 65536);
    for (int i = 0; i < 6; ++i) b.click("Label139");  // "-"
    EXPECT_EQ(b.in.st.FftDivider, 32);                // not above 32
    EXPECT_EQ(b.in.st.FftSize, 2048);
    EXPECT_NEAR(b.in.st.BinWidth, 32 * 44100 / 65536.0, 1e-9);
    b.runner.runFor(0.2);  // the smallest size runs too
    // The time view takes dividers up to 4 only.
    b.set("Tempo", "1");
    b.click("Label139");
    EXPECT_EQ(b.in.st.FftDivider, 4);
    b.click("Label139");
    EXPECT_EQ(b.in.st.FftDivider, 4);
    b.click("Label135");
    EXPECT_EQ(b.in.st.FftDivider, 2);
    EXPECT_EQ(b.in.st.FftSize, 2048);  // the size follows on entering the frequency view
    b.set("Frequenza", "1");
    EXPECT_EQ(b.in.st.FftSize, 32768);
}

TEST(SpectrumCycle, FullScaleSineOnABinReads62DbWithHann) {
    Bench b;
    b.start(b.wav("bin1000.wav", fullScaleBin1000, halfScaleBin1000), 4);
    ASSERT_TRUE(b.in.panel.down(Ctl::hann));
    ASSERT_TRUE(b.in.panel.down(Ctl::ylog));
    b.fill();
    ASSERT_EQ(b.in.st.FftSize, kN);
    // 16384 x 0.5 (the Hann window's mean) x 2.0071 (its gain); the
    // neighbouring bins carry half of it, the next ones nothing.
    EXPECT_NEAR(b.magnitudeA(1000), 16442.2, 0.5);
    EXPECT_NEAR(b.magnitudeA(999), 8221.1, 0.5);
    EXPECT_NEAR(b.magnitudeA(1001), 8221.1, 0.5);
    EXPECT_LT(b.magnitudeA(1003), 1e-3);
    EXPECT_NEAR(b.in.st.DisplayA[1000] / b.in.st.ScaleB / 230, 61.98, 0.01);  // dB on the dB grid
    EXPECT_NEAR(b.magnitudeB(1000), 8221.1, 0.5);  // trace B with the first panel's scale
    // The fundamental: bin 1000 x 44100 / 16384 Hz = 2691.65 Hz.
    EXPECT_EQ(b.caption(Ctl::Label62), "2692");
    EXPECT_EQ(b.in.st.MeasuredFrequency, 2691);
    EXPECT_EQ(b.caption(Ctl::Label61), "Mi");

    // The dump holds the drawn values, one per bin.
    std::string err;
    ASSERT_TRUE(dumpArray(b.in, "DisplayA", b.dir / "a.txt", &err)) << err;
    std::ifstream f(b.dir / "a.txt");
    std::vector<double> lines;
    for (double v; f >> v;) lines.push_back(v);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kN / 2));
    EXPECT_EQ(lines[1000], b.in.st.DisplayA[1000]);
}

TEST(SpectrumCycle, TheTunerReadsBetweenBins) {
    // At 48 kHz and the default 16384 points (2.93 Hz per bin), tones from the
    // lowest string of a bass (E1) up to 4 kHz read within half a cent, and the
    // readouts follow: a true 440 Hz is "440", "La", "(0%)".
    struct Tone {
        double hz;
        const char* rounded;
        const char* note;
    };
    for (const Tone& t : {Tone{440.0, "440", "La"}, Tone{441.27, "441", "La"}, Tone{41.2, "41", "Mi"},
                          Tone{3999.6, "4000", "Si"}}) {
        Bench b;
        b.power(b.wavAt("tone.wav", 48000, 2.0,
                        [&](double s) { return 0.5 * std::sin(2 * kPi * t.hz * s + 0.3); }));
        b.set("ComboBox2", "48000");
        b.set("ComboBox3", "4");
        b.runner.runFor(0.5);  // the capture's start, then a whole window of 16384 points
        ASSERT_EQ(b.in.st.FftSize, 16384);
        const double hz = std::stod(*b.in.printField("TunerHz"));
        EXPECT_NEAR(1200 * std::log2(hz / t.hz), 0.0, 0.5) << t.hz << " Hz read " << hz;
        EXPECT_EQ(b.caption(Ctl::Label62), t.rounded) << t.hz;
        EXPECT_EQ(b.caption(Ctl::Label61), t.note) << t.hz;
        if (t.hz != 440.0) continue;
        EXPECT_EQ(b.caption(Ctl::Label63), "(0%)");
        // The time view measures no frequency: the readouts say so rather than
        // keep the last reading; back in the frequency view they read again.
        b.set("Tempo", "1");
        b.runner.runFor(0.2);
        EXPECT_EQ(b.caption(Ctl::Label62), "---");
        EXPECT_EQ(b.caption(Ctl::Label61), "---");
        EXPECT_EQ(b.caption(Ctl::Label63), "");
        b.set("Frequenza", "1");
        b.runner.runFor(0.5);
        EXPECT_EQ(b.caption(Ctl::Label62), "440");
    }
}

TEST(SpectrumCycle, UnitCosineWithoutWindowGivesHalf) {
    Bench b;
    b.start(b.wav("cos700.wav", unitCosineBin700, silence));
    b.set("hann", "0");  // every window button up: rectangular
    b.set("ylog", "0");
    b.fill();
    EXPECT_NEAR(b.magnitudeA(700 / kBin), 0.5, 1e-6);
    EXPECT_NEAR(b.magnitudeA(700 / kBin - 1), 0.0, 1e-6);
    EXPECT_NEAR(b.magnitudeA(1000), 0.0, 1e-6);
    // Half a count is below the "Min Lev." knob: no peaks, no note.
    EXPECT_EQ(b.caption(Ctl::Label62), "0");
    EXPECT_EQ(b.caption(Ctl::Label61), "Off");
    EXPECT_EQ(b.caption(Ctl::Label63), "(0%)");
}

// Full scale off the bins (between bins 250 and 251 of the tests' 4096):
// its leakage reaches every bin.
double fullScaleOffBin(int i) {
    return 0.999 * std::sin(2 * kPi * 1000.37 * i / kN + 0.3);
}

TEST(SpectrumCycle, SilentChannelBesideAFullScaleToneReadsSilence) {
    Bench b;
    b.start(b.wav("offbin.wav", fullScaleOffBin, silence));
    b.set("lowf", "0");
    b.fill();
    const int h = b.in.st.FftSize / 2;
    // Zero magnitude: -450 on the logarithmic axis, phase +90, in every bin.
    for (int i = 1; i < h; ++i) {
        ASSERT_EQ(b.in.st.DisplayB[static_cast<std::size_t>(i)], -450.0) << i;
        ASSERT_EQ(b.in.st.SpectrumWorkImB[static_cast<std::size_t>(i)], 90.0) << i;
    }
    // Trace B is drawn as one flat line at the zero magnitude's row.
    b.buffer.clear();
    b.runner.runFor(0.001);
    int points = 0;
    for (const auto& c : b.traces(SlotXfrIn)) {
        for (const auto& p : c.points) {
            EXPECT_EQ(p.y, c.points.front().y) << p.x;
            ++points;
        }
    }
    EXPECT_GT(points, 100);
}

TEST(SpectrumCycle, HoldFreezesTheLfAverageAndLfUpIgnoresIt) {
    Bench b;
    b.start("sim");
    b.set("genfreq", "1000");
    b.set("genx4", "1");
    b.set("genampl", "100");
    b.set("genon1", "1");
    b.set("lowf", "1");
    b.fill();
    b.set("genfreq", "3000");  // the average is on its way to the new tone
    b.runner.runFor(0.05);
    b.set("hold", "1");
    const int h = b.in.st.FftSize / 2;
    b.runner.runFor(0.002);
    const std::vector<double> frozen(b.in.st.DisplayA.begin(), b.in.st.DisplayA.begin() + h);
    b.runner.runFor(0.05);
    EXPECT_TRUE(std::equal(frozen.begin(), frozen.end(), b.in.st.DisplayA.begin()));
    // LF up: the held window is shown as it is, unaveraged.
    b.set("lowf", "0");
    b.runner.runFor(0.001);
    bool changed = false;
    for (int i = 1; i < h; ++i) {
        ASSERT_EQ(b.in.st.DisplayA[static_cast<std::size_t>(i)],
                  b.in.st.SpectrumWorkReA[static_cast<std::size_t>(i)]);
        changed =
            changed || b.in.st.DisplayA[static_cast<std::size_t>(i)] != frozen[static_cast<std::size_t>(i)];
    }
    EXPECT_TRUE(changed);
}

TEST(SpectrumCycle, FirstCycleAfterAnFftSizeChangeIsUnaveraged) {
    Bench b;
    ASSERT_TRUE(b.in.streams().SetDeviceUnderTest("noise:dbfs=-40"));
    b.start("sim");
    b.set("lowf", "1");
    b.fill();
    auto averaged = [&] {
        const int h = b.in.st.FftSize / 2;
        int differing = 0;
        for (int i = 1; i < h; ++i)
            differing += b.in.st.DisplayA[static_cast<std::size_t>(i)] !=
                         b.in.st.SpectrumWorkReA[static_cast<std::size_t>(i)];
        return differing;
    };
    EXPECT_GT(averaged(), 1000);  // noise: the average differs from each new spectrum
    b.click("Label139");          // "-"
    b.runner.runFor(0.001);
    EXPECT_EQ(b.in.st.FftSize, 2048);
    EXPECT_EQ(averaged(), 0);
    b.runner.runFor(0.05);  // and then the average goes on
    EXPECT_GT(averaged(), 500);
    b.click("Label135");  // "+"
    b.runner.runFor(0.001);
    EXPECT_EQ(b.in.st.FftSize, 4096);
    EXPECT_EQ(averaged(), 0);
}

// A harmonic series on bins 100, 200, 300 whose strongest partial is the
// second; the fundamental has 40 % or 30 % of its amplitude.
double series40(int i) {
    const double t = 2 * kPi * i / kN;
    return 0.4 * 0.5 * std::sin(100 * t) + 0.5 * std::sin(200 * t) + 0.2 * 0.5 * std::sin(300 * t);
}
double series30(int i) {
    const double t = 2 * kPi * i / kN;
    return 0.3 * 0.5 * std::sin(100 * t) + 0.5 * std::sin(200 * t) + 0.2 * 0.5 * std::sin(300 * t);
}

TEST(SpectrumCycle, SoloReportsTheFundamentalAboveAThirdOfTheStrongest) {
    const std::string fundamental = std::to_string(static_cast<int>(100 * 44100 / 65536.0 * 4 + 0.5));
    const std::string strongest = std::to_string(static_cast<int>(200 * 44100 / 65536.0 * 4 + 0.5));
    {
        Bench b;
        b.start(b.wav("s40.wav", series40, silence));
        b.fill();
        EXPECT_EQ(b.caption(Ctl::Label62), strongest);
        b.set("monof", "1");
        b.runner.runFor(0.001);
        EXPECT_EQ(b.caption(Ctl::Label62), fundamental);
    }
    {
        Bench b;
        b.start(b.wav("s30.wav", series30, silence));
        b.set("monof", "1");
        b.fill();
        EXPECT_EQ(b.caption(Ctl::Label62), strongest);
    }
}

// Two small tones: 40 counts peak at 805.5 Hz, 80 at 837.7 Hz (magnitudes
// about 20 and 40), a few pixels apart on the default logarithmic band.
double twoSmallTones(int i) {
    const double t = 2 * kPi * i / kN;
    return (40 * std::sin(300 * t) + 80 * std::sin(312 * t)) / 32768.0;
}

TEST(SpectrumCycle, MinLevelKeepsPeaksOutAndCloseLabelsStack) {
    Bench b;
    b.start(b.wav("two.wav", twoSmallTones, silence));
    b.set("vedifreq", "1");
    b.fill();
    const double w = b.in.st.BinWidth;
    // Read to 0.1 Hz, as the marker readouts are.
    auto text = [](double f) {
        char s[32];
        std::snprintf(s, sizeof s, "%.1f", f);
        return std::string(s);
    };
    auto labels = [&] {
        b.buffer.clear();
        b.runner.runFor(0.001);
        std::vector<display::DrawCall> out;
        for (const auto& c : b.buffer.callsOf(display::DrawCall::Kind::Text))
            if (c.text == text(300 / kBin * w) || c.text == text(312 / kBin * w)) out.push_back(c);
        return out;
    };
    ASSERT_EQ(b.in.panel.value(Ctl::tb3), 10);
    auto l = labels();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].text, text(300 / kBin * w));
    EXPECT_EQ(l[1].text, text(312 / kBin * w));
    EXPECT_EQ(l[0].to.y, b.in.st.PlotHeight - 40);
    EXPECT_EQ(l[1].to.y, l[0].to.y + 12);  // close peaks: one column, 12 pixels apart
    EXPECT_EQ(l[1].to.x, l[0].to.x);
    EXPECT_EQ(b.caption(Ctl::Label62), std::to_string(static_cast<int>(312 / kBin * w + 0.5)));
    b.set("tb3", "30");  // only the stronger peak is above "Min Lev."
    l = labels();
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].text, text(312 / kBin * w));
    b.set("tb3", "50");
    l = labels();
    EXPECT_TRUE(l.empty());
    EXPECT_EQ(b.caption(Ctl::Label62), "0");
}

TEST(SpectrumCycle, SplitViewKeepsEachTraceInItsHalf) {
    Bench b;
    b.start(b.wav("bin1000.wav", fullScaleBin1000, halfScaleBin1000));
    b.set("range1", "0");  // most sensitive: the peaks run far above both areas
    b.set("range2", "0");
    b.set("pos1", "-100");
    b.set("pos2", "-100");
    b.fill();
    b.buffer.clear();
    b.runner.runFor(0.001);
    const auto& st = b.in.st;
    ASSERT_NE(st.LowerTop, 0);  // "Split FFT" with A+B
    const auto a = b.traces(SlotFTrace);
    const auto bt = b.traces(SlotXfrIn);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(bt.empty());
    int aTop = 0, bTop = 0;
    for (const auto& c : a) {
        for (const auto& p : c.points) {
            EXPECT_GE(p.y, st.UpperTop);
            EXPECT_LE(p.y, st.UpperBottom - 4);
            aTop += p.y == st.UpperTop;
        }
    }
    for (const auto& c : bt) {
        for (const auto& p : c.points) {
            EXPECT_GE(p.y, st.LowerTop);
            EXPECT_LE(p.y, st.LowerBottom - 4);
            bTop += p.y == st.LowerTop;
        }
    }
    EXPECT_GT(aTop, 0);  // the clipped peaks sit on the top edge of their own area
    EXPECT_GT(bTop, 0);
    // With only channel A shown the screen is not split and B is not drawn.
    b.set("modea", "1");
    b.buffer.clear();
    b.runner.runFor(0.001);
    EXPECT_EQ(st.LowerTop, 0);
    EXPECT_TRUE(b.traces(SlotXfrIn).empty());
    EXPECT_FALSE(b.traces(SlotFTrace).empty());
}

// Tones of 441.43 Hz and 452.20 Hz (bins 41 and 42 of 4096 points): 5.6 and
// 47.4 cents above La.
double a440(int i) {
    return 0.5 * std::sin(2 * kPi * 164.0 * i / kN);
}
double a451(int i) {
    return 0.5 * std::sin(2 * kPi * 168.0 * i / kN);
}

TEST(SpectrumCycle, TunerNamesTheNoteAndDrawsItsBoxes) {
    {
        Bench b;
        b.start(b.wav("a440.wav", a440, silence));
        b.runner.runFor(0.3);
        EXPECT_EQ(b.caption(Ctl::Label62), "441");
        EXPECT_EQ(b.caption(Ctl::Label61), "La");
        EXPECT_EQ(b.caption(Ctl::Label63), "(5%)");
        const auto needle = b.needleBox.callsOf(display::DrawCall::Kind::Line);
        ASSERT_GE(needle.size(), 2u);
        EXPECT_EQ(needle.back().from.x, 76);
        EXPECT_EQ(needle.back().pen.color, display::kInTune);
        // The deviation trace runs down its box, one row per cycle.
        const auto trace = b.traceBox.callsOf(display::DrawCall::Kind::Line);
        ASSERT_GT(trace.size(), 40u);
        EXPECT_EQ(trace.back().pen.color, display::kInTune);
    }
    {
        Bench b;
        b.start(b.wav("a451.wav", a451, silence));
        b.fill();
        EXPECT_EQ(b.caption(Ctl::Label62), "452");
        EXPECT_EQ(b.caption(Ctl::Label61), "La");
        EXPECT_EQ(b.caption(Ctl::Label63), "(47%)");
        EXPECT_EQ(b.needleBox.callsOf(display::DrawCall::Kind::Line).back().pen.color, display::kOutOfTune);
    }
}

}  // namespace
}  // namespace miral::core
