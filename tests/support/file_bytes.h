// SPDX-License-Identifier: GPL-3.0-or-later
// Reading back what the instrument wrote: a whole file as bytes, and
// little-endian numbers at a byte offset.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace miral::testing {

inline std::string fileBytes(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline std::uint32_t u32At(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}

inline std::int32_t i32At(const std::string& b, std::size_t at) {
    return static_cast<std::int32_t>(u32At(b, at));
}

inline double f64At(const std::string& b, std::size_t at) {
    std::uint64_t u = 0;
    for (std::size_t i = 0; i < 8; ++i)
        u |= static_cast<std::uint64_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    double v = 0;
    std::memcpy(&v, &u, 8);
    return v;
}

}  // namespace miral::testing
