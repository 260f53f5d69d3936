# Helpers that register GoogleTest programs with ctest, labelled by component.
include(GoogleTest)

# qorcam_add_gtest(<name> LABELS <label>... SOURCES <file>... [LIBS <lib>...]
#                  [TIMEOUT <seconds>])
# Builds one test program and registers each of its tests with ctest, so that
# `ctest -L <label>` runs one component and failures name the single test.
function(qorcam_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    DISCOVERY_TIMEOUT 60)
endfunction()
