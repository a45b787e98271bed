// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/number_text.h"

#include <charconv>
#include <cmath>

namespace miral::display {

namespace {

// Length of the integer part (sign included) of a plain decimal text.
std::size_t integerPartLength(std::string_view t) {
    const std::size_t dot = t.find('.');
    return dot == std::string_view::npos ? t.size() : dot;
}

// Keep the first n characters of t, but never fewer than its integer part.
void cutKeepingInteger(NumText& t, long long n) {
    const std::size_t keep = n < 0 ? 0 : static_cast<std::size_t>(n);
    const std::size_t intLen = integerPartLength(t.view());
    t.truncate(keep > intLen ? keep : intLen);
}

}  // namespace

NumText ShortestText(double x) {
    if (x == 0.0) return NumText("0");  // also for -0
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 15);
    if (res.ec != std::errc()) return NumText("0");
    return NumText(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
}

NumText NumberText(double x, int n) {
    const NumText full = ShortestText(x);
    const std::string_view v = full.view();
    const std::size_t e = v.find_first_of("eE");
    if (e == std::string_view::npos) {
        NumText out = full;
        cutKeepingInteger(out, n);
        return out;
    }
    NumText mantissa(v.substr(0, e));
    cutKeepingInteger(mantissa, static_cast<long long>(n) - 3);
    mantissa.append(v.substr(e, 10));
    return mantissa;
}

NumText SiText(double x, int n, bool smallUnit) {
    if (x < 0.0 && std::isfinite(x)) {
        // The magnitude's text (prefix and digits) behind a minus sign.
        NumText out("-");
        out.append(SiText(-x, n, smallUnit));
        return out;
    }
    if (!(x > 0.0) || !std::isfinite(x)) {
        NumText out = ShortestText(x);
        cutKeepingInteger(out, static_cast<long long>(n) + 2);
        out.append(" ");
        return out;
    }
    long long c = static_cast<long long>(n) + 2;
    if (ShortestText(x * 1e15).view().front() == '1') c += 1;

    double value = x;
    std::string_view suffix;
    bool plainRange = false;  // step 3: " ", " K" or " M"
    if (x < 1e-9) {
        value = x * 1e12;
        suffix = " p";
    } else if (x < 1e-6) {
        value = x * 1e9;
        suffix = " n";
    } else if (x < 0.001) {
        value = x * 1e6;
        suffix = " u";
    } else if (!smallUnit) {
        if (x < 1) {
            value = x * 1000;
            suffix = " m";
        } else {
            plainRange = true;
        }
    } else {
        c = 4;
        if (x < 1) {
            value = x * 1e6;
            suffix = " u";
        } else {
            plainRange = true;
        }
    }
    if (plainRange) {
        if (x < 1000) {
            value = x;
            suffix = " ";
        } else if (x >= 1000000) {
            value = x * 1e-6;
            suffix = " M";
        } else {
            value = x * 0.001;
            suffix = " K";
        }
    }
    NumText out = ShortestText(value);
    cutKeepingInteger(out, c);
    out.append(suffix);
    return out;
}

double MapAxis(double value, double span, double low, double high, bool logarithmic) {
    if (!logarithmic) {
        if (high == low) return 0.0;
        return span * (value - low) / (high - low);
    }
    if (value < 1) return 0.0;
    if (low < 1) low = 1;
    if (high < 2) high = 2;
    const double lnLow = std::log(low);
    const double lnHigh = std::log(high);
    if (lnHigh == lnLow) return 0.0;
    return span * (std::log(value) - lnLow) / (lnHigh - lnLow);
}

namespace {

// The digit d when value = d x 10^k (d = 1..9), else 0.
int singleDigitForm(long long value) {
    if (value <= 0) return 0;
    while (value % 10 == 0) value /= 10;
    return value < 10 ? static_cast<int>(value) : 0;
}

}  // namespace

bool IsRoundTick(long long value, long long low, long long high, bool logarithmic) {
    if (!logarithmic) {
        const long long width = high - low;
        if (width < 12) return true;
        if (width < 120) return value % 10 == 0;
        if (width < 1200) return value % 100 == 0;
        if (width < 12000) return value % 1000 == 0;
        return value % 2000 == 0;
    }
    const int d = singleDigitForm(value);
    if (d == 0) return false;
    if (d == 1) return true;
    // A band that starts at or below 0 spans countless decades.
    const long long ratio = low > 0 ? high / low : 1000000;
    if (ratio < 20) return true;
    if (ratio < 200) return d == 2 || d == 5;
    return false;
}

double PrevLogStep(double x) {
    static constexpr double kDecades[] = {1e5, 1e4, 1e3, 1e2, 1e1, 1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5};
    for (const double decade : kDecades) {
        if (x > 1.05 * decade) return x - decade;
    }
    return 0.0;
}

}  // namespace miral::display
