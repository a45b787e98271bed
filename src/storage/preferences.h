// SPDX-License-Identifier: GPL-3.0-or-later
// Prefs.ini: the settings a user or technician changes rarely and by hand.
// One entry per line: key, "=", value. The program only reads it. Every key
// has a default, so the file may be missing, partial, or full of lines we do
// not know.
//
// Lookup: the lines are searched in file order; a line without "=" is
// skipped; the key is the text before the first "=", compared without regard
// to letter case and without trimming; the first match wins; an empty value
// counts as missing. Numbers are read with "." as the decimal separator
// whatever the locale.
//
// Every numeric key has a range of values that make sense (preferenceKeys(),
// the reasons in the table in preferences.cpp). A value outside it, or one
// that is no number, counts as missing too, so its reader gives the default;
// the load names every such key, its value and its range in one message.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace miral::storage {

// Every key of Prefs.ini that the program reads: its type, the values that
// make sense (numeric keys), its default and one line of documentation. The
// table is the one place of these facts: the range check, the readers and
// docs/preferences.md follow it.
enum class PrefType { Integer, Real, Text };
struct PreferenceKey {
    std::string_view key;
    PrefType type;
    double min;  // numeric keys: the values that make sense
    double max;
    std::string_view def;      // the default as the program uses it; "" for a text with none
    std::string_view defNote;  // a default that depends on the panel, in words ("" otherwise)
    std::string_view doc;      // what the key does, and why the range
};
std::span<const PreferenceKey> preferenceKeys();
// The table's row of a key (letter case ignored), or nothing.
const PreferenceKey* findPreferenceKey(std::string_view key);
// The table as docs/preferences.md shows it (Markdown, one row per key).
std::string preferenceKeysMarkdown();

class Preferences {
  public:
    // Discards any loaded lines and reads the file. Returns false (and keeps
    // no lines: every reader then gives its default) when it is missing or
    // cannot be read; loadError() then says why and missing() tells the two
    // apart (a first run has no file, and that needs no message).
    bool load(const std::filesystem::path& file);
    // Replaces the lines by the given text (tests, and the loader itself);
    // `source` names the file in the range message.
    void loadFromText(std::string_view text, std::string_view source = "Prefs.ini");
    void clear();

    bool loaded() const { return loaded_; }
    const std::vector<std::string>& lines() const { return lines_; }
    // Why the last load failed ("" when it did not), naming the file:
    // "cannot read /x/Prefs.ini: it is a folder, not a plain file".
    const std::string& loadError() const { return loadError_; }
    // Whether the last load failed because there is no file at all.
    bool missing() const { return missing_; }
    // The numeric keys of the last load whose values are outside their range
    // or no number, in one line ("" when there are none).
    const std::string& rangeMessage() const { return rangeMessage_; }

    // The raw value of a key, or nothing when the key is missing or empty.
    std::optional<std::string_view> value(std::string_view key) const;

    // The readers. `def` is the default at the place that reads; it must be
    // the table's (or the panel's, for a key whose default depends on it).
    int readInt(std::string_view key, int def) const;
    double readReal(std::string_view key, double def) const;
    std::string readText(std::string_view key, std::string_view def) const;
    // The same with the table's default (0 or "" for a key without a row).
    int readInt(std::string_view key) const;
    double readReal(std::string_view key) const;
    std::string readText(std::string_view key) const;
    // Keys read without a row in preferenceKeys(), or with a default other
    // than the row's, each once ("Key (no row)", "Key (default 5, the table
    // says 6)"): empty in a program whose table is whole.
    const std::vector<std::string>& unlistedReads() const { return unlisted_; }

  private:
    void checkRanges(std::string_view source);
    std::optional<std::string_view> firstValue(std::string_view key) const;
    void noteRead(std::string_view key, PrefType type, double def, std::string_view textDef) const;

    std::vector<std::string> lines_;
    bool loaded_ = false;
    std::string loadError_;
    bool missing_ = false;
    std::string rangeMessage_;
    std::vector<std::string_view> refused_;  // numeric keys whose value is not used
    mutable std::vector<std::string> unlisted_;
};

// Locale-independent conversions shared by everything that turns text into
// numbers (edit boxes, combo items, preferences). Blanks around the number are
// allowed; anything else that is not part of the number makes it fail.
std::optional<long long> parseInteger(std::string_view text);
std::optional<double> parseReal(std::string_view text);
// The shortest text that reads back as the same double ("1e+308", "-40", "0.9").
std::string shortestNumber(double v);

// Where Prefs.ini and prefs.dat live: the folder given on the command line,
// otherwise $XDG_CONFIG_HOME/miral or ~/.config/miral (created when needed).
// Returns the folder even when it cannot be created: then *error says so in
// one line, and nothing is to be read from it or stored anywhere else.
std::filesystem::path configDirectory(const std::optional<std::filesystem::path>& chosen, std::string* error);

// Creates the configuration folder (and its parents) when it is not there.
// False with a one-line reason in *error: "cannot create the configuration
// folder /x/miral: Permission denied".
bool makeConfigDirectory(const std::filesystem::path& dir, std::string* error);

}  // namespace miral::storage
