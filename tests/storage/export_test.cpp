// SPDX-License-Identifier: GPL-3.0-or-later
// MAT-files: the byte layout read back field by field (the instrument's
// export tests load whole files with a real reader).
#include "storage/export.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/file_bytes.h"

namespace miral::storage {
namespace {

using miral::testing::f64At;
using miral::testing::u32At;

TEST(MatFile, HeaderAndElementLayout) {
    MatFile m(kMatHeaderSpectrum);
    ASSERT_EQ(kMatHeaderSpectrum.size(), 39u);
    ASSERT_EQ(kMatHeaderTransfer.size(), 39u);
    const std::vector<double> v = {1.5, -2.25, 3e-9};
    m.addInt32("FrequencyStep", 2);
    m.addDoubles("Input1", v.data(), v.size(), 2.0);
    const std::string& b = m.bytes();
    // Header: the text, zeros to 116, 8 zero bytes, version 0x0100, "IM".
    EXPECT_EQ(b.substr(0, 39), std::string(kMatHeaderSpectrum));
    for (std::size_t i = 39; i < 124; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(static_cast<unsigned char>(b[124]), 0x00);
    EXPECT_EQ(static_cast<unsigned char>(b[125]), 0x01);
    EXPECT_EQ(b.substr(126, 2), "IM");
    // The int32 scalar: 13 characters pad to 16; data 8 bytes.
    std::size_t at = 128;
    EXPECT_EQ(u32At(b, at), 14u);
    EXPECT_EQ(u32At(b, at + 4), 48u + 16 + 8);
    EXPECT_EQ(u32At(b, at + 8), 6u);
    EXPECT_EQ(u32At(b, at + 12), 8u);
    EXPECT_EQ(u32At(b, at + 16), 12u | (4u << 8));  // int32 class, byte 1 = 4
    EXPECT_EQ(u32At(b, at + 20), 0u);
    EXPECT_EQ(u32At(b, at + 24), 5u);
    EXPECT_EQ(u32At(b, at + 28), 8u);
    EXPECT_EQ(u32At(b, at + 32), 1u);  // 1 x 1
    EXPECT_EQ(u32At(b, at + 36), 1u);
    EXPECT_EQ(u32At(b, at + 40), 1u);  // int8 name of 13 characters in 16 bytes
    EXPECT_EQ(u32At(b, at + 44), 13u);
    EXPECT_EQ(b.substr(at + 48, 16), std::string("FrequencyStep\0\0\0", 16));
    EXPECT_EQ(u32At(b, at + 64), 5u);
    EXPECT_EQ(u32At(b, at + 68), 4u);
    EXPECT_EQ(u32At(b, at + 72), 2u);
    EXPECT_EQ(u32At(b, at + 76), 0u);
    at += 8 + 48 + 16 + 8;
    // The double column: "Input1" pads to 8, 3 values x 2.
    EXPECT_EQ(u32At(b, at), 14u);
    EXPECT_EQ(u32At(b, at + 4), 48u + 8 + 24);
    EXPECT_EQ(u32At(b, at + 16), 6u | (4u << 8));
    EXPECT_EQ(u32At(b, at + 32), 3u);
    EXPECT_EQ(u32At(b, at + 36), 1u);
    EXPECT_EQ(u32At(b, at + 44), 6u);
    EXPECT_EQ(b.substr(at + 48, 8), std::string("Input1\0\0", 8));
    EXPECT_EQ(u32At(b, at + 56), 9u);
    EXPECT_EQ(u32At(b, at + 60), 24u);
    EXPECT_EQ(f64At(b, at + 64), 3.0);
    EXPECT_EQ(f64At(b, at + 72), -4.5);
    EXPECT_EQ(f64At(b, at + 80), 6e-9);
    EXPECT_EQ(b.size(), at + 88);
    // Name padding: one to seven characters take 8, eight to fifteen 16.
    EXPECT_EQ(MatFile::paddedNameLength(1), 8u);
    EXPECT_EQ(MatFile::paddedNameLength(7), 8u);
    EXPECT_EQ(MatFile::paddedNameLength(8), 16u);
    EXPECT_EQ(MatFile::paddedNameLength(15), 16u);
    EXPECT_EQ(MatFile::elementSize(6, 8 * 16384), 48u + 8 + 131072);
}

}  // namespace
}  // namespace miral::storage
