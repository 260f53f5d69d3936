# Helpers that register GoogleTest programs with ctest, labelled by component.
include(GoogleTest)

# qorcam_add_gtest(<name> LABELS <label>... SOURCES <file>... [LIBS <lib>...]
#                  [TIMEOUT <seconds>] [SERIAL])
# Builds one test program and registers each of its tests with ctest, so that
# `ctest -L <label>` runs one component and failures name the single test.
# SERIAL: its tests run alone, never beside other tests (they measure how a
# path behaves under its own load, which tests running beside them would change).
function(qorcam_add_gtest name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name}
    PROPERTIES TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
  # Labels are set once discovery has named the tests: a list of labels
  # passed through the discovery's properties would be split apart.
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  set(serial "")
  if(T_SERIAL)
    set(serial " RUN_SERIAL TRUE")
  endif()
  file(WRITE ${labels_file}
    "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${T_LABELS}\"${serial})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()
