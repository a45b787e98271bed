// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sim_dut.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <sstream>
#include <vector>

namespace miral::audio {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    size_t from = 0;
    while (true) {
        const size_t at = s.find(sep, from);
        parts.push_back(
            Trim(s.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from)));
        if (at == std::string_view::npos) break;
        from = at + 1;
    }
    return parts;
}

// Joins pieces of text (also sidesteps a false -Wrestrict of GCC 12 on
// "literal" + std::string chains at -O2).
template <typename... Parts>
std::string Cat(const Parts&... parts) {
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

std::string Number(double v) {
    std::ostringstream os;
    os.precision(12);
    os << v;
    return os.str();
}

struct Param {
    std::string key;  // lower case
    double value;
};

// Parses "k=v,k=v" after a stage name, checking the keys against allowed.
bool ParseParams(std::string_view stage, std::string_view text, const std::vector<std::string>& allowed,
                 std::vector<Param>& params, std::string& error) {
    if (Trim(text).empty()) {
        error = Cat("stage \"", stage, "\" needs parameters");
        return false;
    }
    for (std::string_view item : Split(text, ',')) {
        const size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            error = Cat("\"", item, "\" in stage \"", stage, "\" is not key=value");
            return false;
        }
        const std::string key = Lower(Trim(item.substr(0, eq)));
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            std::string list;
            for (const auto& a : allowed) {
                if (!list.empty()) list += ", ";
                list += a;
            }
            error = Cat("stage \"", stage, "\" has no parameter \"", key, "\" (it takes ", list, ")");
            return false;
        }
        for (const Param& p : params) {
            if (p.key == key) {
                error = Cat("parameter \"", key, "\" given twice in stage \"", stage, "\"");
                return false;
            }
        }
        double value = 0.0;
        const std::string_view valueText = Trim(item.substr(eq + 1));
        if (!ParseSiNumber(valueText, value)) {
            error =
                Cat("\"", valueText, "\" is not a number (parameter \"", key, "\" of stage \"", stage, "\")");
            return false;
        }
        params.push_back({key, value});
    }
    return true;
}

const Param* Find(const std::vector<Param>& params, const std::string& key) {
    for (const Param& p : params)
        if (p.key == key) return &p;
    return nullptr;
}

constexpr const char* kOneNetwork =
    "only one network (wire, rc-lowpass, rc-highpass, shunt, shunt-serial) may be given";

}  // namespace

bool ParseSiNumber(std::string_view text, double& value) {
    text = Trim(text);
    if (text.empty()) return false;
    const std::string s(text);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str()) return false;
    std::string_view rest(end);
    double scale = 1.0;
    if (rest == "p") {
        scale = 1e-12;
    } else if (rest == "n") {
        scale = 1e-9;
    } else if (rest == "u" || rest == "\xC2\xB5") {
        scale = 1e-6;
    } else if (rest == "m") {
        scale = 1e-3;
    } else if (rest == "k" || rest == "K") {
        scale = 1e3;
    } else if (rest == "M") {
        scale = 1e6;
    } else if (rest == "G") {
        scale = 1e9;
    } else if (!rest.empty()) {
        return false;
    }
    value = v * scale;
    return std::isfinite(value);
}

bool ParseDut(std::string_view text, DutSetup& setup, std::string& error) {
    DutSetup out;
    const std::string whole(text);
    auto fail = [&](const std::string& why) {
        error = Cat("device under test \"", whole, "\": ", why);
        return false;
    };
    if (Trim(text).empty()) {
        setup = out;
        return true;
    }
    bool seenNetwork = false, seenHarmonics = false, seenGain = false, seenDelay = false, seenNoise = false;
    for (std::string_view stageText : Split(text, '+')) {
        if (stageText.empty()) return fail("empty stage (two \"+\" in a row, or one at an end)");
        const size_t colon = stageText.find(':');
        const std::string name = Lower(Trim(stageText.substr(0, colon)));
        const std::string_view paramText =
            colon == std::string_view::npos ? std::string_view() : stageText.substr(colon + 1);
        std::vector<Param> params;
        std::string why;
        auto once = [&](bool& seen) {
            if (seen) return false;
            seen = true;
            return true;
        };
        if (name == "wire") {
            if (!once(seenNetwork)) return fail(kOneNetwork);
            if (colon != std::string_view::npos && !Trim(paramText).empty())
                return fail("stage \"wire\" takes no parameters");
            out.network = NetworkKind::Wire;
        } else if (name == "rc-lowpass" || name == "rc-highpass") {
            if (!once(seenNetwork)) return fail(kOneNetwork);
            if (!ParseParams(name, paramText, {"r", "c"}, params, why)) return fail(why);
            const Param* r = Find(params, "r");
            const Param* c = Find(params, "c");
            if (!r || !c)
                return fail("stage \"" + name + "\" needs both R and C, e.g. " + name + ":R=1k,C=100n");
            if (r->value <= 0.0) return fail("R must be above 0 ohms");
            if (c->value <= 0.0) return fail("C must be above 0 farads");
            out.network = name == "rc-lowpass" ? NetworkKind::RcLowpass : NetworkKind::RcHighpass;
            out.resistance = r->value;
            out.capacitance = c->value;
        } else if (name == "shunt" || name == "shunt-serial") {
            if (!once(seenNetwork)) return fail(kOneNetwork);
            if (!ParseParams(name, paramText, {"r", "z", "c", "l", "esr", "rin"}, params, why))
                return fail(why);
            const Param* r = Find(params, "r");
            const Param* z = Find(params, "z");
            const Param* c = Find(params, "c");
            const Param* l = Find(params, "l");
            const Param* esr = Find(params, "esr");
            const Param* rin = Find(params, "rin");
            if (!r || (z != nullptr) + (c != nullptr) + (l != nullptr) != 1)
                return fail("stage \"" + name +
                            "\" needs the shunt R and one device, Z (a resistor), C or L, e.g. " + name +
                            ":R=10,C=1u");
            if (r->value <= 0.0) return fail("the shunt R must be above 0 ohms");
            const Param* device = z ? z : c ? c : l;
            if (device->value <= 0.0) return fail("the device's Z, C or L must be above 0");
            if (esr && z)
                return fail(
                    "ESR is the series resistance of a capacitor or an inductor, not of a resistor Z");
            if (esr && esr->value < 0.0) return fail("ESR must be 0 ohms or more");
            if (rin && rin->value <= 0.0) return fail("Rin must be above 0 ohms");
            out.network = name == "shunt" ? NetworkKind::Shunt : NetworkKind::ShuntSerial;
            out.shunt = r->value;
            out.device = z ? DeviceKind::Resistor : c ? DeviceKind::Capacitor : DeviceKind::Inductor;
            out.deviceValue = device->value;
            out.deviceSeries = esr ? esr->value : 0.0;
            out.inputImpedance = rin ? rin->value : 10000.0;
        } else if (name == "harmonics") {
            if (!once(seenHarmonics)) return fail("stage \"harmonics\" given twice");
            if (!ParseParams(name, paramText, {"h2", "h3"}, params, why)) return fail(why);
            out.harmonics = true;
            if (const Param* p = Find(params, "h2")) out.h2Db = p->value;
            if (const Param* p = Find(params, "h3")) out.h3Db = p->value;
            if (out.h2Db > 0.0 || out.h3Db > 0.0)
                return fail("harmonic levels are dB below the fundamental and must be 0 or less");
        } else if (name == "gain-b") {
            if (!once(seenGain)) return fail("stage \"gain-b\" given twice");
            if (!ParseParams(name, paramText, {"db"}, params, why)) return fail(why);
            out.gainBDb = params[0].value;
            if (std::fabs(out.gainBDb) > 200.0) return fail("gain-b must lie within -200 .. 200 dB");
        } else if (name == "delay-b") {
            if (!once(seenDelay)) return fail("stage \"delay-b\" given twice");
            if (!ParseParams(name, paramText, {"ns"}, params, why)) return fail(why);
            out.delayBNs = params[0].value;
            if (std::fabs(out.delayBNs) > DutSetup::kMaxDelayNs)
                return fail("delay-b must lie within -100000000 .. 100000000 ns (0.1 s)");
        } else if (name == "noise") {
            if (!once(seenNoise)) return fail("stage \"noise\" given twice");
            if (!ParseParams(name, paramText, {"dbfs"}, params, why)) return fail(why);
            out.noise = true;
            out.noiseDbfs = params[0].value;
            if (out.noiseDbfs > 20.0) return fail("noise above +20 dBFS makes no sense");
        } else {
            return fail(
                "unknown stage \"" + name +
                "\" (known: wire, rc-lowpass, rc-highpass, shunt, shunt-serial, harmonics, gain-b, delay-b, "
                "noise)");
        }
    }
    setup = out;
    return true;
}

std::string DutText(const DutSetup& setup) {
    std::string text;
    switch (setup.network) {
        case NetworkKind::Wire:
            text = "wire";
            break;
        case NetworkKind::RcLowpass:
        case NetworkKind::RcHighpass:
            text = std::string(setup.network == NetworkKind::RcLowpass ? "rc-lowpass" : "rc-highpass") +
                   ":R=" + Number(setup.resistance) + ",C=" + Number(setup.capacitance);
            break;
        case NetworkKind::Shunt:
        case NetworkKind::ShuntSerial:
            text = std::string(setup.network == NetworkKind::Shunt ? "shunt" : "shunt-serial") +
                   ":R=" + Number(setup.shunt);
            switch (setup.device) {
                case DeviceKind::Resistor:
                    text += ",Z=" + Number(setup.deviceValue);
                    break;
                case DeviceKind::Capacitor:
                    text += ",C=" + Number(setup.deviceValue);
                    break;
                case DeviceKind::Inductor:
                    text += ",L=" + Number(setup.deviceValue);
                    break;
            }
            if (setup.device != DeviceKind::Resistor) text += ",ESR=" + Number(setup.deviceSeries);
            text += ",Rin=" + Number(setup.inputImpedance);
            break;
    }
    if (setup.harmonics) text += "+harmonics:h2=" + Number(setup.h2Db) + ",h3=" + Number(setup.h3Db);
    if (setup.gainBDb != 0.0) text += "+gain-b:db=" + Number(setup.gainBDb);
    if (setup.delayBNs != 0.0) text += "+delay-b:ns=" + Number(setup.delayBNs);
    if (setup.noise) text += "+noise:dbfs=" + Number(setup.noiseDbfs);
    return text;
}

// ---- Networks -------------------------------------------------------------------------

namespace {

// A network's response V(A) / V(L) as (b0 + b1 s) / (a0 + a1 s).
struct Rational {
    double b0, b1, a0, a1;
    std::complex<double> At(double frequency) const {
        const std::complex<double> s(0.0, 2.0 * std::numbers::pi * frequency);
        return (b0 + b1 * s) / (a0 + a1 * s);
    }
};

// A shunt fixture's response, from the device's impedance (n0 + n1 s) /
// (d0 + d1 s); an RC network's: 1 / (1 + sRC) or sRC / (1 + sRC).
Rational NetworkRational(const DutSetup& setup) {
    const double rc = setup.resistance * setup.capacitance;
    if (setup.network == NetworkKind::RcLowpass) return {1.0, 0.0, 1.0, rc};
    if (setup.network == NetworkKind::RcHighpass) return {0.0, rc, 1.0, rc};
    double n0 = setup.deviceValue, n1 = 0.0, d0 = 1.0, d1 = 0.0;
    if (setup.device == DeviceKind::Capacitor) {  // ESR + 1 / (sC)
        n0 = 1.0;
        n1 = setup.deviceValue * setup.deviceSeries;
        d0 = 0.0;
        d1 = setup.deviceValue;
    } else if (setup.device == DeviceKind::Inductor) {  // ESR + sL
        n0 = setup.deviceSeries;
        n1 = setup.deviceValue;
    }
    const double rs = setup.shunt;
    const double rin = setup.inputImpedance;
    if (setup.network == NetworkKind::Shunt) {
        // U / (U + Z) with U = Rs || Rin.
        const double u = rs * rin / (rs + rin);
        return {u * d0, u * d1, u * d0 + n0, u * d1 + n1};
    }
    // Zp / (Zp + Rs) with Zp = Z || Rin: Z Rin / (Z (Rin + Rs) + Rs Rin).
    return {n0 * rin, n1 * rin, n0 * (rin + rs) + rs * rin * d0, n1 * (rin + rs) + rs * rin * d1};
}

// The analog pole and zero, mapped exactly (exp(sT)), and the FIR that makes
// taps x (1 - zero z^-1) / (1 - pole z^-1) equal the analog response delayed
// by kNetworkLatency: the FIR's ideal response sampled on a fine grid,
// transformed back and shaped by a Kaiser window. With the pole and the zero
// in the recursion the FIR is nearly a plain delay, so its small truncation
// error stays small relative to the response even where that is tiny (a
// capacitor's fixture near DC, a low-pass near the Nyquist frequency). What
// no sampled system can follow is the analog phase right at the Nyquist
// frequency (its response there is real); the window keeps that region
// narrow, well above 0.45 x the rate.
void DesignNetwork(const DutSetup& setup, double fs, std::array<double, DutProcessor::kNetworkTaps>& taps,
                   double& pole, double& zero) {
    const Rational h = NetworkRational(setup);
    pole = h.a1 > 0.0 ? std::exp(-h.a0 / h.a1 / fs) : 0.0;
    zero = h.b1 != 0.0 ? std::exp(-h.b0 / h.b1 / fs) : 0.0;
    constexpr int kGrid = 4096;
    constexpr int kCentre = DutProcessor::kNetworkLatency;
    constexpr double kBeta = 6.0;
    std::vector<std::complex<double>> numerator(kGrid);
    for (int k = 0; k < kGrid; ++k) {
        double w = 2.0 * std::numbers::pi * k / kGrid;
        if (k > kGrid / 2) w -= 2.0 * std::numbers::pi;
        const std::complex<double> z1 = std::polar(1.0, -w);
        std::complex<double> v = h.At(w * fs / (2.0 * std::numbers::pi)) * (1.0 - pole * z1) /
                                 (1.0 - zero * z1) * std::polar(1.0, -w * kCentre);
        if (k == 0 && zero == 1.0) v = h.b1 / h.a0 * fs * (1.0 - pole);  // the limit at DC
        if (k == kGrid / 2) v = v.real();                                // +pi and -pi are the same point
        numerator[static_cast<size_t>(k)] = v;
    }
    std::array<double, DutProcessor::kNetworkTaps> sums{};
    for (int k = 0; k < kGrid; ++k) {
        // numerator[k] x e^(j w n) for n = 0, 1, ... by repeated rotation.
        const std::complex<double> step = std::polar(1.0, 2.0 * std::numbers::pi * k / kGrid);
        std::complex<double> v = numerator[static_cast<size_t>(k)];
        for (double& sum : sums) {
            sum += v.real();
            v *= step;
        }
    }
    const double i0Beta = std::cyl_bessel_i(0.0, kBeta);
    for (int n = 0; n < DutProcessor::kNetworkTaps; ++n) {
        const double u = static_cast<double>(n - kCentre) / (kCentre + 1);
        const double window = std::cyl_bessel_i(0.0, kBeta * std::sqrt(1.0 - u * u)) / i0Beta;
        taps[static_cast<size_t>(n)] = sums[static_cast<size_t>(n)] / kGrid * window;
    }
}

}  // namespace

std::complex<double> DutProcessor::DeviceImpedance(const DutSetup& setup, double frequency) {
    const double w = 2.0 * std::numbers::pi * frequency;
    switch (setup.device) {
        case DeviceKind::Capacitor:
            return {setup.deviceSeries, -1.0 / (w * setup.deviceValue)};
        case DeviceKind::Inductor:
            return {setup.deviceSeries, w * setup.deviceValue};
        case DeviceKind::Resistor:
            break;
    }
    return {setup.deviceValue, 0.0};
}

std::complex<double> DutProcessor::ShuntResponse(const DutSetup& setup, double frequency) {
    const std::complex<double> z = DeviceImpedance(setup, frequency);
    const double rs = setup.shunt;
    const double rin = setup.inputImpedance;
    if (setup.network == NetworkKind::ShuntSerial) {
        const std::complex<double> zp = z * rin / (z + rin);
        return zp / (zp + rs);
    }
    const double u = rs * rin / (rs + rin);
    return u / (u + z);
}

void DutProcessor::FilterNetwork(float l, float& a, float& b) {
    constexpr unsigned kMask = 255;
    input_[at_ & kMask] = l;
    double acc = 0.0;
    for (int n = 0; n < kNetworkTaps; ++n) acc += taps_[static_cast<size_t>(n)] * input_[(at_ - n) & kMask];
    const double y = acc - zero_ * firLast_ + pole_ * state_;
    firLast_ = acc;
    state_ = y;
    a = static_cast<float>(Distort(y));
    b = static_cast<float>(input_[(at_ - kNetworkLatency) & kMask]);
    ++at_;
}

DutProcessor::DutProcessor(const DutSetup& setup, double playbackRate, double captureRate) : setup_(setup) {
    (void)captureRate;
    if (setup.network != NetworkKind::Wire) {
        DesignNetwork(setup, playbackRate, taps_, pole_, zero_);
        filtered_ = true;
    }
    if (setup.harmonics) {
        // For x = cos(t): x^2 carries cos(2t)/2 and x^3 carries cos(3t)/4.
        k2_ = 2.0 * std::pow(10.0, setup.h2Db / 20.0);
        k3_ = 4.0 * std::pow(10.0, setup.h3Db / 20.0);
    }
    gainB_ = std::pow(10.0, setup.gainBDb / 20.0);
    noiseRms_ = setup.noise ? std::pow(10.0, setup.noiseDbfs / 20.0) : 0.0;
    // ns * rate / 1e9 keeps whole-sample delays exact (20000 ns at 50 kHz is 1.0).
    const double delaySamples = setup.delayBNs * playbackRate / 1e9;
    delayB_ = std::max(0.0, delaySamples);
    delayA_ = std::max(0.0, -delaySamples);
}

std::complex<double> DutProcessor::NetworkResponse(const DutSetup& setup, double frequency,
                                                   double playbackRate) {
    if (setup.network == NetworkKind::Wire) return {1.0, 0.0};
    std::array<double, kNetworkTaps> taps{};
    double pole = 0.0, zero = 0.0;
    DesignNetwork(setup, playbackRate, taps, pole, zero);
    const double w = 2.0 * std::numbers::pi * frequency / playbackRate;
    std::complex<double> fir = 0.0;
    for (int n = 0; n < kNetworkTaps; ++n) fir += taps[static_cast<size_t>(n)] * std::polar(1.0, -w * n);
    const std::complex<double> z1 = std::polar(1.0, -w);
    return fir * (1.0 - zero * z1) / (1.0 - pole * z1) * std::polar(1.0, w * kNetworkLatency);
}

double DutProcessor::Gaussian() {
    if (haveSpare_) {
        haveSpare_ = false;
        return spare_;
    }
    auto next = [this] {
        // splitmix64: fast, and the same sequence on every platform.
        unsigned long long z = (rng_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return (static_cast<double>(z >> 11) + 0.5) * (1.0 / 9007199254740992.0);  // (0, 1)
    };
    const double u1 = next(), u2 = next();
    const double r = std::sqrt(-2.0 * std::log(u1));
    const double t = 2.0 * std::numbers::pi * u2;
    spare_ = r * std::sin(t);
    haveSpare_ = true;
    return r * std::cos(t);
}

void DutProcessor::Converter(float& a, float& b) {
    b = static_cast<float>(b * gainB_);
    if (noiseRms_ > 0.0) {
        a = static_cast<float>(a + noiseRms_ * Gaussian());
        b = static_cast<float>(b + noiseRms_ * Gaussian());
    }
}

}  // namespace miral::audio
