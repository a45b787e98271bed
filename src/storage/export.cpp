// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/export.h"

#include <cstring>

namespace miral::storage {

namespace {

constexpr std::size_t kHeaderTextBytes = 116;

void putU32(std::string& b, std::uint32_t v) {
    char c[4];
    for (int i = 0; i < 4; ++i) c[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    b.append(c, 4);
}
void putI32(std::string& b, std::int32_t v) {
    putU32(b, static_cast<std::uint32_t>(v));
}
void putF64(std::string& b, double v) {
    std::uint64_t u = 0;
    std::memcpy(&u, &v, 8);
    char c[8];
    for (int i = 0; i < 8; ++i) c[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
    b.append(c, 8);
}

// Data types and array classes of the format.
constexpr std::uint32_t miINT8 = 1, miINT32 = 5, miUINT32 = 6, miDOUBLE = 9, miMATRIX = 14;
constexpr int mxDOUBLE_CLASS = 6, mxINT32_CLASS = 12;

}  // namespace

MatFile::MatFile(std::string_view headerText) {
    std::string text(headerText.substr(0, kHeaderTextBytes));
    text.resize(kHeaderTextBytes, '\0');
    bytes_ = text;
    bytes_.append(8, '\0');             // subsystem data offset
    bytes_ += static_cast<char>(0x00);  // version 0x0100, little-endian
    bytes_ += static_cast<char>(0x01);
    bytes_ += "IM";
}

void MatFile::beginElement(std::string_view name, int arrayClass, std::size_t n, std::size_t dataBytes) {
    const std::size_t p = paddedNameLength(name.size());
    putU32(bytes_, miMATRIX);
    putU32(bytes_, static_cast<std::uint32_t>(elementSize(name.size(), dataBytes)));
    putU32(bytes_, miUINT32);
    putU32(bytes_, 8);
    putU32(bytes_, static_cast<std::uint32_t>(arrayClass) | (4u << 8));
    putU32(bytes_, 0);
    putU32(bytes_, miINT32);
    putU32(bytes_, 8);
    putI32(bytes_, static_cast<std::int32_t>(n));
    putI32(bytes_, 1);
    // The name tag gives the name's own length, so that readers take the
    // name without the zero bytes that pad it to P (a name whose length is a
    // multiple of 8 has 8 padding bytes that a reader could not skip: it
    // keeps them in the name's length).
    putU32(bytes_, miINT8);
    putU32(bytes_, static_cast<std::uint32_t>(name.size() % 8 == 0 ? p : name.size()));
    bytes_.append(name);
    bytes_.append(p - name.size(), '\0');
}

void MatFile::addInt32(std::string_view name, std::int32_t value) {
    beginElement(name, mxINT32_CLASS, 1, 8);
    putU32(bytes_, miINT32);
    putU32(bytes_, 4);
    putI32(bytes_, value);
    putU32(bytes_, 0);
}

void MatFile::addDoubles(std::string_view name, const double* values, std::size_t n, double factor) {
    beginElement(name, mxDOUBLE_CLASS, n, 8 * n);
    putU32(bytes_, miDOUBLE);
    putU32(bytes_, static_cast<std::uint32_t>(8 * n));
    bytes_.reserve(bytes_.size() + 8 * n);
    for (std::size_t i = 0; i < n; ++i) putF64(bytes_, values[i] * factor);
}

std::string encodeBinaryExport(const BinaryExport& b) {
    std::string out;
    out.reserve(12 + 16 * b.n);
    putI32(out, b.divider);
    putI32(out, b.kind);
    putI32(out, b.logAxis);
    for (std::size_t i = 0; i < b.n; ++i) putF64(out, b.magnitude[i] * b.magnitudeFactor);
    if (b.kind == 2 && b.phase)
        for (std::size_t i = 0; i < b.n; ++i) putF64(out, b.phase[i]);
    return out;
}

}  // namespace miral::storage
