# SPDX-License-Identifier: GPL-3.0-or-later
# The swept measurement's computing, after the sweep has been recorded: a
# 20 Hz .. 20 kHz sweep of 3 s, analysed at 48 kHz and 96 kHz (target: 0.2 s).
miral_bench(sweep_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/sweep_bench.cpp LIBS miral_analysis)
