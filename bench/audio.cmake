# SPDX-License-Identifier: GPL-3.0-or-later
miral_bench(audio_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_bench.cpp LIBS miral_audio)
