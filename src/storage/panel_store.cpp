// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/panel_store.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "storage/file_io.h"
#include "storage/preferences.h"

namespace miral::storage {

namespace {

constexpr std::string_view kRegistryFirstLine = "miral-registry 1";
// No registry of ours comes near this; bigger files are not read.
constexpr std::size_t kMaxRegistryBytes = 16u << 20;

bool needsEscape(unsigned char c, bool name) {
    return c == '%' || c < 0x20 || c == 0x7F || (name && c == ' ');
}

void appendEscaped(std::string& out, std::string_view s, bool name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (needsEscape(c, name)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reverses appendEscaped; false on a broken escape or a character that
// should have been escaped.
bool unescape(std::string_view s, bool name, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '%') {
            if (i + 2 >= s.size()) return false;
            const int hi = hexDigit(s[i + 1]);
            const int lo = hexDigit(s[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (needsEscape(c, name)) {
            return false;
        } else {
            out += s[i];
        }
    }
    return true;
}

bool parseInt32(std::string_view s, std::int32_t& v) {
    if (s.empty()) return false;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && ptr == s.data() + s.size();
}

// Splits "word rest" at the first space.
bool splitWord(std::string_view line, std::string_view& word, std::string_view& rest) {
    const auto sp = line.find(' ');
    if (sp == std::string_view::npos) return false;
    word = line.substr(0, sp);
    rest = line.substr(sp + 1);
    return true;
}

// ---- little-endian fields ----
void putI32(std::string& b, std::size_t at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
}
std::int32_t getI32(std::string_view b, std::size_t at) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]))
             << (8 * i);
    return static_cast<std::int32_t>(u);
}
void putF64(std::string& b, std::size_t at, double v) {
    std::uint64_t u = 0;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
}
double getF64(std::string_view b, std::size_t at) {
    std::uint64_t u = 0;
    for (int i = 0; i < 8; ++i)
        u |= static_cast<std::uint64_t>(static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]))
             << (8 * i);
    double v = 0;
    std::memcpy(&v, &u, 8);
    return v;
}

// Moves a file that was not read aside and says where in *message; when it
// cannot be moved, *blocked says why nothing may be written over it.
void setAside(const std::filesystem::path& file, std::string* message, std::string* blocked) {
    const std::filesystem::path aside = moveAside(file);
    if (!aside.empty()) {
        *message += "; kept as " + aside.string();
        return;
    }
    *message += "; it could not be moved aside, and nothing is stored over it";
    *blocked = "the file there could not be read and could not be moved aside";
}

// Offsets of the probe block.
constexpr std::size_t kDelayAt = 1024, kShuntAt = 1104, kRProbeAt = 1184, kCProbeAt = 1264, kRinAt = 1344,
                      kCommonAt = 1352, kDiffAt = 1360;

}  // namespace

// ---- RegistryKey ----------------------------------------------------------------

RegistryValue& RegistryKey::slot(std::string_view name) {
    auto it = index_.find(name);
    if (it != index_.end()) return values_[it->second].second;
    index_.emplace(std::string(name), values_.size());
    values_.emplace_back(std::string(name), RegistryValue{});
    return values_.back().second;
}

void RegistryKey::setInt(std::string_view name, std::int32_t v) {
    RegistryValue& r = slot(name);
    r.isText = false;
    r.number = v;
    r.text.clear();
}

void RegistryKey::setText(std::string_view name, std::string_view v) {
    RegistryValue& r = slot(name);
    r.isText = true;
    r.number = 0;
    r.text.assign(v);
}

const RegistryValue* RegistryKey::find(std::string_view name) const {
    auto it = index_.find(name);
    return it == index_.end() ? nullptr : &values_[it->second].second;
}

std::optional<std::int32_t> RegistryKey::readInt(std::string_view name) const {
    const RegistryValue* v = find(name);
    if (!v || v->isText) return std::nullopt;
    return v->number;
}

std::optional<std::string> RegistryKey::readText(std::string_view name) const {
    const RegistryValue* v = find(name);
    if (!v || !v->isText) return std::nullopt;
    return v->text;
}

// ---- Registry -------------------------------------------------------------------

RegistryKey* Registry::openKey(std::string_view name, bool create) {
    for (auto& [n, k] : keys_)
        if (n == name) return k.get();
    if (!create) return nullptr;
    keys_.emplace_back(std::string(name), std::make_unique<RegistryKey>());
    return keys_.back().second.get();
}

const RegistryKey* Registry::findKey(std::string_view name) const {
    for (const auto& [n, k] : keys_)
        if (n == name) return k.get();
    return nullptr;
}

std::string Registry::serialize() const {
    std::string out;
    out.reserve(64 * 1024);
    out.append(kRegistryFirstLine).append("\n");
    std::size_t values = 0;
    for (const auto& [name, key] : keys_) {
        out += "key ";
        appendEscaped(out, name, false);
        out += '\n';
        for (const auto& [vname, v] : key->values()) {
            out += v.isText ? "text " : "int ";
            appendEscaped(out, vname, true);
            out += ' ';
            if (v.isText) {
                appendEscaped(out, v.text, false);
            } else {
                out += std::to_string(v.number);
            }
            out += '\n';
            ++values;
        }
    }
    out += "end " + std::to_string(keys_.size()) + " " + std::to_string(values) + "\n";
    return out;
}

bool Registry::parse(std::string_view text, std::string* why) {
    keys_.clear();
    std::size_t lineNo = 0;
    std::size_t values = 0;
    bool ended = false;
    RegistryKey* current = nullptr;
    std::string name, value;
    auto bad = [&](const std::string& what) {
        *why = "line " + std::to_string(lineNo) + ": " + what;
        keys_.clear();
        return false;
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            ++lineNo;
            return bad("the file ends in the middle of a line");
        }
        const std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        ++lineNo;
        if (ended) return bad("text after the end line");
        if (lineNo == 1) {
            if (line != kRegistryFirstLine) return bad("not a registry file of this program");
            continue;
        }
        std::string_view word, rest;
        if (!splitWord(line, word, rest)) return bad("unknown line");
        if (word == "key") {
            if (!unescape(rest, false, name) || name.empty()) return bad("bad key name");
            if (findKey(name)) return bad("key " + name + " twice");
            current = openKey(name, true);
        } else if (word == "int" || word == "text") {
            if (!current) return bad("a value outside any key");
            std::string_view vname, vtext;
            if (!splitWord(rest, vname, vtext)) return bad("a value without a name");
            if (!unescape(vname, true, name) || name.empty()) return bad("bad value name");
            if (current->find(name)) return bad("value " + name + " twice");
            if (word == "int") {
                std::int32_t v = 0;
                if (!parseInt32(vtext, v)) return bad("value " + name + " is not a 32-bit integer");
                current->setInt(name, v);
            } else {
                if (!unescape(vtext, false, value)) return bad("bad text in value " + name);
                current->setText(name, value);
            }
            ++values;
        } else if (word == "end") {
            std::string_view k, v;
            std::int32_t nk = 0, nv = 0;
            if (!splitWord(rest, k, v) || !parseInt32(k, nk) || !parseInt32(v, nv))
                return bad("bad end line");
            if (static_cast<std::size_t>(nk) != keys_.size() || static_cast<std::size_t>(nv) != values)
                return bad("the counts of the end line do not match");
            ended = true;
        } else {
            return bad("unknown line");
        }
    }
    if (lineNo == 0) {
        *why = "the file is empty";
        return false;
    }
    if (!ended) {
        *why = "the file is cut short";
        keys_.clear();
        return false;
    }
    return true;
}

LoadStatus Registry::load() {
    keys_.clear();
    message_.clear();
    blocked_.clear();
    std::string bytes, error;
    switch (readWholeFile(file_, kMaxRegistryBytes, &bytes, &error)) {
        case ReadStatus::Missing:
            return LoadStatus::Missing;
        case ReadStatus::NotAFile:
            // Someone else's: left alone, and the write refuses to replace it.
            message_ = "the stored panel is unreadable (" + error +
                       "); using the defaults, and nothing is stored over it";
            return LoadStatus::Unreadable;
        case ReadStatus::Failed:
            // The panel may still be in it: set aside, never written over.
            message_ = "the stored panel is unreadable (" + error + "); using the defaults";
            setAside(file_, &message_, &blocked_);
            return LoadStatus::Unreadable;
        case ReadStatus::TooLarge:
        case ReadStatus::Ok:
            break;
    }
    std::string why = error;
    if (why.empty() && parse(bytes, &why)) return LoadStatus::Loaded;
    message_ = "the stored panel " + file_.string() + " is damaged (" + why + "); using the defaults";
    setAside(file_, &message_, &blocked_);
    return LoadStatus::Damaged;
}

bool Registry::writable(std::string* error) const {
    if (blocked_.empty()) return true;
    *error = "cannot write " + file_.string() + ": " + blocked_;
    return false;
}

bool Registry::save(std::string* error) const {
    return writable(error) && writeFileAtomically(file_, serialize(), error);
}

// ---- prefs.dat --------------------------------------------------------------------

std::string encodePrefsDat(const PrefsDat& p) {
    std::string b(PrefsDat::kSize, '\0');
    for (int k = 0; k < PrefsDat::kSchemes; ++k)
        for (int t = 0; t < PrefsDat::kSlots; ++t)
            putI32(b, static_cast<std::size_t>(80 * k + 4 * t),
                   p.colors[static_cast<std::size_t>(k)][static_cast<std::size_t>(t)]);
    for (std::size_t i = 0; i < PrefsDat::kProbes; ++i) {
        putF64(b, kDelayAt + 8 * i, p.delayNs[i]);
        putF64(b, kShuntAt + 8 * i, p.shuntOhm[i]);
        putF64(b, kRProbeAt + 8 * i, p.probeMilliOhm[i]);
        putF64(b, kCProbeAt + 8 * i, p.probePf[i]);
        putF64(b, kDiffAt + 8 * i, p.diffGainDb[i]);
    }
    putF64(b, kRinAt, p.inputImpedance);
    putF64(b, kCommonAt, p.commonGain);
    return b;
}

bool decodePrefsDat(std::string_view b, PrefsDat& out, std::string* why, std::string* outside) {
    if (b.size() != PrefsDat::kSize) {
        *why = std::to_string(b.size()) + " bytes instead of " + std::to_string(PrefsDat::kSize);
        return false;
    }
    PrefsDat p;
    for (int k = 0; k < PrefsDat::kSchemes; ++k)
        for (int t = 0; t < PrefsDat::kSlots; ++t)
            p.colors[static_cast<std::size_t>(k)][static_cast<std::size_t>(t)] =
                getI32(b, static_cast<std::size_t>(80 * k + 4 * t));
    if (p.selectedScheme() < 0 || p.selectedScheme() >= PrefsDat::kSchemes) {
        *why = "selected colour scheme " + std::to_string(p.selectedScheme());
        return false;
    }
    for (std::size_t k = 0; k < PrefsDat::kSchemes; ++k)
        for (std::size_t t = 1; t <= 18; ++t)
            if (static_cast<std::uint32_t>(p.colors[k][t]) > 0x00FFFFFFu) {
                *why = "colour " + std::to_string(t) + " of scheme " + std::to_string(k) + " is no colour";
                return false;
            }
    for (std::size_t i = 0; i < PrefsDat::kProbes; ++i) {
        p.delayNs[i] = getF64(b, kDelayAt + 8 * i);
        p.shuntOhm[i] = getF64(b, kShuntAt + 8 * i);
        p.probeMilliOhm[i] = getF64(b, kRProbeAt + 8 * i);
        p.probePf[i] = getF64(b, kCProbeAt + 8 * i);
        p.diffGainDb[i] = getF64(b, kDiffAt + 8 * i);
    }
    p.inputImpedance = getF64(b, kRinAt);
    p.commonGain = getF64(b, kCommonAt);
    auto finite = [](const auto& a) {
        for (double v : a)
            if (!std::isfinite(v)) return false;
        return true;
    };
    if (!finite(p.delayNs) || !finite(p.shuntOhm) || !finite(p.probeMilliOhm) || !finite(p.probePf) ||
        !finite(p.diffGainDb) || !std::isfinite(p.inputImpedance) || !std::isfinite(p.commonGain)) {
        *why = "a probe value is no number";
        return false;
    }
    std::string list;
    auto check = [&](double& v, const ProbeRange& r, int probe) {
        if (r.contains(v)) return;
        if (!list.empty()) list += ", ";
        if (probe > 0) list += "probe " + std::to_string(probe) + " ";
        list += std::string(r.name) + " " + shortestNumber(v) + " " + std::string(r.unit) + " is outside " +
                shortestNumber(r.min) + ".." + shortestNumber(r.max);
        v = r.fallback;
    };
    for (std::size_t i = 0; i < PrefsDat::kProbes; ++i) {
        const int probe = static_cast<int>(i) + 1;
        check(p.delayNs[i], kProbeDelayRange, probe);
        check(p.shuntOhm[i], kProbeShuntRange, probe);
        check(p.probeMilliOhm[i], kProbeResistanceRange, probe);
        check(p.probePf[i], kProbeCapacitanceRange, probe);
        check(p.diffGainDb[i], kDiffGainRange, probe);
    }
    check(p.inputImpedance, kInputImpedanceRange, 0);
    check(p.commonGain, kCommonGainRange, 0);
    if (outside) *outside = list;
    out = p;
    return true;
}

LoadStatus loadPrefsDat(const std::filesystem::path& file, PrefsDat& out, std::string* message,
                        std::string* blocked) {
    message->clear();
    std::string unused;
    if (!blocked) blocked = &unused;
    blocked->clear();
    std::string bytes, error;
    switch (readWholeFile(file, 1u << 20, &bytes, &error)) {
        case ReadStatus::Missing:
            return LoadStatus::Missing;
        case ReadStatus::NotAFile:
            // Someone else's: left alone, and the write refuses to replace it.
            *message = error + "; using the default colours and probe values, and nothing is stored over it";
            return LoadStatus::Unreadable;
        case ReadStatus::Failed:
            *message = error + "; using the default colours and probe values";
            setAside(file, message, blocked);
            return LoadStatus::Unreadable;
        case ReadStatus::TooLarge:
        case ReadStatus::Ok:
            break;
    }
    std::string why = error, outside;
    if (why.empty() && decodePrefsDat(bytes, out, &why, &outside)) {
        if (!outside.empty()) *message = file.string() + ": " + outside + "; the defaults are used instead";
        return LoadStatus::Loaded;
    }
    *message = file.string() + " is damaged (" + why + "); using the default colours and probe values";
    setAside(file, message, blocked);
    return LoadStatus::Damaged;
}

bool savePrefsDat(const std::filesystem::path& file, const PrefsDat& p, std::string* error) {
    return writeFileAtomically(file, encodePrefsDat(p), error);
}

}  // namespace miral::storage
