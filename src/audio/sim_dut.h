// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The device under test of the simulated bench: what sits between the
// simulated card's outputs (left L, right R) and its inputs (A, B).
//
// Text form (the --dut option), stages joined by "+", each at most once:
//   wire                      A = L, B = R (the default network)
//   rc-lowpass:R=1k,C=100n    A = L through a series R, shunt C low-pass; B = L
//   rc-highpass:R=1k,C=100n   A = L through a series C, shunt R high-pass; B = L
//                             Both channels arrive kNetworkLatency samples late.
//   shunt:R=10,C=1u           impedance fixture: L drives the device and the shunt
//                             R in series; B = L (the generator side), A = the
//                             voltage across the shunt, loaded by channel A's
//                             input impedance Rin (default 10k). The device is
//                             a resistor Z=100, a capacitor C=1u or an inductor
//                             L=10m, the last two with a series resistance ESR=0.1.
//                             Both channels arrive kNetworkLatency samples late.
//   shunt-serial:R=10,Z=100   the same with the shunt from L to the device and the
//                             device to ground: A = the voltage across the device
//                             (loaded by Rin)
//   harmonics:h2=-60,h3=-70   A gets 2nd/3rd harmonics (dB below the fundamental
//                             for a full-scale sine; a sine of peak a gets the
//                             2nd a times and the 3rd a^2 times weaker)
//   gain-b:db=-6              B scaled by 10^(db/20)
//   delay-b:ns=20000          B arrives this much later than A (negative: A later)
//   noise:dbfs=-90            independent white Gaussian noise on A and B, r.m.s.
//                             level in dB relative to 1.0 (full scale)
// Numbers take an SI prefix (p n u m k M G; "u" and "µ" both micro), e.g.
// R=4.7k, C=22n. The stages act in this order whatever the text's order:
// network, harmonics, gain-b, delay-b (at the converters), noise.
// The network is one of a small set (NetworkKind).

#include <array>
#include <complex>
#include <string>
#include <string_view>

namespace miral::audio {

enum class NetworkKind {
    Wire,         // A = L, B = R
    RcLowpass,    // A = RC low-pass of L, B = L
    RcHighpass,   // A = RC high-pass of L, B = L
    Shunt,        // A = across the shunt of a shunt and device in series, B = L
    ShuntSerial,  // A = across the device fed from L through the shunt, B = L
};

// What the device of a shunt fixture is.
enum class DeviceKind { Resistor, Capacitor, Inductor };

struct DutSetup {
    NetworkKind network = NetworkKind::Wire;
    double resistance = 0.0;   // ohms (RC networks)
    double capacitance = 0.0;  // farads (RC networks)
    // Shunt fixtures: the shunt, the device (its value in ohms, farads or
    // henries, and the series resistance of a capacitor or inductor) and the
    // input impedance of channel A.
    double shunt = 0.0;
    DeviceKind device = DeviceKind::Resistor;
    double deviceValue = 0.0;
    double deviceSeries = 0.0;
    double inputImpedance = 10000.0;
    bool harmonics = false;
    double h2Db = -1000.0;  // 2nd harmonic, dB below the fundamental of a full-scale sine
    double h3Db = -1000.0;
    double gainBDb = 0.0;
    double delayBNs = 0.0;  // |delay| <= kMaxDelayNs
    bool noise = false;
    double noiseDbfs = -1000.0;

    static constexpr double kMaxDelayNs = 100e6;  // 0.1 s
};

// Parses the text form. An empty text is the plain wire. On a mistake returns
// false and puts a one-line message naming the offending part in error.
bool ParseDut(std::string_view text, DutSetup& setup, std::string& error);

// The text form of a device under test (stages in canonical order).
std::string DutText(const DutSetup& setup);

// Parses a number with an optional SI prefix ("4.7k", "100n", "1e-7").
bool ParseSiNumber(std::string_view text, double& value);

// The network's and the harmonics stage's per-sample processing at the
// playback rate, and the gain/noise stage at the capture rate.
class DutProcessor {
  public:
    DutProcessor() = default;
    DutProcessor(const DutSetup& setup, double playbackRate, double captureRate);

    // One playback frame (L, R) in, the signals at the device's outputs.
    void Network(float l, float r, float& a, float& b) {
        if (filtered_) {
            FilterNetwork(l, a, b);
            return;
        }
        a = static_cast<float>(Distort(l));
        b = r;
    }
    // One capture frame: gain of B and noise on both.
    void Converter(float& a, float& b);
    // Starts the noise sequence from the beginning (a capture start), so
    // that a simulated run repeats exactly.
    void ResetNoise() {
        rng_ = kSeed;
        haveSpare_ = false;
    }
    // Delay of A and B in playback samples (one of them is 0).
    double DelayA() const { return delayA_; }
    double DelayB() const { return delayB_; }
    const DutSetup& Setup() const { return setup_; }

    // The network's response at input A relative to B at this frequency, as
    // the simulation realises it at this playback rate (both are delayed
    // alike).
    static std::complex<double> NetworkResponse(const DutSetup& setup, double frequency, double playbackRate);
    // The analog response of a shunt fixture, V(A) / V(L), at this frequency.
    static std::complex<double> ShuntResponse(const DutSetup& setup, double frequency);
    // The impedance of a shunt fixture's device at this frequency.
    static std::complex<double> DeviceImpedance(const DutSetup& setup, double frequency);

    // Every network but the wire (the RC networks and the shunt fixtures)
    // runs as a one-pole, one-zero recursion with an FIR designed to follow
    // the analog network at every frequency up to close to the Nyquist
    // frequency (within 0.05 dB and 0.3 degrees up to 0.45 x the rate); B is
    // delayed by the FIR's centre to match.
    static constexpr int kNetworkLatency = 64;
    static constexpr int kNetworkTaps = 2 * kNetworkLatency + 1;

  private:
    double Distort(double x) const { return setup_.harmonics ? x + k2_ * x * x + k3_ * x * x * x : x; }
    void FilterNetwork(float l, float& a, float& b);
    double Gaussian();

    DutSetup setup_;
    // The filtered networks: FIR taps, the pole and zero with their last
    // values, and the last inputs (a ring).
    bool filtered_ = false;
    std::array<double, kNetworkTaps> taps_{};
    double pole_ = 0.0;
    double zero_ = 0.0;
    double firLast_ = 0.0;
    double state_ = 0.0;
    std::array<double, 256> input_{};
    unsigned at_ = 0;
    double k2_ = 0.0, k3_ = 0.0;
    double gainB_ = 1.0;
    double noiseRms_ = 0.0;
    double delayA_ = 0.0, delayB_ = 0.0;
    static constexpr unsigned long long kSeed = 0x5EED5EED12345678ull;
    unsigned long long rng_ = kSeed;
    bool haveSpare_ = false;
    double spare_ = 0.0;
};

}  // namespace miral::audio
