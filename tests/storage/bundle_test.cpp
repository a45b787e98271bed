// SPDX-License-Identifier: GPL-3.0-or-later
// Measurement bundles: what is written reads back exactly; anything cut
// short or changed where it matters is refused with a reason.
#include "storage/bundle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "storage/panel_store.h"

namespace miral::storage {
namespace {

Bundle sample() {
    Bundle b;
    b.programVersion = "9.8.7";
    b.captureA.resize(kBundleSamples);
    b.captureB.resize(kBundleSamples);
    for (std::size_t i = 0; i < kBundleSamples; ++i) {
        b.captureA[i] = static_cast<float>(std::sin(0.01 * static_cast<double>(i)));
        b.captureB[i] = static_cast<float>(i % 7) * 1.0e-7f - 3.0e-7f;  // tiny values, exactly
    }
    b.captureA[5] = -1.0f;
    b.captureB[6] = std::nextafter(1.0f, 0.0f);
    b.captureRate = 96000;
    b.decimation = 3;
    b.sampleRate = 32000;
    b.sampleFormat = "24-bit";
    b.view = "XFR";
    b.fftSize = 65536;
    b.panelState =
        "miral-registry 1\nkey Software\\Zorvane\\V1_005\\States\nint check_all 346\n"
        "text CmpB7 Grüße ✓ 𝄞 %25\nend 1 2\n";
    b.preferences = "Max_Refresh=75\nProbe1=Sonde ä\n";
    PrefsDat dat;
    dat.colors[0][0] = 3;
    dat.shuntOhm[2] = 0.1;
    b.probeTable = encodePrefsDat(dat);
    return b;
}

TEST(Bundle, ReadsBackExactly) {
    const Bundle b = sample();
    const std::string bytes = encodeBundle(b);
    Bundle r;
    std::string why;
    ASSERT_TRUE(decodeBundle(bytes, r, &why)) << why;
    EXPECT_EQ(r.programVersion, b.programVersion);
    ASSERT_EQ(r.captureA.size(), kBundleSamples);
    EXPECT_EQ(0, std::memcmp(r.captureA.data(), b.captureA.data(), 4 * kBundleSamples));
    EXPECT_EQ(0, std::memcmp(r.captureB.data(), b.captureB.data(), 4 * kBundleSamples));
    EXPECT_EQ(r.captureRate, 96000);
    EXPECT_EQ(r.decimation, 3);
    EXPECT_EQ(r.sampleRate, 32000);
    EXPECT_EQ(r.sampleFormat, "24-bit");
    EXPECT_EQ(r.view, "XFR");
    EXPECT_EQ(r.fftSize, 65536);
    EXPECT_EQ(r.panelState, b.panelState);  // texts beyond ASCII and beyond 16 bits come back byte for byte
    EXPECT_EQ(r.preferences, b.preferences);
    EXPECT_EQ(r.probeTable, b.probeTable);
}

TEST(Bundle, LayoutOtherReadersNeed) {
    const std::string bytes = encodeBundle(sample());
    // A MAT-file of version 5, little-endian.
    EXPECT_EQ(bytes.substr(0, 10), "MATLAB 5.0");
    EXPECT_EQ(bytes.substr(126, 2), "IM");
    EXPECT_EQ(bytes.size() % 8, 0u);
    // The name tag of "capture_a" gives its 9 characters, padded to 16.
    const std::size_t at = bytes.find("capture_a");
    ASSERT_NE(at, std::string::npos);
    std::uint32_t tag[2];
    std::memcpy(tag, bytes.data() + at - 8, 8);
    EXPECT_EQ(tag[0], 1u);  // int8
    EXPECT_EQ(tag[1], 9u);
    std::uint32_t data[2];
    std::memcpy(data, bytes.data() + at + 16, 8);
    EXPECT_EQ(data[0], 7u);  // single
    EXPECT_EQ(data[1], 4u * kBundleSamples);
}

TEST(Bundle, RefusesWhatIsCutShortOrWrong) {
    const std::string good = encodeBundle(sample());
    Bundle r;
    std::string why;
    // Every cut inside the file (in steps that meet every element boundary
    // class) is refused.
    for (std::size_t n = 0; n < good.size(); n += (n < 4096 ? 1 : 4093)) {
        EXPECT_FALSE(decodeBundle(std::string_view(good).substr(0, n), r, &why)) << n;
        EXPECT_FALSE(why.empty());
    }
    auto changed = [&](std::string_view what, auto&& edit) {
        std::string bytes = good;
        edit(bytes);
        std::string reason;
        EXPECT_FALSE(decodeBundle(bytes, r, &reason)) << what;
        return reason;
    };
    // Texts are UTF-16 code units.
    EXPECT_NE(
        changed("marker", [](std::string& b) { b[b.find(std::string("M\0i\0r\0a\0l\0 \0m", 11))] = 'X'; })
            .find("another kind"),
        std::string::npos);
    EXPECT_NE(
        changed("no magic", [](std::string& b) { b[b.find("miral_bundle")] = 'x'; }).find("not a Miral"),
        std::string::npos);
    changed("endian", [](std::string& b) { b[126] = 'M', b[127] = 'I'; });
    changed("compressed", [](std::string& b) { b[128] = 15; });
    // A decimation that does not agree with the rates.
    changed("rates", [](std::string& b) {
        const std::size_t at = b.find("decimation") + 16 + 8;
        const double four = 4;
        std::memcpy(&b[at], &four, 8);
    });
    // A sample that is no number.
    changed("nan", [](std::string& b) {
        const std::size_t at = b.find("capture_b") + 16 + 8;
        const float nan = std::nanf("");
        std::memcpy(&b[at + 400], &nan, 4);
    });
    // A panel that the store cannot read.
    Bundle bad = sample();
    bad.panelState = "not a registry";
    EXPECT_FALSE(decodeBundle(encodeBundle(bad), r, &why));
    EXPECT_NE(why.find("panel state"), std::string::npos);
    bad = sample();
    bad.captureA.resize(1000);
    EXPECT_FALSE(decodeBundle(encodeBundle(bad), r, &why));
    bad = sample();
    bad.sampleFormat = "double";
    EXPECT_FALSE(decodeBundle(encodeBundle(bad), r, &why));
}

}  // namespace
}  // namespace miral::storage
