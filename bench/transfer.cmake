# SPDX-License-Identifier: GPL-3.0-or-later
# Cycles of the transfer-function (Bode) and impedance views, the RLC meter,
# and their stages alone.
miral_bench(transfer_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp LIBS miral_core miral_display_qt)
