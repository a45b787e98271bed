# SPDX-License-Identifier: GPL-3.0-or-later
# The soak runner: built in every configuration (scripts/test runs it under the
# sanitizers for a short time; a Release build runs it for long soaks):
#   build/<config>/bench/soak --minutes 60 --seed 7
add_executable(soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp)
miral_strict(soak)
target_include_directories(soak PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(soak PRIVATE miral_app miral_core miral_display_qt)
set_target_properties(soak PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
set_target_properties(soak PROPERTIES ENABLE_EXPORTS ON)
