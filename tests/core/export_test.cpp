// SPDX-License-Identifier: GPL-3.0-or-later
// The Save button on the running instrument: the picture, the ".bin" block
// and the MAT-file under the name from the picture-save dialog, checked byte
// by byte and with a real MAT reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "core/store_rig.h"
#include "storage/mat_reader.h"
#include "support/file_bytes.h"

namespace miral::core {
namespace {

using namespace miral::core::testing;

constexpr double kDbPerUnit = 20 * 0.00021714724972;

struct AnsweredDialog : Instrument::SaveDialog {
    std::optional<std::string> answer;
    std::string ext, filter;
    int shown = 0;
    std::optional<std::string> choose(std::string_view defaultExt, std::string_view f) override {
        ++shown;
        ext = defaultExt;
        filter = f;
        return answer;
    }
};

// Writes the capture's size as the picture.
struct FakePicture : Instrument::PictureWriter {
    int width = -1, height = -1;
    bool fail = false;
    void capture(const display::Canvas&, int w, int h) override {
        width = w;
        height = h;
    }
    bool save(const std::string& path, std::string* error) override {
        if (fail) {
            *error = "cannot write " + path + ": no such format";
            return false;
        }
        std::ofstream(path) << width << "x" << height;
        return true;
    }
};

using miral::testing::f64At;
using miral::testing::fileBytes;
using miral::testing::u32At;

struct ExportRig {
    ConfigDir cfg;
    fs::path out = cfg.dir / "out";
    AnsweredDialog dialog;
    FakePicture picture;
    std::unique_ptr<Rig> rig;
    ExportRig() {
        fs::create_directories(out);
        rig = std::make_unique<Rig>(cfg.dir, "harmonics:h2=-40");
        rig->in.setSaveDialog(&dialog);
        rig->in.setPictureWriter(&picture);
        rig->set("genon1", "1");
        rig->set("genon2", "1");  // a second tone on B
        rig->set("CheckBox3", "1");
        rig->set("CheckBox6", "1");
        rig->runner.runFor(0.2);
    }
    Instrument& in() { return rig->in; }
    void save(const std::string& name) {
        dialog.answer = name.empty() ? std::nullopt : std::optional<std::string>((out / name).string());
        rig->click("savescreen");
    }
};

// Offsets of a MAT-file's elements: name -> (offset, size field).
std::map<std::string, std::pair<std::size_t, std::uint32_t>> matElements(const std::string& b) {
    std::map<std::string, std::pair<std::size_t, std::uint32_t>> out;
    std::size_t at = 128;
    while (at + 8 <= b.size()) {
        const std::uint32_t size = u32At(b, at + 4);
        const std::uint32_t nameLen = u32At(b, at + 44);
        out[b.substr(at + 48, nameLen)] = {at, size};
        at += 8 + size;
    }
    EXPECT_EQ(at, b.size());
    return out;
}

TEST(Export, SpectrumGivesPictureBinaryAndMatFile) {
    ExportRig x;
    Instrument& in = x.in();
    ASSERT_EQ(in.st.FftSize, 16384);
    in.st.BinWidth = 2.69;  // "FrequencyStep" is the bin width truncated
    x.save("shot.jpg");
    // The dialog and the picture of the screen (one row less than the box).
    // PNG first and the default; only types that are written as named.
    EXPECT_EQ(x.dialog.ext, ".png");
    EXPECT_EQ(x.dialog.filter,
              "PNG Image (*.png)|*.png|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps "
              "(*.bmp)|*.bmp");
    EXPECT_EQ(fileBytes(x.out / "shot.jpg"), "567x399");
    EXPECT_FALSE(in.panel.down(Ctl::savescreen));
    EXPECT_NE(in.st.StatusText.find("Saved"), std::string::npos) << in.st.StatusText;
    // The binary block: divider, kind 1 (spectrum), log axis, channel A in dB.
    const std::string bin = fileBytes(x.out / "shot.bin");
    ASSERT_EQ(bin.size(), 12u + 8 * 4096);
    EXPECT_EQ(u32At(bin, 0), 4u);
    EXPECT_EQ(u32At(bin, 4), 1u);
    EXPECT_EQ(u32At(bin, 8), 1u);
    for (int i = 0; i < 4096; ++i)
        ASSERT_DOUBLE_EQ(f64At(bin, 12 + 8 * i), in.st.DisplayA[i] * kDbPerUnit / in.st.ScaleB) << i;
    // The MAT-file: header, variables in order with their element sizes.
    const std::string mat = fileBytes(x.out / "shot.mat");
    EXPECT_EQ(mat.substr(0, 39), "MATLAB 5.0 MAT-file: FFT Array         ");
    const auto el = matElements(mat);
    ASSERT_EQ(el.size(), 6u);
    EXPECT_EQ(el.at("FrequencyStep").first, 128u);
    EXPECT_EQ(el.at("SamplesPerSec").first, 128u + 80);
    EXPECT_EQ(el.at("Input1").first, 128u + 160);
    EXPECT_EQ(el.at("Input1").second, 48u + 8 + 131072);
    EXPECT_EQ(el.at("Input2").second, 48u + 8 + 131072);
    EXPECT_EQ(el.at("Module1Db").second, 48u + 16 + 32768);
    EXPECT_EQ(el.at("Module2Db").second, 48u + 16 + 32768);
    EXPECT_LT(el.at("Input2").first, el.at("Module1Db").first);
    EXPECT_LT(el.at("Module1Db").first, el.at("Module2Db").first);
    EXPECT_EQ(u32At(mat, 128 + 72), 2u);      // FrequencyStep
    EXPECT_EQ(u32At(mat, 208 + 72), 44100u);  // SamplesPerSec
    const std::size_t input1 = el.at("Input1").first + 64;
    for (int i = 0; i < 16384; ++i) ASSERT_EQ(f64At(mat, input1 + 8 * i), in.st.TimeWorkB[i]) << i;
}

TEST(Export, MatFilesLoadInScipy) {
    const auto python = miral::testing::scipyPython();
    if (!python) GTEST_SKIP() << "scipy is not installed (Debian package python3-scipy): no real MAT reader";
    ExportRig x;
    Instrument& in = x.in();
    x.save("spectrum.jpg");
    std::string header, error;
    auto vars = miral::testing::loadMat(*python, (x.out / "spectrum.mat").string(), &header, &error);
    ASSERT_TRUE(vars) << error;
    EXPECT_NE(header.find("FFT Array"), std::string::npos) << header;
    ASSERT_EQ(vars->size(), 6u);
    EXPECT_EQ(vars->at("FrequencyStep").dtype, "int32");
    EXPECT_EQ(vars->at("FrequencyStep").values, std::vector<double>{2});  // 2.68 Hz per bin
    EXPECT_EQ(vars->at("SamplesPerSec").values, std::vector<double>{44100});
    const auto& in1 = vars->at("Input1");
    EXPECT_EQ(in1.rows, 16384);
    EXPECT_EQ(in1.cols, 1);
    EXPECT_EQ(in1.values, std::vector<double>(in.st.TimeWorkB.begin(), in.st.TimeWorkB.begin() + 16384));
    EXPECT_EQ(vars->at("Input2").values,
              std::vector<double>(in.st.TimeWorkA.begin(), in.st.TimeWorkA.begin() + 16384));
    const auto& m1 = vars->at("Module1Db");
    ASSERT_EQ(m1.rows, 4096);
    for (int i = 0; i < 4096; ++i)
        ASSERT_DOUBLE_EQ(m1.values[i], in.st.DisplayB[i] * kDbPerUnit / in.st.ScaleA) << i;
    const auto& m2 = vars->at("Module2Db");
    ASSERT_EQ(m2.rows, 4096);
    for (int i = 0; i < 4096; ++i)
        ASSERT_DOUBLE_EQ(m2.values[i], in.st.DisplayA[i] * kDbPerUnit / in.st.ScaleB) << i;

    // A transfer function on the linear axis: other header, other names.
    in.panel.setDown(Ctl::trasf, true);
    in.panel.setDown(Ctl::ylog, false);
    x.save("xfr.jpg");
    vars = miral::testing::loadMat(*python, (x.out / "xfr.mat").string(), &header, &error);
    ASSERT_TRUE(vars) << error;
    EXPECT_NE(header.find("Transfer Function"), std::string::npos) << header;
    for (const char* name : {"FrequencyStep", "SamplesPerSec", "Input", "Output", "Gain", "Phase"})
        EXPECT_EQ(vars->count(name), 1u) << name;
    EXPECT_EQ(vars->at("Output").values,
              std::vector<double>(in.st.TimeWorkA.begin(), in.st.TimeWorkA.begin() + 16384));
    const auto& gain = vars->at("Gain");
    ASSERT_EQ(gain.rows, 4096);
    for (int i = 0; i < 4096; ++i)
        ASSERT_DOUBLE_EQ(gain.values[i], in.st.DisplayA[i] * 0.000525 / in.st.ScaleB) << i;
    EXPECT_EQ(vars->at("Phase").values,
              std::vector<double>(in.st.DisplayPhase.begin(), in.st.DisplayPhase.begin() + 4096));
    // Its binary block is kind 2 with the phase after the gain.
    const std::string bin = fileBytes(x.out / "xfr.bin");
    ASSERT_EQ(bin.size(), 12u + 2 * 8 * 4096);
    EXPECT_EQ(u32At(bin, 4), 2u);
    EXPECT_EQ(u32At(bin, 8), 0u);
    EXPECT_EQ(f64At(bin, 12 + 8 * 4096 + 8 * 100), in.st.DisplayPhase[100]);
}

TEST(Export, NamesTimeViewCancelAndFailures) {
    ExportRig x;
    Instrument& in = x.in();
    // ".jpeg" is replaced whole, like any extension.
    x.save("wide.jpeg");
    EXPECT_TRUE(fs::exists(x.out / "wide.jpeg"));
    EXPECT_TRUE(fs::exists(x.out / "wide.bin"));
    EXPECT_TRUE(fs::exists(x.out / "wide.mat"));
    EXPECT_FALSE(fs::exists(x.out / "wide..bin"));
    // Cancelled: nothing written.
    const auto before = std::distance(fs::directory_iterator(x.out), fs::directory_iterator());
    x.save("");
    EXPECT_EQ(std::distance(fs::directory_iterator(x.out), fs::directory_iterator()), before);
    // In the time view only the picture has content.
    x.rig->set("Tempo", "1");
    x.rig->runner.runFor(0.1);
    x.save("scope.jpg");
    EXPECT_EQ(fs::file_size(x.out / "scope.bin"), 0u);
    EXPECT_EQ(fs::file_size(x.out / "scope.mat"), 0u);
    EXPECT_EQ(fileBytes(x.out / "scope.jpg"), "567x399");
    // Only the checked outputs.
    x.rig->set("CheckBox1", "0");
    x.rig->set("CheckBox6", "0");
    x.save("only.jpg");
    EXPECT_FALSE(fs::exists(x.out / "only.jpg"));
    EXPECT_TRUE(fs::exists(x.out / "only.bin"));
    EXPECT_FALSE(fs::exists(x.out / "only.mat"));
    // A folder that does not exist: a message and no file anywhere.
    x.rig->set("CheckBox1", "1");
    x.rig->set("CheckBox6", "1");
    x.save("missing/x.jpg");
    EXPECT_FALSE(fs::exists(x.out / "missing"));
    EXPECT_NE(in.st.StatusText.find("Not saved: cannot write"), std::string::npos) << in.st.StatusText;
    // A picture that cannot be written does not stop the data files.
    x.picture.fail = true;
    x.save("nopic.emf");
    EXPECT_FALSE(fs::exists(x.out / "nopic.emf"));
    EXPECT_TRUE(fs::exists(x.out / "nopic.bin"));
    EXPECT_NE(in.st.StatusText.find("no such format"), std::string::npos) << in.st.StatusText;
    EXPECT_NE(in.st.StatusText.find("nopic.bin"), std::string::npos) << in.st.StatusText;
    // No temporary files are left anywhere.
    for (const auto& e : fs::directory_iterator(x.out))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Every file in a folder and below it, with its content.
std::map<std::string, std::string> filesUnder(const fs::path& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) out[fs::relative(e.path(), dir).string()] = fileBytes(e.path());
    return out;
}

TEST(Export, DataFilesSitBesideThePictureWhateverItsExtension) {
    ExportRig x;
    const fs::path top = x.cfg.dir;
    for (const char* sub : {"zz", "out3", "v1.2"}) fs::create_directories(x.out / sub);
    // Files that a name cut at the wrong place would overwrite.
    for (const char* name : {"zz.bin", "zz.mat", "ou.bin", "out.bin", "out.mat", "out3.bin", "v1.bin"})
        std::ofstream(x.out / name) << "keep";
    std::ofstream(top / "out.bin") << "keep";
    const auto before = filesUnder(top);
    const struct {
        const char* chosen;
        const char* base;  // where the data files must be, without their extension
    } cases[] = {
        {"zz/a.b", "zz/a"},      // a one-letter extension
        {"out3/ab", "out3/ab"},  // none: appended
        {"v1.2/cd", "v1.2/cd"},  // a dot in the folder is no extension
        {"e.tar.gz", "e.tar"},   // only the last extension
        {"shot.jpg", "shot"},    // as always
    };
    std::map<std::string, std::string> expected = before;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        x.save(c.chosen);
        EXPECT_EQ(fileBytes(x.out / c.chosen), "567x399");
        const std::string bin = fileBytes(x.out / (std::string(c.base) + ".bin"));
        const std::string mat = fileBytes(x.out / (std::string(c.base) + ".mat"));
        EXPECT_EQ(bin.size(), 12u + 8 * 4096);
        EXPECT_EQ(mat.substr(0, 39), "MATLAB 5.0 MAT-file: FFT Array         ");
        expected[fs::relative(x.out / c.chosen, top).string()] = "567x399";
        expected[fs::relative(x.out / (std::string(c.base) + ".bin"), top).string()] = bin;
        expected[fs::relative(x.out / (std::string(c.base) + ".mat"), top).string()] = mat;
    }
    // Nothing else was written or overwritten anywhere.
    const auto after = filesUnder(top);
    std::vector<std::string> diff;
    for (const auto& [name, bytes] : after)
        if (!expected.count(name) || (expected.at(name) != bytes && !before.count(name)))
            diff.push_back("new " + name);
    for (const auto& [name, bytes] : before)
        if (!after.count(name) || (after.at(name) != bytes && expected.at(name) == bytes))
            diff.push_back("changed " + name);
    EXPECT_TRUE(diff.empty()) << joined(diff);
    for (const char* name : {"zz.bin", "ou.bin", "out.bin", "out3.bin", "v1.bin"})
        EXPECT_EQ(fileBytes(x.out / name), "keep");
    EXPECT_EQ(fileBytes(top / "out.bin"), "keep");
    // A path that names a folder gives no hidden ".bin" inside it.
    x.rig->set("CheckBox1", "0");
    x.save("zz/");
    EXPECT_FALSE(fs::exists(x.out / "zz" / ".bin"));
    EXPECT_FALSE(fs::exists(x.out / "zz" / ".mat"));
    EXPECT_EQ(occurrences(x.in().st.StatusText, "no file name"), 1) << x.in().st.StatusText;
}

}  // namespace
}  // namespace miral::core

namespace miral::core {
namespace {

// With the distortion analyzer on, the MAT-file carries its figures as
// scalars after the spectrum; the binary block stays as it was.
TEST(Export, DistortionFiguresJoinTheMatFileWhenTheAnalyzerIsOn) {
    const auto python = miral::testing::scipyPython();
    if (!python) GTEST_SKIP() << "scipy is not installed (Debian package python3-scipy): no real MAT reader";
    ExportRig x;
    Instrument& in = x.in();
    x.rig->click("distview");
    x.rig->runner.runFor(0.5);
    ASSERT_EQ(*in.printField("DistStatus"), "ok");
    x.save("dist.jpg");
    std::string header, error;
    auto vars = miral::testing::loadMat(*python, (x.out / "dist.mat").string(), &header, &error);
    ASSERT_TRUE(vars) << error;
    const char* figures[] = {"F0",      "LevelDbfs", "LevelV", "ThdDb", "ThdPct", "ThdNDb", "ThdNPct",
                             "SinadDb", "SnrDb",     "Enob",   "H2Db",  "H3Db",   "H4Db",   "H5Db",
                             "H6Db",    "H7Db",      "H8Db",   "H9Db",  "H10Db"};
    EXPECT_EQ(vars->size(), 6u + 2 * std::size(figures));  // "A+B": both channels
    // "DistA..." in the file for what prints as "Dist...".
    for (const char* prefix : {"Dist", "DistB"}) {
        for (const char* f : figures) {
            const std::string print = std::string(prefix) + f;
            const std::string name = std::string(prefix == std::string("Dist") ? "DistA" : "DistB") + f;
            ASSERT_EQ(vars->count(name), 1u) << name;
            const auto& v = vars->at(name);
            EXPECT_EQ(v.dtype, "float64") << name;
            ASSERT_EQ(v.rows * v.cols, 1) << name;
            const double printed = std::stod(*in.printField(print));
            EXPECT_NEAR(v.values[0], printed, std::fabs(printed) * 1e-12 + 1e-12) << name;
        }
    }
    // The bench puts H2 at -40 dB below a unit sine: relative to the tone's
    // own amplitude that is -40 dB plus the tone's level re full scale.
    const double level = vars->at("DistALevelDbfs").values[0];
    EXPECT_NEAR(vars->at("DistAH2Db").values[0], -40 + level, 0.1);
    // The binary block does not change.
    EXPECT_EQ(fileBytes(x.out / "dist.bin").size(), 12u + 8 * 4096);
    // Channel A alone: only its figures.
    x.rig->click("modea");
    x.rig->runner.runFor(0.2);
    x.save("dista.jpg");
    vars = miral::testing::loadMat(*python, (x.out / "dista.mat").string(), &header, &error);
    ASSERT_TRUE(vars) << error;
    EXPECT_EQ(vars->size(), 6u + std::size(figures));
    EXPECT_EQ(vars->count("DistBThdDb"), 0u);
}

}  // namespace
}  // namespace miral::core
