// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/preferences.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace miral::storage {
namespace {

TEST(Preferences, KeysMatchWithoutCaseButWithBlanks) {
    Preferences p;
    p.loadFromText("mag_scale=7\n ADC_Bits=24\nDAC_Bits =24\n");
    EXPECT_EQ(p.readInt("Mag_Scale", 10), 7);  // lower case still matches
    EXPECT_EQ(p.readInt("ADC_Bits", 16), 16);  // a blank before the key does not
    EXPECT_EQ(p.readInt("DAC_Bits", 16), 16);  // nor a blank before "="
}

TEST(Preferences, EmptyValueCountsAsMissingAndFirstLineWins) {
    Preferences p;
    p.loadFromText("Mag_Scale=\nADC_Bits=24\nADC_Bits=16\nProbe1=My shunt = 1 Ohm\n");
    EXPECT_EQ(p.readInt("Mag_Scale", 10), 10);
    EXPECT_EQ(p.readInt("ADC_Bits", 16), 24);
    // The value is everything after the first "=", untrimmed.
    EXPECT_EQ(p.readText("Probe1", "Shunt 1"), "My shunt = 1 Ohm");
    EXPECT_EQ(p.readText("Probe2", "Shunt 2"), "Shunt 2");
}

TEST(Preferences, NumbersUseAPointWhateverTheValue) {
    Preferences p;
    p.loadFromText("Freq_Corr_44100=1,001\nFreq_Corr_48000=1.001\nRLC_Freq_C=abc\nBase_Freq=4e4\nx=nan\n");
    EXPECT_DOUBLE_EQ(p.readReal("Freq_Corr_44100", 1.0025), 1.0025);  // a comma does not convert
    EXPECT_DOUBLE_EQ(p.readReal("Freq_Corr_48000", 1.0), 1.001);
    EXPECT_EQ(p.readInt("RLC_Freq_C", 0), 0);  // letters: the automatic choice
    EXPECT_DOUBLE_EQ(p.readReal("Base_Freq", 44100), 40000);
    EXPECT_DOUBLE_EQ(p.readReal("x", 3.5), 3.5);    // not a usable number
    EXPECT_EQ(p.readInt("Freq_Corr_48000", 5), 5);  // an integer reader does not take "1.001"
}

TEST(Preferences, DecimalCommaLocaleChangesNothing) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 locale not installed";
    Preferences p;
    p.loadFromText("Freq_Corr_44100=1.001\nFreq_Corr_48000=1,5\n");
    EXPECT_DOUBLE_EQ(p.readReal("Freq_Corr_44100", 1.0025), 1.001);
    EXPECT_DOUBLE_EQ(p.readReal("Freq_Corr_48000", 1.0), 1.0);
    EXPECT_EQ(parseReal("0.25"), 0.25);
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(Preferences, MissingOrGarbageFileGivesDefaults) {
    namespace fs = std::filesystem;
    Preferences p;
    EXPECT_FALSE(p.load("/nonexistent/Prefs.ini"));
    EXPECT_FALSE(p.loadError().empty());
    EXPECT_EQ(p.readInt("Mag_Scale", 10), 10);

    fs::path dir = fs::temp_directory_path() / "miral_prefs_test";
    fs::create_directories(dir);
    fs::path file = dir / "Prefs.ini";
    {
        std::ofstream out(file, std::ios::binary);
        std::mt19937 rng(7);
        for (int i = 0; i < 200000; ++i) out.put(static_cast<char>(rng() & 0xFF));
        out << std::string(1 << 20, 'x');  // a very long line
        out << "\r\nno equals sign here\r\nMag_Scale=12\r\n=\r\n";
    }
    ASSERT_TRUE(p.load(file));
    EXPECT_EQ(p.readInt("Ratio_1", 20), 20);
    EXPECT_EQ(p.readInt("Max_Refresh"), 60);
    EXPECT_EQ(p.readText("Probe1", "Shunt 1"), "Shunt 1");
    EXPECT_EQ(p.readInt("Mag_Scale", 10), 12);  // CR LF line ends
    fs::remove_all(dir);
}

TEST(Preferences, IntegerRangeAndBlanks) {
    Preferences p;
    p.loadFromText("a= 42 \nb=99999999999\nc=-3\nd=+5\ne=4x\n");
    EXPECT_EQ(p.readInt("a", 0), 42);
    EXPECT_EQ(p.readInt("b", 1), 1);
    EXPECT_EQ(p.readInt("c", 0), -3);
    EXPECT_EQ(p.readInt("d", 0), 5);
    EXPECT_EQ(p.readInt("e", 9), 9);
}

// How often a text occurs in another.
int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(Preferences, ValuesOutsideTheirRangeGiveTheDefaultWithOneMessage) {
    Preferences p;
    p.loadFromText(
        "Mag_Scale=100000\nnum_rx_device=2147483647\nBase_Freq=0\nMax_ADC_Freq=0\nFreq_Corr_44100=-1\n"
        "rx_buffersize=1\nADC_Bits=24\nRatio_1=abc\nmag_scale=5\nProbe1=99999999999\nMax_Refresh=5\n");
    EXPECT_EQ(p.readInt("Mag_Scale", 10), 10);  // the first line decides, and it is outside
    EXPECT_EQ(p.readInt("num_rx_device", 3), 3);
    EXPECT_DOUBLE_EQ(p.readReal("Base_Freq", 44100), 44100);
    EXPECT_EQ(p.readInt("Max_ADC_Freq", 88200), 88200);
    EXPECT_DOUBLE_EQ(p.readReal("Freq_Corr_44100", 1.0025), 1.0025);
    EXPECT_EQ(p.readInt("rx_buffersize", 512), 512);
    EXPECT_EQ(p.readInt("Ratio_1", 20), 20);
    EXPECT_EQ(p.readInt("ADC_Bits", 16), 24);                   // inside: kept
    EXPECT_EQ(p.readText("Probe1", "Shunt 1"), "99999999999");  // a name, no number
    const std::string& m = p.rangeMessage();
    // One message for the file, naming each key once with its value and range.
    for (const char* part :
         {"Mag_Scale=100000 is outside 1..1000", "num_rx_device=2147483647 is outside 0..32",
          "Base_Freq=0 is outside 4000..192000", "Max_ADC_Freq=0 is outside 4000..192000",
          "Freq_Corr_44100=-1 is outside 0.9..1.1", "rx_buffersize=1 is outside 16..16384",
          "Ratio_1=abc is not a whole number", "Max_Refresh=5 is outside 10..240"})
        EXPECT_EQ(occurrences(m, part), 1) << part << " in: " << m;
    EXPECT_EQ(occurrences(m, "Mag_Scale"), 1) << m;
    EXPECT_EQ(occurrences(m, "ADC_Bits"), 0) << m;
    EXPECT_EQ(occurrences(m, "Probe1"), 0) << m;
    EXPECT_EQ(m.find('\n'), std::string::npos) << m;

    // The most negative integer is outside too; a file without such values
    // has no message, and a new load forgets the old one.
    p.loadFromText("Mag_Scale=-2147483648\n");
    EXPECT_EQ(p.readInt("Mag_Scale", 10), 10);
    EXPECT_EQ(occurrences(p.rangeMessage(), "Mag_Scale=-2147483648 is outside 1..1000"), 1)
        << p.rangeMessage();
    EXPECT_EQ(occurrences(p.rangeMessage(), "num_rx_device"), 0) << p.rangeMessage();
    p.loadFromText("Mag_Scale=1000\nFreq_Corr_48000=1.1\nnum_tx_device=0\n");
    EXPECT_EQ(p.rangeMessage(), "");
    EXPECT_EQ(p.readInt("Mag_Scale", 10), 1000);
    EXPECT_DOUBLE_EQ(p.readReal("Freq_Corr_48000", 1.0), 1.1);
    p.clear();
    EXPECT_EQ(p.rangeMessage(), "");
}

TEST(Preferences, TheDocumentedKeysAreTheProgramsOwn) {
    // docs/preferences.md holds the table of keys as the program has it.
    std::ifstream f(std::string(MIRAL_SOURCE_DIR) + "/docs/preferences.md");
    ASSERT_TRUE(f) << "docs/preferences.md";
    const std::string doc((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const std::string table = preferenceKeysMarkdown();
    EXPECT_NE(doc.find(table), std::string::npos) << "docs/preferences.md should hold this table:\n" << table;
    // Each row is whole: a default that the range accepts, a line of documentation.
    for (const PreferenceKey& k : preferenceKeys()) {
        EXPECT_FALSE(k.doc.empty()) << k.key;
        EXPECT_EQ(findPreferenceKey(k.key), &k) << k.key << " has two rows";
        if (k.type == PrefType::Text || !k.defNote.empty()) continue;
        const auto d = parseReal(k.def);
        ASSERT_TRUE(d) << k.key;
        EXPECT_TRUE(*d >= k.min && *d <= k.max) << k.key;
        if (k.type == PrefType::Integer) {
            EXPECT_TRUE(parseInteger(k.def)) << k.key;
        }
    }
    // A read that the table does not describe is noted, once.
    Preferences p;
    p.loadFromText("Mag_Scale=7\n");
    EXPECT_EQ(p.readInt("Mag_Scale"), 7);
    EXPECT_EQ(p.readInt("Ratio_2"), 200);  // the table's default
    EXPECT_TRUE(p.unlistedReads().empty());
    (void)p.readInt("No_Such_Key", 3);
    (void)p.readInt("No_Such_Key", 3);
    (void)p.readInt("Mag_Scale", 12);
    (void)p.readReal("Mag_Scale", 10);
    EXPECT_EQ(p.unlistedReads(),
              (std::vector<std::string>{"No_Such_Key (no row)", "Mag_Scale (default 12, the table says 10)",
                                        "Mag_Scale (read as another type than the table's)"}));
}

TEST(Preferences, AFifoOrAFolderInsteadOfTheFileGivesDefaultsAtOnce) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("miral_prefs_fifo_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path fifo = dir / "fifo" / "Prefs.ini";
    const fs::path folder = dir / "folder" / "Prefs.ini";
    fs::create_directories(fifo.parent_path());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(folder);
    ::alarm(20);  // a FIFO with no writer holds an ordinary open for ever
    Preferences p;
    EXPECT_FALSE(p.load(fifo));
    ::alarm(0);
    EXPECT_FALSE(p.missing());
    EXPECT_EQ(p.loadError(),
              "cannot read " + fifo.string() + ": it is a FIFO (named pipe), not a plain file");
    EXPECT_EQ(p.readInt("Mag_Scale", 10), 10);
    EXPECT_FALSE(p.load(folder));
    EXPECT_EQ(p.loadError(), "cannot read " + folder.string() + ": it is a folder, not a plain file");
    EXPECT_FALSE(p.load(dir / "none" / "Prefs.ini"));
    EXPECT_TRUE(p.missing());
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace miral::storage
