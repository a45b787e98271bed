# SPDX-License-Identifier: GPL-3.0-or-later
# The whole processing cycle of the spectrum view (acquisition, FFT, spectrum
# stage, grids, both traces, labels, tuner, present) on the simulated bench,
# drawn into QImage canvases.
miral_bench(analyzer_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/analyzer_bench.cpp
            LIBS miral_core miral_display_qt)
