// SPDX-License-Identifier: GPL-3.0-or-later
// The registry file and prefs.dat on disk: round trips, damaged files kept
// aside, atomic writes, and prefs.dat's byte layout read back byte by byte.
#include "storage/panel_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "file_limits.h"
#include "storage/file_io.h"
#include "support/file_bytes.h"

namespace miral::storage {
namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path dir;
    TempDir() {
        dir = fs::temp_directory_path() /
              ("miral_store_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~TempDir() { fs::remove_all(dir); }
};

std::string readAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void writeAll(const fs::path& p, std::string_view bytes) {
    std::ofstream f(p, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Nothing but the named files in the folder (no temporary files left over).
std::vector<std::string> listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Registry sample(const fs::path& file) {
    Registry reg(file);
    RegistryKey& states = *reg.openKey("Software\\Zorvane\\V1_005\\States", true);
    states.setInt("check_all", 334);
    states.setInt("min", std::numeric_limits<std::int32_t>::min());
    states.setInt("max", std::numeric_limits<std::int32_t>::max());
    states.setText("modul", "ADD");
    states.setText("empty", "");
    states.setText("odd", " 50% off\n\ttab\\back\r\x7f end ");
    states.setText("utf8", "Tempo \xc2\xb5s \xe2\x82\xac");
    states.setText("name with space%", "x");
    RegistryKey& temp = *reg.openKey("Software\\Zorvane\\TempStates", true);
    temp.setInt("CmpB0", 1);
    return reg;
}

TEST(Registry, EveryValueComesBackExactly) {
    TempDir t;
    const fs::path file = t.dir / kRegistryFileName;
    std::string error;
    ASSERT_TRUE(sample(file).save(&error)) << error;
    Registry back(file);
    ASSERT_EQ(back.load(), LoadStatus::Loaded) << back.message();
    const RegistryKey* k = back.findKey("Software\\Zorvane\\V1_005\\States");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->readInt("check_all"), 334);
    EXPECT_EQ(k->readInt("min"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(k->readInt("max"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(k->readText("modul"), "ADD");
    EXPECT_EQ(k->readText("empty"), "");
    EXPECT_EQ(k->readText("odd"), " 50% off\n\ttab\\back\r\x7f end ");
    EXPECT_EQ(k->readText("utf8"), "Tempo \xc2\xb5s \xe2\x82\xac");
    EXPECT_EQ(k->readText("name with space%"), "x");
    // A value of the other type or a missing one reads as nothing.
    EXPECT_EQ(k->readText("check_all"), std::nullopt);
    EXPECT_EQ(k->readInt("modul"), std::nullopt);
    EXPECT_EQ(k->readInt("CmpB0"), std::nullopt);
    ASSERT_NE(back.findKey("Software\\Zorvane\\TempStates"), nullptr);
    EXPECT_EQ(back.findKey("Software\\Zorvane\\TempStates")->readInt("CmpB0"), 1);
    EXPECT_EQ(back.findKey("Software\\Zorvane"), nullptr);
    // One line per value, the key names readable as they are.
    const std::string text = readAll(file);
    EXPECT_EQ(text.rfind("miral-registry 1\nkey Software\\Zorvane\\V1_005\\States\nint check_all 334\n", 0),
              0u)
        << text;
    EXPECT_NE(text.find("\nend 2 9\n"), std::string::npos);
    EXPECT_EQ(listing(t.dir), std::vector<std::string>{kRegistryFileName});
}

TEST(Registry, MissingFileIsAnEmptyStoreWithoutMessage) {
    TempDir t;
    Registry reg(t.dir / kRegistryFileName);
    EXPECT_EQ(reg.load(), LoadStatus::Missing);
    EXPECT_EQ(reg.message(), "");
    EXPECT_EQ(reg.findKey("Software\\Zorvane\\V1_005\\States"), nullptr);
    EXPECT_EQ(reg.openKey("Software\\Zorvane\\V1_005\\States", false), nullptr);
}

TEST(Registry, DamagedFilesAreKeptAsideAndReadAsEmpty) {
    TempDir t;
    const fs::path file = t.dir / kRegistryFileName;
    const std::string good = sample(file).serialize();
    std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"garbage", std::string("\x00\xff\x13garbage\n", 12)},
        {"other program", "[Software]\nx=1\n"},
        {"bad number", "miral-registry 1\nkey K\nint a 12x\nend 1 1\n"},
        {"too big a number", "miral-registry 1\nkey K\nint a 2147483648\nend 1 1\n"},
        {"value before key", "miral-registry 1\nint a 1\nend 0 1\n"},
        {"bad escape", "miral-registry 1\nkey K\ntext a 5%G0\nend 1 1\n"},
        {"raw control char", "miral-registry 1\nkey K\ntext a x\ty\nend 1 1\n"},
        {"twice", "miral-registry 1\nkey K\nint a 1\nint a 2\nend 1 2\n"},
        {"wrong counts", "miral-registry 1\nkey K\nint a 1\nend 1 2\n"},
        {"after the end", "miral-registry 1\nkey K\nint a 1\nend 1 1\nint b 2\n"},
    };
    // Every cut of a good file is recognised as cut short.
    for (std::size_t cut :
         {good.size() - 1, good.size() - 7, good.size() / 2, std::size_t{17}, std::size_t{1}})
        cases.emplace_back("cut at " + std::to_string(cut), good.substr(0, cut));
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        fs::remove(t.dir / "registry.txt.bad");
        writeAll(file, bytes);
        Registry reg(file);
        EXPECT_EQ(reg.load(), LoadStatus::Damaged);
        EXPECT_EQ(reg.findKey("Software\\Zorvane\\V1_005\\States"), nullptr);
        EXPECT_NE(reg.message().find("damaged"), std::string::npos) << reg.message();
        EXPECT_NE(reg.message().find("registry.txt.bad"), std::string::npos) << reg.message();
        EXPECT_EQ(reg.message().find('\n'), std::string::npos);
        // The bad file is kept, byte for byte, and no longer in the way.
        EXPECT_FALSE(fs::exists(file));
        EXPECT_EQ(readAll(t.dir / "registry.txt.bad"), bytes);
    }
}

TEST(Registry, UnreadableFileIsLeftAlone) {
    TempDir t;
    const fs::path file = t.dir / kRegistryFileName;
    fs::create_directory(file);  // a folder where the file belongs
    Registry reg(file);
    EXPECT_EQ(reg.load(), LoadStatus::Unreadable);
    EXPECT_NE(reg.message().find("unreadable"), std::string::npos) << reg.message();
    EXPECT_TRUE(fs::is_directory(file));
    // Saving over it fails with a reason and leaves nothing behind.
    reg.openKey("K", true)->setInt("a", 1);
    std::string error;
    EXPECT_FALSE(reg.save(&error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(listing(t.dir), std::vector<std::string>{kRegistryFileName});
}

TEST(AtomicWrite, AFailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
    TempDir t;
    const fs::path file = t.dir / "data.bin";
    std::string error;
    ASSERT_TRUE(writeFileAtomically(file, "old", &error)) << error;
    ASSERT_TRUE(writeFileAtomically(file, std::string("n\0w", 3), &error)) << error;
    EXPECT_EQ(readAll(file), std::string("n\0w", 3));
    EXPECT_EQ(listing(t.dir), std::vector<std::string>{"data.bin"});
    // A folder that does not exist.
    EXPECT_FALSE(writeFileAtomically(t.dir / "no" / "such.bin", "x", &error));
    EXPECT_NE(error.find("such.bin"), std::string::npos) << error;
    // A target that is a folder: the rename fails, the temporary file goes.
    fs::create_directory(t.dir / "sub.bin");
    EXPECT_FALSE(writeFileAtomically(t.dir / "sub.bin", "x", &error));
    EXPECT_EQ(listing(t.dir), (std::vector<std::string>{"data.bin", "sub.bin"}));
    EXPECT_TRUE(fs::is_empty(t.dir / "sub.bin"));
    // An empty content makes an empty file.
    ASSERT_TRUE(writeFileAtomically(file, "", &error)) << error;
    EXPECT_EQ(fs::file_size(file), 0u);
}

// ---- prefs.dat ----------------------------------------------------------------------

using miral::testing::f64At;
using miral::testing::i32At;

PrefsDat distinctPrefs() {
    PrefsDat p;
    for (int k = 0; k < 11; ++k)
        for (int s = 1; s <= 18; ++s) p.colors[k][s] = (k << 16) | (s << 8) | 0x5A;
    p.colors[0][0] = 7;  // PERSONAL 7
    for (int i = 0; i < 10; ++i) {
        p.delayNs[i] = 1000 + i;
        p.shuntOhm[i] = 2000 + i;
        p.probeMilliOhm[i] = 3000 + i;
        p.probePf[i] = 4000 + i;
        p.diffGainDb[i] = -0.5 - i;
    }
    p.inputImpedance = 1e6;
    p.commonGain = -3.25;
    return p;
}

TEST(PrefsDat, FieldsSitAtTheirOffsets) {
    const std::string b = encodePrefsDat(distinctPrefs());
    ASSERT_EQ(b.size(), 1440u);
    EXPECT_EQ(i32At(b, 0), 7);  // the selected scheme in slot 0 of scheme 0
    for (int k = 0; k < 11; ++k)
        for (int s = 1; s <= 18; ++s)
            EXPECT_EQ(i32At(b, 80 * k + 4 * s), (k << 16) | (s << 8) | 0x5A) << k << "," << s;
    EXPECT_EQ(i32At(b, 80 * 3 + 4 * 19), 0);  // unused slot
    EXPECT_EQ(static_cast<unsigned char>(b[80 * 2 + 4 * 5 + 0]),
              0x5A);  // 0x00BBGGRR, little-endian: red first
    EXPECT_EQ(static_cast<unsigned char>(b[80 * 2 + 4 * 5 + 1]), 5);
    EXPECT_EQ(static_cast<unsigned char>(b[80 * 2 + 4 * 5 + 2]), 2);
    EXPECT_EQ(static_cast<unsigned char>(b[80 * 2 + 4 * 5 + 3]), 0);
    for (std::size_t i = 880; i < 1024; ++i) EXPECT_EQ(b[i], 0) << i;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(f64At(b, 1024 + 8 * i), 1000 + i);
        EXPECT_EQ(f64At(b, 1104 + 8 * i), 2000 + i);
        EXPECT_EQ(f64At(b, 1184 + 8 * i), 3000 + i);
        EXPECT_EQ(f64At(b, 1264 + 8 * i), 4000 + i);
        EXPECT_EQ(f64At(b, 1360 + 8 * i), -0.5 - i);
    }
    EXPECT_EQ(f64At(b, 1344), 1e6);
    EXPECT_EQ(f64At(b, 1352), -3.25);
}

TEST(PrefsDat, RoundTripThroughTheFile) {
    TempDir t;
    const fs::path file = t.dir / kPrefsDatFileName;
    std::string error, message;
    ASSERT_TRUE(savePrefsDat(file, distinctPrefs(), &error)) << error;
    EXPECT_EQ(fs::file_size(file), 1440u);
    PrefsDat back;
    ASSERT_EQ(loadPrefsDat(file, back, &message), LoadStatus::Loaded) << message;
    EXPECT_EQ(encodePrefsDat(back), encodePrefsDat(distinctPrefs()));
    EXPECT_EQ(loadPrefsDat(t.dir / "none.dat", back, &message), LoadStatus::Missing);
    EXPECT_EQ(message, "");
}

TEST(PrefsDat, ShortOrDamagedFilesGiveAMessageAndAreKeptAside) {
    TempDir t;
    const fs::path file = t.dir / kPrefsDatFileName;
    const std::string good = encodePrefsDat(distinctPrefs());
    auto withI32 = [&](std::size_t at, std::uint32_t v) {
        std::string b = good;
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        return b;
    };
    std::string nan = good;
    const double q = std::numeric_limits<double>::quiet_NaN();
    std::memcpy(nan.data() + 1344, &q, 8);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"short", good.substr(0, 1439)},
        {"empty", ""},
        {"long", good + "x"},
        {"scheme 11", withI32(0, 11)},
        {"scheme -1", withI32(0, 0xFFFFFFFFu)},
        {"no colour", withI32(80 * 4 + 4 * 9, 0x01000000u)},
        {"not a number", nan},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        writeAll(file, bytes);
        PrefsDat p = distinctPrefs();
        p.commonGain = 99;
        std::string message;
        EXPECT_EQ(loadPrefsDat(file, p, &message), LoadStatus::Damaged);
        EXPECT_EQ(p.commonGain, 99);  // untouched
        EXPECT_NE(message.find("damaged"), std::string::npos) << message;
        EXPECT_NE(message.find("prefs.dat.bad"), std::string::npos) << message;
        EXPECT_EQ(readAll(t.dir / "prefs.dat.bad"), bytes);
        EXPECT_FALSE(fs::exists(file));
    }
}

TEST(PrefsDat, ProbeValuesOutsideTheirRangeTakeTheirFallbackAndAreNamed) {
    PrefsDat p = distinctPrefs();
    p.diffGainDb[0] = 40;          // the edges are inside
    p.diffGainDb[1] = -40.000001;  // just outside
    p.diffGainDb[9] = -1e308;
    p.shuntOhm[2] = 1e-3;
    p.shuntOhm[3] = 0;
    p.delayNs[4] = 1e6;
    p.delayNs[5] = -2e6;
    p.probePf[6] = -1e6;
    p.probeMilliOhm[7] = 1e300;
    p.inputImpedance = 0.5;
    p.commonGain = 41;
    PrefsDat back;
    std::string why, outside;
    ASSERT_TRUE(decodePrefsDat(encodePrefsDat(p), back, &why, &outside)) << why;
    EXPECT_EQ(back.diffGainDb[0], 40);
    EXPECT_EQ(back.diffGainDb[1], 0);
    EXPECT_EQ(back.diffGainDb[9], 0);
    EXPECT_EQ(back.shuntOhm[2], 1e-3);
    EXPECT_EQ(back.shuntOhm[3], 10);
    EXPECT_EQ(back.delayNs[4], 1e6);
    EXPECT_EQ(back.delayNs[5], 0);
    EXPECT_EQ(back.probePf[6], -1e6);
    EXPECT_EQ(back.probeMilliOhm[7], 0);
    EXPECT_EQ(back.inputImpedance, 10000);
    EXPECT_EQ(back.commonGain, 0);
    // Everything else as stored.
    EXPECT_EQ(back.colors, p.colors);
    EXPECT_EQ(back.delayNs[0], p.delayNs[0]);
    EXPECT_EQ(back.shuntOhm[9], p.shuntOhm[9]);
    for (const char* part :
         {"probe 2 diff. gain -40.000001 dB is outside -40..40",
          "probe 10 diff. gain -1e+308 dB is outside -40..40", "probe 4 shunt 0 Ohm is outside",
          "probe 6 channel delay -2e+06 ns is outside -1e+06..1e+06", "probe 8 probe resistance 1e+300 mOhm",
          "input impedance 0.5 Ohm is outside 1..1e+09", "common gain 41 dB is outside -40..40"})
        EXPECT_NE(outside.find(part), std::string::npos) << part << " in: " << outside;
    for (const char* inside : {"probe 1 ", "probe 3 ", "probe 5 ", "probe 7 "})
        EXPECT_EQ(outside.find(inside), std::string::npos) << inside << " in: " << outside;

    // Through the file: loaded, not set aside, one message naming the file.
    TempDir t;
    const fs::path file = t.dir / kPrefsDatFileName;
    std::string error, message;
    ASSERT_TRUE(savePrefsDat(file, p, &error)) << error;
    ASSERT_EQ(loadPrefsDat(file, back, &message), LoadStatus::Loaded);
    EXPECT_EQ(message.rfind(file.string() + ": probe 2 diff. gain", 0), 0u) << message;
    EXPECT_TRUE(fs::exists(file));
    EXPECT_FALSE(fs::exists(t.dir / "prefs.dat.bad"));
    ASSERT_TRUE(savePrefsDat(file, distinctPrefs(), &error)) << error;
    ASSERT_EQ(loadPrefsDat(file, back, &message), LoadStatus::Loaded);
    EXPECT_EQ(message, "");
}

// ---- Files that fill the disk, cannot be read, or are no files -------------------

TEST(AtomicWrite, AFullDiskKeepsTheStoredFileWholeAndSaysWhy) {
    TempDir t;
    const fs::path file = t.dir / kRegistryFileName;
    Registry reg = sample(file);
    std::string error;
    ASSERT_TRUE(reg.save(&error)) << error;
    const std::string stored = readAll(file);
    // A panel grown too big for what is left on the disk.
    RegistryKey& states = *reg.openKey("Software\\Zorvane\\V1_005\\States", true);
    for (int i = 0; i < 400; ++i) states.setInt("CmpI" + std::to_string(i), i);
    ASSERT_GT(reg.serialize().size(), 4096u);
    {
        miral::testing::FileSizeLimit full(4096);
        EXPECT_FALSE(reg.save(&error));
        EXPECT_FALSE(writeFileAtomically(t.dir / "new.bin", std::string(10000, 'x'), &error));
        EXPECT_NE(error.find("new.bin"), std::string::npos) << error;
        EXPECT_EQ(error.find("unchanged"), std::string::npos) << error;  // there was none
        EXPECT_FALSE(reg.save(&error));
    }
    EXPECT_EQ(error.rfind("cannot write " + file.string() + ": the file size limit is reached", 0), 0u)
        << error;
    EXPECT_NE(error.find("the file already there is unchanged"), std::string::npos) << error;
    // The panel stored before is there, whole; nothing half-written is left.
    EXPECT_EQ(readAll(file), stored);
    EXPECT_EQ(listing(t.dir), std::vector<std::string>{kRegistryFileName});
    Registry back(file);
    EXPECT_EQ(back.load(), LoadStatus::Loaded) << back.message();
    // With room again the same save goes through.
    ASSERT_TRUE(reg.save(&error)) << error;
    EXPECT_EQ(readAll(file), reg.serialize());
}

TEST(Registry, AnUnreadableFileIsKeptAsideAndNotWrittenOver) {
    TempDir t;
    const fs::path file = t.dir / kRegistryFileName;
    std::string error;
    ASSERT_TRUE(sample(file).save(&error)) << error;
    const std::string stored = readAll(file);
    fs::permissions(file, fs::perms::none);
    Registry reg(file);
    {
        miral::testing::PermissionsApply asUser;
        EXPECT_EQ(reg.load(), LoadStatus::Unreadable);
    }
    EXPECT_EQ(reg.findKey("Software\\Zorvane\\V1_005\\States"), nullptr);
    EXPECT_NE(reg.message().find("unreadable"), std::string::npos) << reg.message();
    EXPECT_NE(reg.message().find("Permission denied"), std::string::npos) << reg.message();
    EXPECT_NE(reg.message().find("kept as " + file.string() + ".bad"), std::string::npos) << reg.message();
    // The next save makes a new file; the old one is kept as it was.
    reg.openKey("K", true)->setInt("a", 1);
    ASSERT_TRUE(reg.save(&error)) << error;
    fs::permissions(t.dir / "registry.txt.bad", fs::perms::owner_read);
    EXPECT_EQ(readAll(t.dir / "registry.txt.bad"), stored);
    EXPECT_EQ(readAll(file), reg.serialize());

    // The same for prefs.dat.
    const fs::path dat = t.dir / kPrefsDatFileName;
    ASSERT_TRUE(savePrefsDat(dat, distinctPrefs(), &error)) << error;
    const std::string datBytes = readAll(dat);
    fs::permissions(dat, fs::perms::none);
    PrefsDat back;
    std::string message;
    {
        miral::testing::PermissionsApply asUser;
        EXPECT_EQ(loadPrefsDat(dat, back, &message), LoadStatus::Unreadable);
    }
    EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
    EXPECT_NE(message.find("kept as " + dat.string() + ".bad"), std::string::npos) << message;
    fs::permissions(t.dir / "prefs.dat.bad", fs::perms::owner_read);
    EXPECT_EQ(readAll(t.dir / "prefs.dat.bad"), datBytes);
    EXPECT_FALSE(fs::exists(dat));
}

TEST(Registry, AFifoOrAFolderInThePlaceOfAFileIsLeftAloneWithoutWaiting) {
    TempDir t;
    // A FIFO with no writer holds an ordinary open for ever: the process
    // is ended after 20 s rather than hanging the test run.
    ::alarm(20);
    for (const char* kind : {"FIFO", "folder"}) {
        SCOPED_TRACE(kind);
        fs::remove_all(t.dir);
        fs::create_directories(t.dir);
        const fs::path file = t.dir / kRegistryFileName;
        const fs::path dat = t.dir / kPrefsDatFileName;
        for (const fs::path& f : {file, dat}) {
            if (std::string(kind) == "FIFO") {
                ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0);
            } else {
                fs::create_directory(f);
            }
        }
        Registry reg(file);
        EXPECT_EQ(reg.load(), LoadStatus::Unreadable);
        EXPECT_NE(reg.message().find(file.string()), std::string::npos) << reg.message();
        EXPECT_NE(reg.message().find(kind), std::string::npos) << reg.message();
        EXPECT_NE(reg.message().find("nothing is stored over it"), std::string::npos) << reg.message();
        reg.openKey("K", true)->setInt("a", 1);
        std::string error;
        EXPECT_FALSE(reg.save(&error));
        EXPECT_NE(error.find(kind), std::string::npos) << error;

        PrefsDat p;
        std::string message;
        EXPECT_EQ(loadPrefsDat(dat, p, &message), LoadStatus::Unreadable);
        EXPECT_NE(message.find(dat.string()), std::string::npos) << message;
        EXPECT_NE(message.find(kind), std::string::npos) << message;
        EXPECT_FALSE(savePrefsDat(dat, distinctPrefs(), &error));
        EXPECT_NE(error.find(kind), std::string::npos) << error;
        // Both are still what they were, and nothing else was made.
        const auto type = std::string(kind) == "FIFO" ? fs::file_type::fifo : fs::file_type::directory;
        EXPECT_EQ(fs::status(file).type(), type);
        EXPECT_EQ(fs::status(dat).type(), type);
        EXPECT_EQ(listing(t.dir), (std::vector<std::string>{kPrefsDatFileName, kRegistryFileName}));
    }
    ::alarm(0);
}

}  // namespace
}  // namespace miral::storage
