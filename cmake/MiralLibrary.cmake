# SPDX-License-Identifier: GPL-3.0-or-later
# miral_library(name SOURCES ...): a static library of our code. A folder
# without sources yet still gives a (empty) library so that its users link.
function(miral_library name)
  cmake_parse_arguments(L "" "" "SOURCES" ${ARGN})
  if(NOT L_SOURCES)
    set(empty ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${empty} "namespace { [[maybe_unused]] int ${name}_empty = 0; }\n")
    set(L_SOURCES ${empty})
  endif()
  add_library(${name} STATIC ${L_SOURCES})
  miral_strict(${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
