# Native configuration: unit tests of the portable code with the system's GoogleTest.
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB unit_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
rmt_test_units(unit_units unit_tests ${unit_sources})
add_executable(unit_tests ${unit_units})
target_link_libraries(unit_tests PRIVATE rmt_core standin_rules GTest::gtest GTest::gtest_main)
# Every test file includes GoogleTest: parsed once, not once per file.
target_precompile_headers(unit_tests PRIVATE <gtest/gtest.h> <string> <vector>)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 30)

# The control's table as a grid, for docs/control-table.md; the test fails when the committed
# grid is not the one the table makes.
add_executable(control_table ${CMAKE_SOURCE_DIR}/tools/control_table/control_table.cpp)
target_link_libraries(control_table PRIVATE rmt_core)
add_test(NAME ControlTable.DocumentIsCurrent
  COMMAND control_table --check ${CMAKE_SOURCE_DIR}/docs/control-table.md)
