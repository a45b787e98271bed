// MAT-files and binary blocks: the byte layout read back field by field, and
// the MAT-files loaded by a real reader (scipy.io.loadmat).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "storage/export.h"
#include "storage/file_io.h"
#include "storage/mat_reader.h"

namespace miral::storage {
namespace {

namespace fs = std::filesystem;

std::uint32_t u32At(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}
double f64At(const std::string& b, std::size_t at) {
    std::uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u |= static_cast<std::uint64_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    double v = 0;
    std::memcpy(&v, &u, 8);
    return v;
}

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

TEST(MatFile, ScipyReadsTheVariables) {
    const auto python = miral::testing::scipyPython();
    if (!python) GTEST_SKIP() << "scipy is not installed (Debian package python3-scipy): no real MAT reader";
    const fs::path file = fs::temp_directory_path() / "miral_export_scipy.mat";
    std::vector<double> ramp(16384), quarter(4096);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = std::sin(0.001 * static_cast<double>(i)) * 32768;
    for (std::size_t i = 0; i < quarter.size(); ++i) quarter[i] = -60 + 0.01 * static_cast<double>(i);
    MatFile m(kMatHeaderTransfer);
    m.addInt32("FrequencyStep", 2);
    m.addInt32("SamplesPerSec", 44100);
    m.addDoubles("Input", ramp.data(), ramp.size());
    m.addDoubles("GainDb", quarter.data(), quarter.size(), 0.5);
    std::string error, header;
    ASSERT_TRUE(writeFileAtomically(file, m.bytes(), &error)) << error;
    auto vars = miral::testing::loadMat(*python, file.string(), &header, &error);
    fs::remove(file);
    ASSERT_TRUE(vars) << error;
    EXPECT_NE(header.find("MATLAB 5.0 MAT-file: Transfer Function"), std::string::npos) << header;
    ASSERT_EQ(vars->size(), 4u);
    const auto& fs_ = vars->at("FrequencyStep");
    EXPECT_EQ(fs_.dtype, "int32");
    EXPECT_EQ(fs_.rows, 1);
    EXPECT_EQ(fs_.values, std::vector<double>{2});
    EXPECT_EQ(vars->at("SamplesPerSec").values, std::vector<double>{44100});
    const auto& in = vars->at("Input");
    EXPECT_EQ(in.dtype, "float64");
    EXPECT_EQ(in.rows, 16384);
    EXPECT_EQ(in.cols, 1);
    EXPECT_EQ(in.values, ramp);
    const auto& g = vars->at("GainDb");
    ASSERT_EQ(g.rows, 4096);
    for (std::size_t i = 0; i < quarter.size(); ++i) ASSERT_EQ(g.values[i], quarter[i] * 0.5) << i;
}

TEST(BinaryExport, LayoutOfBothKinds) {
    const std::vector<double> mag = {1, 2, 3}, phase = {-90, 0, 90};
    BinaryExport t{8, 2, 1, mag.data(), 0.5, phase.data(), 3};
    const std::string b = encodeBinaryExport(t);
    ASSERT_EQ(b.size(), 12u + 48);
    EXPECT_EQ(u32At(b, 0), 8u);
    EXPECT_EQ(u32At(b, 4), 2u);
    EXPECT_EQ(u32At(b, 8), 1u);
    EXPECT_EQ(f64At(b, 12), 0.5);
    EXPECT_EQ(f64At(b, 28), 1.5);
    EXPECT_EQ(f64At(b, 36), -90);
    EXPECT_EQ(f64At(b, 52), 90);
    // A spectrum has no phase block.
    BinaryExport s{4, 1, 0, mag.data(), 2.0, phase.data(), 3};
    const std::string sb = encodeBinaryExport(s);
    ASSERT_EQ(sb.size(), 12u + 24);
    EXPECT_EQ(u32At(sb, 4), 1u);
    EXPECT_EQ(u32At(sb, 8), 0u);
    EXPECT_EQ(f64At(sb, 28), 6.0);
}

}  // namespace
}  // namespace miral::storage
