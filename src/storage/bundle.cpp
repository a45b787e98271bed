// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/bundle.h"

#include <cmath>
#include <cstring>
#include <map>
#include <optional>

#include "storage/file_io.h"
#include "storage/panel_store.h"

namespace miral::storage {

namespace {

// Data types and array classes of the MAT-file format.
constexpr std::uint32_t miINT8 = 1, miUINT8 = 2, miINT16 = 3, miUINT16 = 4, miINT32 = 5, miUINT32 = 6,
                        miSINGLE = 7, miDOUBLE = 9, miINT64 = 12, miUINT64 = 13, miMATRIX = 14,
                        miCOMPRESSED = 15, miUTF8 = 16;
constexpr std::uint32_t mxCHAR_CLASS = 4, mxDOUBLE_CLASS = 6, mxSINGLE_CLASS = 7, mxUINT8_CLASS = 9;

constexpr std::size_t kHeaderBytes = 128;
constexpr const char* kHeaderText =
    "MATLAB 5.0 MAT-file, Platform: Linux, Created by: Miral (measurement bundle)";

// ---- Writing ----------------------------------------------------------------------------

void putU32(std::string& b, std::uint32_t v) {
    char c[4];
    for (int i = 0; i < 4; ++i) c[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    b.append(c, 4);
}

void pad8(std::string& b) {
    while (b.size() % 8 != 0) b += '\0';
}

std::size_t padded8(std::size_t n) {
    return (n + 7) / 8 * 8;
}

// UTF-8 to UTF-16 code units; a byte that does not start a valid sequence
// becomes U+FFFD.
std::vector<std::uint16_t> toUtf16(std::string_view s) {
    std::vector<std::uint16_t> out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        auto cont = [&](std::size_t k) {
            return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        };
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && cont(1)) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            len = 2;
            if (cp < 0x80) cp = 0xFFFD;
        } else if ((c & 0xF0) == 0xE0 && cont(1) && cont(2)) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        } else if ((c & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
            cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
                 ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<std::uint16_t>(cp));
        }
        i += len;
    }
    return out;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Writer {
  public:
    Writer() {
        std::string text(kHeaderText);
        text.resize(116, ' ');
        bytes_ = text;
        bytes_.append(8, '\0');             // no subsystem data
        bytes_ += static_cast<char>(0x00);  // version 0x0100, little-endian
        bytes_ += static_cast<char>(0x01);
        bytes_ += "IM";
    }

    void text(std::string_view name, std::string_view value) {
        const std::vector<std::uint16_t> units = toUtf16(value);
        std::string data;
        data.reserve(2 * units.size());
        for (std::uint16_t u : units) {
            data += static_cast<char>(u & 0xFF);
            data += static_cast<char>(u >> 8);
        }
        element(name, mxCHAR_CLASS, 1, units.size(), miUINT16, data);
    }
    void singles(std::string_view name, const std::vector<float>& v) {
        std::string data(4 * v.size(), '\0');
        if (!v.empty()) std::memcpy(data.data(), v.data(), data.size());  // little-endian host
        element(name, mxSINGLE_CLASS, v.size(), 1, miSINGLE, data);
    }
    void scalar(std::string_view name, double v) {
        std::string data(8, '\0');
        std::memcpy(data.data(), &v, 8);
        element(name, mxDOUBLE_CLASS, 1, 1, miDOUBLE, data);
    }
    void bytes(std::string_view name, std::string_view v) {
        element(name, mxUINT8_CLASS, v.size(), 1, miUINT8, v);
    }
    std::string take() { return std::move(bytes_); }

  private:
    void element(std::string_view name, std::uint32_t cls, std::size_t rows, std::size_t cols,
                 std::uint32_t type, std::string_view data) {
        const std::size_t size = 16 + 16 + 8 + padded8(name.size()) + 8 + padded8(data.size());
        putU32(bytes_, miMATRIX);
        putU32(bytes_, static_cast<std::uint32_t>(size));
        putU32(bytes_, miUINT32);
        putU32(bytes_, 8);
        putU32(bytes_, cls);
        putU32(bytes_, 0);
        putU32(bytes_, miINT32);
        putU32(bytes_, 8);
        putU32(bytes_, static_cast<std::uint32_t>(rows));
        putU32(bytes_, static_cast<std::uint32_t>(cols));
        putU32(bytes_, miINT8);
        putU32(bytes_, static_cast<std::uint32_t>(name.size()));
        bytes_.append(name);
        pad8(bytes_);
        putU32(bytes_, type);
        putU32(bytes_, static_cast<std::uint32_t>(data.size()));
        bytes_.append(data);
        pad8(bytes_);
    }
    std::string bytes_;
};

// ---- Reading ----------------------------------------------------------------------------

std::uint32_t getU32(std::string_view b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

// One tagged data element inside [at, end): its type and data.
struct Tagged {
    std::uint32_t type = 0;
    std::string_view data;
    std::size_t next = 0;  // offset of the following element
};

bool readTagged(std::string_view b, std::size_t at, std::size_t end, Tagged& t) {
    if (at > end || end - at < 8) return false;
    const std::uint32_t first = getU32(b, at);
    if ((first >> 16) != 0) {  // small element: 2-byte size, 2-byte type, data in the next 4 bytes
        const std::uint32_t size = first >> 16;
        if (size > 4) return false;
        t.type = first & 0xFFFF;
        t.data = b.substr(at + 4, size);
        t.next = at + 8;
        return true;
    }
    const std::uint64_t size = getU32(b, at + 4);
    if (size > end - at - 8) return false;
    t.type = first;
    t.data = b.substr(at + 8, static_cast<std::size_t>(size));
    const std::uint64_t next = at + 8 + padded8(static_cast<std::size_t>(size));
    t.next = static_cast<std::size_t>(std::min<std::uint64_t>(next, end));
    return true;
}

struct Variable {
    std::uint32_t arrayClass = 0;
    std::vector<std::int64_t> dims;
    std::uint32_t dataType = 0;
    std::string_view data;
};

std::size_t typeSize(std::uint32_t type) {
    switch (type) {
        case miINT8:
        case miUINT8:
        case miUTF8:
            return 1;
        case miINT16:
        case miUINT16:
            return 2;
        case miINT32:
        case miUINT32:
        case miSINGLE:
            return 4;
        case miDOUBLE:
        case miINT64:
        case miUINT64:
            return 8;
        default:
            return 0;
    }
}

// The numbers of a numeric variable, widened to double (exact for every
// type up to 32 bits and for single and double).
std::optional<std::vector<double>> numbers(const Variable& v) {
    const std::size_t w = typeSize(v.dataType);
    if (w == 0 || v.dataType == miUTF8 || v.data.size() % w != 0) return std::nullopt;
    std::int64_t count = 1;
    for (std::int64_t d : v.dims) count *= d;
    if (static_cast<std::size_t>(count) != v.data.size() / w) return std::nullopt;
    std::vector<double> out(v.data.size() / w);
    const char* p = v.data.data();
    for (std::size_t i = 0; i < out.size(); ++i, p += w) {
        switch (v.dataType) {
            case miINT8:
                out[i] = static_cast<std::int8_t>(*p);
                break;
            case miUINT8:
                out[i] = static_cast<unsigned char>(*p);
                break;
            case miINT16: {
                std::int16_t x;
                std::memcpy(&x, p, 2);
                out[i] = x;
                break;
            }
            case miUINT16: {
                std::uint16_t x;
                std::memcpy(&x, p, 2);
                out[i] = x;
                break;
            }
            case miINT32: {
                std::int32_t x;
                std::memcpy(&x, p, 4);
                out[i] = x;
                break;
            }
            case miUINT32: {
                std::uint32_t x;
                std::memcpy(&x, p, 4);
                out[i] = x;
                break;
            }
            case miSINGLE: {
                float x;
                std::memcpy(&x, p, 4);
                out[i] = x;
                break;
            }
            case miDOUBLE: {
                double x;
                std::memcpy(&x, p, 8);
                out[i] = x;
                break;
            }
            case miINT64: {
                std::int64_t x;
                std::memcpy(&x, p, 8);
                out[i] = static_cast<double>(x);
                break;
            }
            case miUINT64: {
                std::uint64_t x;
                std::memcpy(&x, p, 8);
                out[i] = static_cast<double>(x);
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

std::optional<std::string> textOf(const Variable& v) {
    if (v.arrayClass != mxCHAR_CLASS) return std::nullopt;
    if (v.dataType == miUTF8 || v.dataType == miUINT8 || v.dataType == miINT8) return std::string(v.data);
    if (v.dataType != miUINT16 || v.data.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(v.data.size() / 2);
    const std::size_t n = v.data.size() / 2;
    auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(v.data[2 * i])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(v.data[2 * i + 1])) << 8);
    };
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        appendUtf8(out, u);
    }
    return out;
}

bool parseMatrix(std::string_view b, std::size_t at, std::size_t end, std::string& name, Variable& v,
                 std::string* why) {
    Tagged flags, dims, nameTag, real;
    if (!readTagged(b, at, end, flags) || flags.type != miUINT32 || flags.data.size() != 8) {
        *why = "a variable without array flags";
        return false;
    }
    v.arrayClass = getU32(flags.data, 0) & 0xFF;
    if ((getU32(flags.data, 0) & 0x0800) != 0) {
        *why = "complex variables are not part of a bundle";
        return false;
    }
    if (!readTagged(b, flags.next, end, dims) || dims.type != miINT32 || dims.data.size() < 8 ||
        dims.data.size() % 4 != 0 || dims.data.size() > 64) {
        *why = "a variable without dimensions";
        return false;
    }
    for (std::size_t i = 0; i < dims.data.size(); i += 4) {
        const auto d = static_cast<std::int32_t>(getU32(dims.data, i));
        if (d < 0 || d > (1 << 26)) {
            *why = "a variable with impossible dimensions";
            return false;
        }
        v.dims.push_back(d);
    }
    if (!readTagged(b, dims.next, end, nameTag) || nameTag.type != miINT8 || nameTag.data.empty() ||
        nameTag.data.size() > 63) {
        *why = "a variable without a name";
        return false;
    }
    name = std::string(nameTag.data);
    while (!name.empty() && name.back() == '\0') name.pop_back();
    if (!readTagged(b, nameTag.next, end, real)) {
        *why = "variable \"" + name + "\" has no data";
        return false;
    }
    v.dataType = real.type;
    v.data = real.data;
    return true;
}

std::string quotedName(std::string_view n) {
    return "\"" + std::string(n) + "\"";
}

}  // namespace

std::string encodeBundle(const Bundle& b) {
    Writer w;
    w.text("miral_bundle", kBundleMagic);
    w.text("miral_version", b.programVersion);
    w.singles("capture_a", b.captureA);
    w.singles("capture_b", b.captureB);
    w.scalar("sample_rate", b.sampleRate);
    w.scalar("capture_rate", b.captureRate);
    w.scalar("decimation", b.decimation);
    w.text("sample_format", b.sampleFormat);
    w.text("view", b.view);
    w.scalar("fft_size", b.fftSize);
    w.text("panel_state", b.panelState);
    w.text("preferences", b.preferences);
    w.bytes("probe_table", b.probeTable);
    return w.take();
}

bool decodeBundle(std::string_view bytes, Bundle& out, std::string* why) {
    if (bytes.size() < kHeaderBytes || bytes.substr(0, 10) != "MATLAB 5.0") {
        *why = "it is not a MAT-file (a Miral bundle is a MATLAB 5.0 MAT-file)";
        return false;
    }
    if (bytes.substr(126, 2) != "IM" || static_cast<unsigned char>(bytes[124]) != 0x00 ||
        static_cast<unsigned char>(bytes[125]) != 0x01) {
        *why = "it is not a little-endian MAT-file of version 5";
        return false;
    }
    std::map<std::string, Variable, std::less<>> vars;
    std::size_t at = kHeaderBytes;
    while (at < bytes.size()) {
        Tagged t;
        if (!readTagged(bytes, at, bytes.size(), t)) {
            *why = "it is truncated or damaged at byte " + std::to_string(at);
            return false;
        }
        if (t.type == miCOMPRESSED) {
            *why = "it holds compressed variables, which a Miral bundle never has";
            return false;
        }
        if (t.type != miMATRIX) {
            *why = "it holds an element of type " + std::to_string(t.type) + " at byte " + std::to_string(at);
            return false;
        }
        const std::size_t start = static_cast<std::size_t>(t.data.data() - bytes.data());
        std::string name;
        Variable v;
        if (!parseMatrix(bytes, start, start + t.data.size(), name, v, why)) {
            *why = "it is damaged: " + *why;
            return false;
        }
        if (vars.size() > 256) {
            *why = "it holds too many variables";
            return false;
        }
        vars[name] = v;
        at = t.next;
    }
    auto var = [&](std::string_view n) -> const Variable* {
        auto it = vars.find(n);
        return it == vars.end() ? nullptr : &it->second;
    };
    auto text = [&](std::string_view n, std::string& dst) {
        const Variable* v = var(n);
        if (!v) {
            *why = "variable " + quotedName(n) + " is missing";
            return false;
        }
        auto t = textOf(*v);
        if (!t) {
            *why = "variable " + quotedName(n) + " is not a text";
            return false;
        }
        dst = std::move(*t);
        return true;
    };
    auto scalar = [&](std::string_view n, double lo, double hi, double& dst) {
        const Variable* v = var(n);
        std::optional<std::vector<double>> x;
        if (v) x = numbers(*v);
        if (!x || x->size() != 1 || !std::isfinite((*x)[0]) || (*x)[0] < lo || (*x)[0] > hi) {
            *why =
                "variable " + quotedName(n) + (v ? " is not a number in the allowed range" : " is missing");
            return false;
        }
        dst = (*x)[0];
        return true;
    };
    std::string magic;
    if (!var("miral_bundle")) {
        *why = "it is a MAT-file but not a Miral measurement bundle";
        return false;
    }
    if (!text("miral_bundle", magic)) return false;
    if (magic != kBundleMagic) {
        *why = "it is a bundle of another kind or a newer layout (\"" + magic.substr(0, 60) + "\")";
        return false;
    }
    Bundle b;
    if (!text("miral_version", b.programVersion)) return false;
    for (const char* n : {"capture_a", "capture_b"}) {
        const Variable* v = var(n);
        std::optional<std::vector<double>> x;
        if (v) x = numbers(*v);
        if (!x || x->size() != kBundleSamples) {
            *why =
                "variable " + quotedName(n) + " does not hold " + std::to_string(kBundleSamples) + " samples";
            return false;
        }
        std::vector<float>& dst = n[8] == 'a' ? b.captureA : b.captureB;
        dst.resize(kBundleSamples);
        for (std::size_t i = 0; i < kBundleSamples; ++i) {
            if (!std::isfinite((*x)[i]) || std::fabs((*x)[i]) > 1e6) {
                *why = "variable " + quotedName(n) + " holds a sample that is no finite number";
                return false;
            }
            dst[i] = static_cast<float>((*x)[i]);
        }
    }
    double decimation = 1, fft = 0;
    if (!scalar("capture_rate", 1000, 1000000, b.captureRate)) return false;
    if (!scalar("decimation", 1, 4096, decimation)) return false;
    if (!scalar("sample_rate", 1, 1000000, b.sampleRate)) return false;
    if (!scalar("fft_size", 0, 1 << 20, fft)) return false;
    if (decimation != std::floor(decimation)) {
        *why = "variable \"decimation\" is not a whole number";
        return false;
    }
    b.decimation = static_cast<int>(decimation);
    b.fftSize = static_cast<int>(fft);
    if (std::fabs(b.sampleRate * b.decimation - b.captureRate) > 1e-6 * b.captureRate) {
        *why = "sample_rate, capture_rate and decimation do not agree";
        return false;
    }
    if (!text("sample_format", b.sampleFormat) || !text("view", b.view) ||
        !text("panel_state", b.panelState) || !text("preferences", b.preferences))
        return false;
    if (b.sampleFormat != "float" && b.sampleFormat != "24-bit") {
        *why = "variable \"sample_format\" is neither \"float\" nor \"24-bit\"";
        return false;
    }
    // The panel must be one that the store can read.
    Registry reg("");
    std::string regWhy;
    if (!reg.parse(b.panelState, &regWhy)) {
        *why = "its panel state is damaged (" + regWhy + ")";
        return false;
    }
    const Variable* probes = var("probe_table");
    std::optional<std::vector<double>> p;
    if (probes) p = numbers(*probes);
    if (!p || p->size() != PrefsDat::kSize) {
        *why = "variable \"probe_table\" does not hold the " + std::to_string(PrefsDat::kSize) +
               " bytes of prefs.dat";
        return false;
    }
    b.probeTable.resize(p->size());
    for (std::size_t i = 0; i < p->size(); ++i) {
        if ((*p)[i] < 0 || (*p)[i] > 255 || (*p)[i] != std::floor((*p)[i])) {
            *why = "variable \"probe_table\" holds a value that is no byte";
            return false;
        }
        b.probeTable[i] = static_cast<char>(static_cast<unsigned char>((*p)[i]));
    }
    PrefsDat dat;
    std::string datWhy;
    if (!decodePrefsDat(b.probeTable, dat, &datWhy)) {
        *why = "its probe table is damaged (" + datWhy + ")";
        return false;
    }
    out = std::move(b);
    return true;
}

bool readBundleFile(const std::string& path, Bundle& out, std::string* error) {
    std::string bytes, readError;
    switch (readWholeFile(path, kBundleMaxBytes, &bytes, &readError)) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::Missing:
            *error = "cannot open bundle \"" + path + "\": no such file";
            return false;
        case ReadStatus::TooLarge:
            *error = "cannot open bundle \"" + path + "\": the file is far larger than a bundle";
            return false;
        case ReadStatus::NotAFile:
        case ReadStatus::Failed:
            *error = "cannot open bundle \"" + path + "\": " + readError;
            return false;
    }
    std::string why;
    if (!decodeBundle(bytes, out, &why)) {
        *error = "cannot open bundle \"" + path + "\": " + why;
        return false;
    }
    return true;
}

}  // namespace miral::storage
