# SPDX-License-Identifier: GPL-3.0-or-later
# FFT stage: SpectrumEngine against the same analysis built on FFTW.
pkg_check_modules(FFTW3 IMPORTED_TARGET fftw3)
if(FFTW3_FOUND)
  miral_bench(fft_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/fft_bench.cpp
              LIBS miral_analysis PkgConfig::FFTW3)
  # -ffast-math lets GCC vectorise the FFTW baseline's atan/log/sqrt loops
  # with glibc's vector math library (compile only: crtfastmath is not linked,
  # so the process keeps IEEE denormals for both contenders).
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/fft_bench.cpp
    PROPERTIES COMPILE_OPTIONS "-ffast-math")
endif()
