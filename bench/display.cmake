# SPDX-License-Identifier: GPL-3.0-or-later
# Screen drawing speed: one time-view frame (begin, grids, label line,
# present) must stay well under the 1 ms cycle budget.
miral_bench(display_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/display_bench.cpp LIBS miral_display_qt)
