# SPDX-License-Identifier: GPL-3.0-or-later
# The distortion analyzer: one measurement of both channels (window,
# transform, power spectra, figures), alone.
miral_bench(distortion_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/distortion_bench.cpp LIBS miral_analysis)
