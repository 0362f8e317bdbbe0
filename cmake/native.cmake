# Native configuration: unit tests of the portable code with the system's GoogleTest.
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB unit_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
add_executable(unit_tests ${unit_sources})
target_link_libraries(unit_tests PRIVATE rmt_core standin_rules GTest::gtest GTest::gtest_main)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 30)
