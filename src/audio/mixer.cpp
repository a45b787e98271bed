// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/mixer.h"

#include <algorithm>
#include <cmath>

namespace miral::audio {

std::optional<double> Mixer::LevelDb(int /*destination*/, int /*source*/, int /*level*/) {
    Fail("the card does not say how its levels are scaled");
    return std::nullopt;
}

long LevelToRange(int level, long min, long max) {
    if (max <= min) return min;
    level = std::clamp(level, 0, Mixer::kFullScale);
    const double span = static_cast<double>(max) - static_cast<double>(min);
    return min + std::lround(span * level / Mixer::kFullScale);
}

int RangeToLevel(long value, long min, long max) {
    if (max <= min) return 0;
    value = std::clamp(value, min, max);
    const double span = static_cast<double>(max) - static_cast<double>(min);
    return static_cast<int>(std::lround((static_cast<double>(value) - min) * Mixer::kFullScale / span));
}

int ChooseInputs(const std::vector<std::string>& items, std::vector<bool>& selected, bool singleSelect,
                 std::string_view name) {
    if (name.empty()) return 0;
    selected.resize(items.size(), false);
    std::vector<bool> next = selected;
    // One at a time: the input named exactly so, or else the first containing it.
    const int exact = singleSelect ? InputNamed(items, name) : -1;
    const bool exactName = exact >= 0 && items[static_cast<size_t>(exact)] == name;
    int matched = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const bool match =
            exactName ? static_cast<int>(i) == exact : items[i].find(name) != std::string::npos;
        if (match && (!singleSelect || matched == 0)) {
            next[i] = true;
            ++matched;
        } else if (singleSelect) {
            next[i] = false;
        }
    }
    if (matched > 0) selected = std::move(next);
    return matched;
}

int InputNamed(const std::vector<std::string>& items, std::string_view name) {
    if (name.empty()) return -1;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i] == name) return static_cast<int>(i);
    for (size_t i = items.size(); i-- > 0;)
        if (items[i].find(name) != std::string::npos) return static_cast<int>(i);
    return -1;
}

}  // namespace miral::audio
