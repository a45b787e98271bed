# SPDX-License-Identifier: GPL-3.0-or-later
miral_bench(generator_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/generator_bench.cpp
  LIBS miral_generator)
