# Cross configuration: the program, the stand-in server, test tools and the end-to-end suite.
add_compile_definitions(WINVER=0x0601 _WIN32_WINNT=0x0601 NOMINMAX STRICT)
# No MinGW DLL may be needed beside an executable.
add_link_options(-static -static-libgcc -static-libstdc++)

file(GLOB program_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*_win.cpp
  ${CMAKE_SOURCE_DIR}/tray/*_win.cpp
  ${CMAKE_SOURCE_DIR}/config/*_win.cpp
  ${CMAKE_SOURCE_DIR}/server/*_win.cpp
  ${CMAKE_SOURCE_DIR}/update/*_win.cpp
  ${CMAKE_SOURCE_DIR}/platform/*_win.cpp)

# The addresses the program reaches are build settings (README); only the file that holds them
# is compiled once per executable.
set(RMT_PROBE_URL "http://www.baidu.com/" CACHE STRING "Connectivity probe (plain HTTP)")
set(RMT_MANIFEST_URL "https://www.example.com/Ver.ini" CACHE STRING "Update manifest")
set(RMT_PROJECT_URL "https://www.example.com/rivermesh-tools/" CACHE STRING "Project page")
set(RMT_DONATION_MAIN_URL "https://www.example.com/dashang/" CACHE STRING "Donation page")
set(RMT_DONATION_MIRROR_URL "https://mirror.example.org/dashang/" CACHE STRING
  "Donation page on the mirror site")
set(RMT_TEST_PORT 38517 CACHE STRING "Loopback port of the test build's update server")

# The program's Win32 layer as a library: the program links what its entry reaches, the
# end-to-end tests what they test of it (the process utilities), without compiling it again. The
# entry, the terminate handler and the delay-load hook (each replaces a default of the runtime
# library, so it is linked directly) and the file that holds the addresses (compiled once per
# executable), like the start's bounds, are the executables' own.
set(address_source ${CMAKE_SOURCE_DIR}/update/addresses_win.cpp
  ${CMAKE_SOURCE_DIR}/server/start_bounds_win.cpp)
set(entry_sources ${CMAKE_SOURCE_DIR}/app/main_win.cpp ${CMAKE_SOURCE_DIR}/app/terminate_win.cpp
  ${CMAKE_SOURCE_DIR}/app/library_throws_win.cpp ${CMAKE_SOURCE_DIR}/platform/delay_load_win.cpp)
list(REMOVE_ITEM program_sources ${address_source} ${entry_sources})
add_library(rmt_program STATIC ${program_sources})
target_link_libraries(rmt_program PUBLIC rmt_core)

# What the window does not need in order to appear is loaded on first use: the file dialog, the
# network (the update check, the port's owner), OLE's drag and drop and the shell (the tray icon,
# opening pages). Loaded at start, they and what they pull in cost about 40 ms under Wine before
# the window could show. Each .def names the
# functions the program calls; a call of any other fails the link, so a new one is added there.
#
# Each function's slot starts out pointing at its loading stub, and the program mostly calls through
# the slot (most headers declare the functions as imported), not the stub by name. The 32-bit linker
# drops the code of an import library's member that nothing names but its slot, as it may for a
# plain import's jump, so the slots would start out at 0 and the first call would jump there.
# Every stub is therefore named on the link line as needed (`-u`).
set(delay_import_libs)
set(delay_import_stubs)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayload)
foreach(dll comdlg32 iphlpapi ole32 shell32 wininet ws2_32)
  set(def ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  file(STRINGS ${def} exports REGEX "^[A-Za-z_][A-Za-z0-9_]*@[0-9]+$")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # 64-bit names carry no stdcall suffix and no leading underscore.
    file(READ ${def} text)
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
    set(def ${CMAKE_BINARY_DIR}/delayload/${dll}.def)
    file(WRITE ${def} "${text}")
    list(TRANSFORM exports REPLACE "@[0-9]+$" "")
  else()
    list(TRANSFORM exports PREPEND "_")
  endif()
  list(TRANSFORM exports PREPEND "LINKER:-u,")
  list(APPEND delay_import_stubs ${exports})
  set(lib ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${def} --dllname ${dll}.dll
      --output-delaylib ${lib}
    DEPENDS ${def} VERBATIM)
  list(APPEND delay_import_libs ${lib})
endforeach()
add_custom_target(delay_import_libs DEPENDS ${delay_import_libs})

function(rmt_program_executable target probe manifest project donation_main donation_mirror)
  add_executable(${target} WIN32 ${entry_sources} ${address_source}
    ${CMAKE_SOURCE_DIR}/resources/app.rc)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/resources)
  target_compile_definitions(${target} PRIVATE RMT_PROBE_URL="${probe}"
    RMT_MANIFEST_URL="${manifest}" RMT_PROJECT_URL="${project}"
    RMT_DONATION_MAIN_URL="${donation_main}" RMT_DONATION_MIRROR_URL="${donation_mirror}")
  target_link_libraries(${target} PRIVATE rmt_program rmt_core comctl32 uuid user32 gdi32
    advapi32 ${delay_import_libs})
  target_link_options(${target} PRIVATE ${delay_import_stubs})
  add_dependencies(${target} delay_import_libs)
endfunction()

# Windows refuses to start a program whose manifest names another processor than its own.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(RMT_MANIFEST_ARCH amd64)
else()
  set(RMT_MANIFEST_ARCH x86)
endif()
configure_file(${CMAKE_SOURCE_DIR}/resources/app.manifest.in
  ${CMAKE_BINARY_DIR}/resources/app.manifest @ONLY)

# The resource compiler reads these files, but CMake does not see them as dependencies. The
# manifest is found through the include path (windres looks for named files there too).
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/app.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_BINARY_DIR}/resources/app.manifest;${CMAKE_SOURCE_DIR}/resources/app.ico")

rmt_program_executable(RivermeshTools ${RMT_PROBE_URL} ${RMT_MANIFEST_URL} ${RMT_PROJECT_URL}
  ${RMT_DONATION_MAIN_URL} ${RMT_DONATION_MIRROR_URL})

# For the end-to-end tests only: the same program with its update check aimed at a server the
# test runs on 127.0.0.1, and page addresses the test recognises.
set(rmt_test_pages https://pages.rmt-test.example)
rmt_program_executable(RivermeshToolsLoopback "http://127.0.0.1:${RMT_TEST_PORT}/"
  "http://127.0.0.1:${RMT_TEST_PORT}/Ver.ini" "${rmt_test_pages}/usage"
  "${rmt_test_pages}/main/dashang/" "${rmt_test_pages}/mirror/dashang/")
set_target_properties(RivermeshToolsLoopback PROPERTIES OUTPUT_NAME RivermeshTools-loopback)
# Its update check gives up sooner, so that the tests of a stalling server wait seconds, not a
# minute. Like the addresses, a value of the build: the program reads no setting for it.
set(rmt_test_check_deadline_ms 8000)
# The same for a start's bounds: a server that never appears, or never answers.
set(rmt_test_appear_most_ms 5000)
set(rmt_test_answer_most_ms 6000)
target_compile_definitions(RivermeshToolsLoopback PRIVATE
  RMT_CHECK_DEADLINE_MS=${rmt_test_check_deadline_ms}
  RMT_APPEAR_MOST_MS=${rmt_test_appear_most_ms} RMT_ANSWER_MOST_MS=${rmt_test_answer_most_ms})

# Stand-in for the outside server: same file name as the real one, for demos and tests only.
add_executable(standin ${CMAKE_SOURCE_DIR}/tools/standin/standin_win.cpp)
set_target_properties(standin PROPERTIES OUTPUT_NAME rivermesh_windows_amd64)
target_link_libraries(standin PRIVATE standin_rules ws2_32)

# The real server is a 64-bit program, and the program manages it across that boundary: the tests
# manage the stand-in built for x86-64 (x64/rivermesh_windows_amd64.exe). This configuration's
# compiler makes 32-bit code only, so the 64-bit one is called directly.
set(standin64_sources ${CMAKE_SOURCE_DIR}/tools/standin/standin_win.cpp
  ${CMAKE_SOURCE_DIR}/tools/standin/standin_rules.cpp ${CMAKE_SOURCE_DIR}/platform/gbk.cpp)
set(standin64 ${CMAKE_BINARY_DIR}/x64/rivermesh_windows_amd64.exe)
add_custom_command(OUTPUT ${standin64}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/x64
  COMMAND x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -finput-charset=UTF-8 -fexec-charset=GBK
    -DWINVER=0x0601 -D_WIN32_WINNT=0x0601 -DNOMINMAX -DSTRICT -I${CMAKE_SOURCE_DIR}
    ${standin64_sources} -o ${standin64} -static -s -lws2_32
  DEPENDS ${standin64_sources} ${CMAKE_SOURCE_DIR}/tools/standin/standin_rules.h
    ${CMAKE_SOURCE_DIR}/platform/gbk.h ${CMAKE_SOURCE_DIR}/platform/handles_win.h
  COMMENT "Building the 64-bit stand-in" VERBATIM)
add_custom_target(standin64 ALL DEPENDS ${standin64})

# Starts another program and waits for it; copied under other names by the tests.
add_executable(launcher WIN32 ${CMAKE_SOURCE_DIR}/tools/launcher/launcher_win.cpp)

# Registered as the web browser in the test prefix: records the addresses it is given.
add_executable(url_recorder WIN32 ${CMAKE_SOURCE_DIR}/tools/url_recorder/url_recorder_win.cpp)

# A library under the network library's name, for the test that drops it beside the program.
add_library(planted_dll SHARED ${CMAKE_SOURCE_DIR}/tools/planted_dll/planted_dll_win.cpp)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME wininet
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)

# GoogleTest for the Windows-side suites. Debian ships its sources, compiled here with the cross
# compiler; MSYS2's MINGW32 environment ships it built (mingw-w64-i686-gtest).
if(EXISTS /usr/src/googletest/CMakeLists.txt)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's literals are not all representable in GBK (libstdc++'s <chrono> has a micro
  # sign), so its own sources keep UTF-8. Our sources must not include <chrono> for that reason.
  foreach(t gtest gtest_main)
    target_compile_options(${t} PRIVATE -fexec-charset=UTF-8 -w -O1)
  endforeach()
else()
  find_package(GTest REQUIRED)
  add_library(gtest ALIAS GTest::gtest)
  add_library(gtest_main ALIAS GTest::gtest_main)
endif()

file(GLOB e2e_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*.cpp)
# The harness the end-to-end suite, the desktop's anchor and the benchmark share: compiled once.
file(GLOB e2e_support_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(e2e_support STATIC ${e2e_support_sources})
target_link_libraries(e2e_support PUBLIC standin_rules gtest ws2_32 psapi comctl32 user32 gdi32
  advapi32)
rmt_test_units(e2e_units e2e_tests ${e2e_sources})
add_executable(e2e_tests ${e2e_units})
target_link_libraries(e2e_tests PRIVATE e2e_support rmt_program gtest_main shell32 ole32 oleacc
  oleaut32 uuid iphlpapi)

# ctest runs the Windows programs' tests under Wine: the suites are found when ctest starts, from
# the program's own list of its cases (tests/e2e/e2e_tests.cmake.in).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(rmt_bits 64)
else()
  set(rmt_bits 32)
endif()
configure_file(${CMAKE_SOURCE_DIR}/tests/e2e/e2e_tests.cmake.in
  ${CMAKE_BINARY_DIR}/e2e_tests.cmake @ONLY)
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/e2e_tests.cmake)

# The portable unit tests once more, as a 32-bit Windows program: layouts and byte rules are
# checked where they matter.
file(GLOB unit_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
rmt_test_units(unit_units unit_tests ${unit_sources})
add_executable(unit_tests ${unit_units})
target_link_libraries(unit_tests PRIVATE rmt_core standin_rules gtest gtest_main)
# Every test file includes GoogleTest, and every end-to-end one the system's headers (Winsock 2
# before windows.h): parsed once per program, not once per file.
target_precompile_headers(unit_tests PRIVATE <gtest/gtest.h> <string> <vector>)
target_precompile_headers(e2e_tests PRIVATE <winsock2.h> <ws2tcpip.h> <windows.h> <gtest/gtest.h>
  <string> <vector>)

# Users get the program without its symbols, and two builds of one commit give the same bytes:
# the linker would otherwise stamp the link time into the PE header.
target_link_options(RivermeshTools PRIVATE -s -Wl,--no-insert-timestamp)
# The program is built for size: optimised for it, with every function and datum in a section of
# its own so that the linker drops the unused ones, and no unwind tables where no exception can
# pass (exceptions never cross a window procedure or a thread entry). app/terminate_win.cpp keeps
# the library's demangler out. The test programs share rmt_core and so these options.
# The x86-64 compiler unwinds through its tables (SEH): without them it would fall back to
# setjmp/longjmp exceptions, which its library does not carry. There the tables stay.
set(rmt_size_options -Os -ffunction-sections -fdata-sections)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND rmt_size_options -fno-asynchronous-unwind-tables)
endif()
foreach(target rmt_core rmt_program RivermeshTools RivermeshToolsLoopback)
  target_compile_options(${target} PRIVATE ${rmt_size_options})
endforeach()
foreach(target RivermeshTools RivermeshToolsLoopback)
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
endforeach()

# The floors the benchmark measures beside the program's figures (tools/floor).
# The benchmark's programs are built by scripts/bench.sh alone: no test needs them.
add_executable(floor WIN32 EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/floor/floor_win.cpp
  ${CMAKE_SOURCE_DIR}/tools/floor/floor.rc)
target_include_directories(floor PRIVATE ${CMAKE_BINARY_DIR}/resources)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/tools/floor/floor.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_BINARY_DIR}/resources/app.manifest)
target_link_libraries(floor PRIVATE ws2_32 comctl32 user32 gdi32)
# As lean as the program: built for size and without symbols.
target_compile_options(floor PRIVATE -Os)
target_link_options(floor PRIVATE -s)

# Benchmark driver for scripts/bench.sh; it shares the end-to-end suite's harness.
file(GLOB bench_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/bench/*_win.cpp)
add_executable(bench EXCLUDE_FROM_ALL ${bench_sources})
target_link_libraries(bench PRIVATE e2e_support)

# Holds a test prefix's desktop between two test programs (tests/e2e/wine_test.sh).
add_executable(desktop_anchor WIN32 ${CMAKE_SOURCE_DIR}/tools/desktop_anchor/desktop_anchor_win.cpp)
target_link_libraries(desktop_anchor PRIVATE e2e_support)
target_compile_definitions(e2e_tests PRIVATE RMT_TEST_PORT=${RMT_TEST_PORT}
  RMT_TEST_PAGES="${rmt_test_pages}" RMT_TEST_CHECK_DEADLINE_MS=${rmt_test_check_deadline_ms}
  RMT_TEST_APPEAR_MOST_MS=${rmt_test_appear_most_ms}
  RMT_TEST_ANSWER_MOST_MS=${rmt_test_answer_most_ms})

# The tests' own code, and GoogleTest, at -O1: what they test (rmt_core, rmt_program, the
# programs) keeps the release's options, and -O3 took the tests twice as long to compile.
foreach(target unit_tests e2e_tests e2e_support desktop_anchor bench)
  target_compile_options(${target} PRIVATE -O1)
endforeach()
