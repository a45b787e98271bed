#include "storage/preferences.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>

namespace miral::storage {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Files bigger than this are not preference files; reading stops there.
constexpr std::size_t kMaxFileBytes = 16u << 20;

}  // namespace

std::optional<long long> parseInteger(std::string_view text) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    long long v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return v;
}

std::optional<double> parseReal(std::string_view text) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double v = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

bool Preferences::load(const std::filesystem::path& file) {
    clear();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        loadError_ = std::string("cannot open ") + file.string() + ": " + std::strerror(errno);
        return false;
    }
    std::string content;
    content.resize(kMaxFileBytes);
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) {
        loadError_ = "cannot read " + file.string();
        return false;
    }
    loadFromText(content);
    return true;
}

void Preferences::loadFromText(std::string_view text) {
    lines_.clear();
    loadError_.clear();
    // Lines end with LF, CR LF or a lone CR.
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (ch == '\n' || ch == '\r') {
            lines_.emplace_back(text.substr(start, i - start));
            if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines_.emplace_back(text.substr(start));
    loaded_ = true;
}

void Preferences::clear() {
    lines_.clear();
    loaded_ = false;
    loadError_.clear();
}

std::optional<std::string_view> Preferences::value(std::string_view key) const {
    for (const std::string& line : lines_) {
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (!equalsNoCase(std::string_view(line).substr(0, eq), key)) continue;
        std::string_view v = std::string_view(line).substr(eq + 1);
        if (v.empty()) return std::nullopt;
        return v;
    }
    return std::nullopt;
}

int Preferences::readInt(std::string_view key, int def) const {
    auto v = value(key);
    if (!v) return def;
    auto n = parseInteger(*v);
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max()) return def;
    return static_cast<int>(*n);
}

double Preferences::readReal(std::string_view key, double def) const {
    auto v = value(key);
    if (!v) return def;
    auto d = parseReal(*v);
    return d ? *d : def;
}

std::string Preferences::readText(std::string_view key, std::string_view def) const {
    auto v = value(key);
    return std::string(v ? *v : def);
}

std::filesystem::path configDirectory(const std::optional<std::filesystem::path>& chosen, std::string* error) {
    namespace fs = std::filesystem;
    fs::path dir;
    if (chosen) {
        dir = *chosen;
    } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        dir = fs::path(xdg) / "miral";
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        dir = fs::path(home) / ".config" / "miral";
    } else {
        dir = fs::current_path();
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir, ec)) {
        if (error) *error = "cannot use the configuration folder " + dir.string() + ": " + ec.message();
        return fs::current_path(ec);
    }
    return dir;
}

}  // namespace miral::storage
