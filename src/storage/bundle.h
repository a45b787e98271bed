// SPDX-License-Identifier: GPL-3.0-or-later
// Measurement bundles (NAME.miral): everything needed to see a measurement
// again, on another machine, without the card that took it.
//
// The file is a MATLAB 5.0 MAT-file (level 5, uncompressed, little-endian),
// so scipy.io.loadmat, Octave's load and MATLAB read it as they are. Its
// variables, in file order:
//   miral_bundle   char    "Miral measurement bundle 1" (what the file is, and
//                          the layout's version)
//   miral_version  char    the program's version that wrote it
//   capture_a      single  65536 x 1: channel A's newest samples as captured
//   capture_b      single  65536 x 1: channel B's, oldest first, full scale
//                          = +-1.0 (before the input corrections of the panel)
//   sample_rate    double  the rate of capture_a/b in Hz (capture_rate /
//                          decimation)
//   capture_rate   double  the capture stream's rate in Hz
//   decimation     double  samples kept: one stream frame in `decimation`
//   sample_format  char    the stream's format, "float" or "24-bit"
//   view           char    the view at saving: "T", "F", "XFR" or "Z"
//   fft_size       double  the FFT size at saving
//   panel_state    char    the whole panel as the stored panel's text
//                          (registry.txt, see panel_store.h)
//   preferences    char    the Prefs.ini lines in force, joined by newlines
//   probe_table    uint8   1440 x 1: the colour schemes and the probe table as
//                          prefs.dat holds them (panel_store.h)
// Texts are char arrays (1 x n, UTF-16 code units). Each variable is one
// matrix element: type 14; array flags (class, no flags); dimensions; the
// name (tag size = the name's length, padded with zero bytes to a multiple
// of 8); the real part. No compression, no complex parts.
//
// Reading accepts what this writer writes, in any variable order, and also
// the small-element form for short names and data; anything else (another
// MAT-file, a damaged or truncated one, missing or inconsistent variables)
// is refused with a one-line reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace miral::storage {

inline constexpr std::string_view kBundleMagic = "Miral measurement bundle 1";
inline constexpr std::size_t kBundleSamples = 65536;
// A bundle is never near this big (about 0.6 MB); larger files are not read.
inline constexpr std::size_t kBundleMaxBytes = 64u << 20;

struct Bundle {
    std::string programVersion;
    std::vector<float> captureA;  // kBundleSamples each
    std::vector<float> captureB;
    double sampleRate = 0;
    double captureRate = 0;
    int decimation = 1;
    std::string sampleFormat;  // "float" or "24-bit"
    std::string view;          // "T", "F", "XFR", "Z"
    int fftSize = 0;
    std::string panelState;   // registry text
    std::string preferences;  // Prefs.ini text
    std::string probeTable;   // prefs.dat bytes (1440)
};

std::string encodeBundle(const Bundle& b);
// False with a one-line reason when the bytes are not a bundle we can use.
bool decodeBundle(std::string_view bytes, Bundle& out, std::string* why);

// Reads a bundle file; false with a one-line message naming the file.
bool readBundleFile(const std::string& path, Bundle& out, std::string* error);

}  // namespace miral::storage
