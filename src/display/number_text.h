// SPDX-License-Identifier: GPL-3.0-or-later
// Number-to-text routines of the readouts and scale labels, and the axis
// helpers shared by every grid and trace.
//
// Texts are returned in FixedText buffers that live on the stack, so that a
// drawing cycle can build all its readouts without touching the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace miral::display {

// A short text of at most N characters held inline. Appending beyond the
// capacity drops the excess (no readout of this program comes near it).
template <std::size_t N>
class FixedText {
  public:
    FixedText() = default;
    FixedText(std::string_view s) { append(s); }  // NOLINT: implicit by design

    FixedText& append(std::string_view s) {
        const std::size_t n = s.size() < N - len_ ? s.size() : N - len_;
        for (std::size_t i = 0; i < n; ++i) buf_[len_ + i] = s[i];
        len_ += n;
        buf_[len_] = '\0';
        return *this;
    }
    FixedText& append(char c) { return append(std::string_view(&c, 1)); }
    // Decimal integer.
    FixedText& appendInt(long long v);
    FixedText& operator+=(std::string_view s) { return append(s); }

    std::string_view view() const { return {buf_, len_}; }
    operator std::string_view() const { return view(); }  // NOLINT: implicit by design
    std::string str() const { return std::string(view()); }
    const char* c_str() const { return buf_; }
    std::size_t size() const { return len_; }
    bool empty() const { return len_ == 0; }
    void clear() {
        len_ = 0;
        buf_[0] = '\0';
    }
    // Keep only the first n characters.
    void truncate(std::size_t n) {
        if (n < len_) {
            len_ = n;
            buf_[len_] = '\0';
        }
    }
    friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }

  private:
    char buf_[N + 1] = {};
    std::size_t len_ = 0;
};

template <std::size_t N>
FixedText<N>& FixedText<N>::appendInt(long long v) {
    char tmp[24];
    int n = 0;
    unsigned long long u =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        tmp[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0) tmp[n++] = '-';
    char out[24];
    for (int i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
    return append(std::string_view(out, static_cast<std::size_t>(n)));
}

// Texts of numbers (readouts, labels).
using NumText = FixedText<47>;
// One line of text (the scale label line).
using LineText = FixedText<191>;

// The shortest decimal text of x with up to 15 significant digits, trailing
// zeros dropped, always with "." as the decimal point: 440 -> "440",
// 0.5 -> "0.5", 1e20 -> "1e+20". Negative zero is written "0".
NumText ShortestText(double x);

// The shortest text of x cut to n characters. When the text has an exponent,
// the first n - 3 characters of the mantissa followed by the exponent part.
// The integer digits are never cut: a number too wide for n characters keeps
// all of them (a shortened integer part would read as a different value).
NumText NumberText(double x, int n);

// What a readout shows in place of a figure that is no finite number.
inline constexpr std::string_view kNoReading = "---";

// Text of a quantity with a unit prefix: " p", " n", " u", " m", " ",
// " K" or " M" followed by nothing (the caller appends the unit). n sets the
// number of characters kept (n + 2, one more when the value's leading digit
// is 1). With smallUnit, values from 0.001 to 1 are written in " u" and the
// cut is 4 characters. As in NumberText the integer digits are never cut, so
// 0.5 with smallUnit reads "500000 u". A negative value reads as its
// magnitude with a minus sign in front ("-20.6 n" for -2.06e-8); zero and
// non-finite values are written plainly with the suffix " ".
NumText SiText(double x, int n, bool smallUnit);

// Pixel offset of value on an axis of span pixels from low to high, linear
// or logarithmic (natural logs; values below 1 map to 0, low is raised to 1
// and high to 2 when below them). A degenerate axis (high == low) maps to 0.
double MapAxis(double value, double span, double low, double high, bool logarithmic);

// Whether a grid line at value gets a numeric label (axis from low to high).
// Linear: every value when high - low < 12, else multiples of 10, 100, 1000
// or 2000 as the width grows past 120, 1200, 12000. Logarithmic, with
// ratio = high / low (integer division): 1 x 10^k always; every d x 10^k when
// ratio < 20; 2 x 10^k and 5 x 10^k too when ratio < 200.
bool IsRoundTick(long long value, long long low, long long high, bool logarithmic);

// The step before x in the 1-2-...-9 sequence of its decade: x - 10^k for the
// highest k in -5..5 with x > 1.05 x 10^k; 0 once x <= 0.0000105.
// From 1000000 it runs 900000, 800000, ..., 100000, 90000, ..., 0.00001, 0.
double PrevLogStep(double x);

}  // namespace miral::display
