// SPDX-License-Identifier: GPL-3.0-or-later
// Measurement files: MAT-files (MATLAB 5.0 MAT-file format, level 5) of n x 1
// double columns and int32 scalars, and the raw binary block (".bin").
// Both are built in memory and written whole (storage/file_io.h).
//
// MAT-file layout, little-endian: a 128-byte header (the header text padded
// with zero bytes to 116, 8 zero bytes of subsystem offset, version 0x0100,
// "IM"), then per variable one matrix element:
//   type 14, size 48 + P + D;
//   flags tag (type 6, size 8), flags (class: 6 double or 12 int32; byte 1 = 4);
//   dimensions tag (type 5, size 8), int32 n, int32 1;
//   name tag (type 1, size: the name's length), the name padded with zero
//     bytes to P = (length / 8 + 1) x 8;
//   data tag: doubles type 9, size 8n, then the n values (D = 8n); an int32
//     scalar type 5, size 4, then the value and 4 zero bytes (D = 8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace miral::storage {

inline constexpr std::string_view kMatHeaderTransfer = "MATLAB 5.0 MAT-file: Transfer Function ";
inline constexpr std::string_view kMatHeaderSpectrum = "MATLAB 5.0 MAT-file: FFT Array         ";

class MatFile {
  public:
    // The header text (at most 116 characters).
    explicit MatFile(std::string_view headerText);

    void addInt32(std::string_view name, std::int32_t value);
    // n values, each multiplied by factor.
    void addDoubles(std::string_view name, const double* values, std::size_t n, double factor = 1.0);

    const std::string& bytes() const { return bytes_; }

    // Padded name length P and the size field of a variable's element.
    static std::size_t paddedNameLength(std::size_t nameLength) { return (nameLength / 8 + 1) * 8; }
    static std::size_t elementSize(std::size_t nameLength, std::size_t dataBytes) {
        return 48 + paddedNameLength(nameLength) + dataBytes;
    }

  private:
    void beginElement(std::string_view name, int arrayClass, std::size_t n, std::size_t dataBytes);
    std::string bytes_;
};

// The ".bin" block: int32 divider, int32 kind (2 transfer function, 1
// spectrum), int32 axis (1 logarithmic, 0 linear), n doubles of magnitude
// times magnitudeFactor, and for a transfer function n doubles of phase.
struct BinaryExport {
    std::int32_t divider = 4;
    std::int32_t kind = 1;
    std::int32_t logAxis = 1;
    const double* magnitude = nullptr;
    double magnitudeFactor = 1.0;
    const double* phase = nullptr;  // written when kind is 2
    std::size_t n = 0;
};
std::string encodeBinaryExport(const BinaryExport& b);

}  // namespace miral::storage
