# SPDX-License-Identifier: GPL-3.0-or-later
# Whole processing cycles of the instrument, headless on the simulated bench.
miral_bench(cycle_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/cycle_bench.cpp LIBS miral_core miral_display_qt)
