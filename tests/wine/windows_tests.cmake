# The Windows leg of the test suite: GoogleTest built from source for the cross
# compiler, the Win32 integration tests, the export-table check, and the Wine
# fixture that every test of this directory runs in. Included from
# tests/CMakeLists.txt when building for Windows.

# GoogleTest from the Debian sources, built with the cross compiler.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF CACHE BOOL "" FORCE)
set(UTILS_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
add_subdirectory(${UTILS_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

find_program(UTILS_WINESERVER NAMES wineserver wineserver64 PATHS /usr/lib/wine REQUIRED)
find_program(UTILS_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
set(UTILS_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# Wine's own diagnostics in the test output: "-all" keeps it quiet, "" restores
# Wine's default (errors and fixmes), "+reg" and the like trace a component.
set(UTILS_WINEDEBUG "-all" CACHE STRING "WINEDEBUG for the tests run under Wine")
set(UTILS_WINE_DIR ${CMAKE_CURRENT_LIST_DIR})

# utils_win32_test(NAME SOURCES...): a GoogleTest program on the Win32 adapters.
function(utils_win32_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE utils_port_win32 utils_core GTest::gtest GTest::gtest_main utils_warnings)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${UTILS_WINE_DIR})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS integration SKIP_RETURN_CODE 77)
endfunction()

utils_win32_test(integration_win32_ports
  integration/win32_registry_test.cpp
  integration/win32_debug_output_test.cpp
  integration/win32_clock_test.cpp
  wine/dbwin_capture.cpp)
utils_win32_test(integration_win32_xml integration/win32_xml_test.cpp)
# The bus, radio and socket probe adapters, and the radio functions over them.
utils_win32_test(integration_win32_radio
  integration/win32_bus_test.cpp
  integration/win32_radio_test.cpp
  integration/win32_radio_exports_test.cpp)
# The socket layer's start-ups are counted per process: the probe's balance is
# checked in a process of its own, where no library thread starts the layer.
utils_win32_test(integration_win32_rfcomm integration/win32_rfcomm_test.cpp)

# The notification port's windows, records, events and threads, and the service on them.
utils_win32_test(integration_win32_notification integration/win32_notification_test.cpp)
# The dial-up adapter on RAS and SetupAPI, and the dial-up functions over it.
utils_win32_test(integration_win32_dialup integration/win32_dialup_test.cpp)

# The language and shell helpers, with a language library of the tests.
add_library(win32_test_lang_library MODULE integration/win32_test_lang_library.cpp)
utils_win32_test(integration_win32_ui integration/win32_ui_test.cpp)
target_compile_definitions(integration_win32_ui PRIVATE UTILS_TEST_LANG_LIBRARY=L"$<TARGET_FILE:win32_test_lang_library>")
add_dependencies(integration_win32_ui win32_test_lang_library)

# Callers built with Microsoft's compiler: the class's decorated names and a
# caller built for that ABI.
include(${CMAKE_CURRENT_LIST_DIR}/msvc/msvc_caller.cmake)
# The password prompt's Windows adapter: the warning dialog from the library's
# resource script, linked into the test program as into the DLL.
utils_win32_test(integration_win32_credentials integration/win32_credentials_test.cpp
  ${PROJECT_SOURCE_DIR}/src/port/win32/utils.rc)

# The capture owns the session-wide DBWIN_BUFFER objects: one reader at a time.
set_tests_properties(integration_win32_ports PROPERTIES RESOURCE_LOCK dbwin)

# The DLL as a caller loads it: the load step, the trace output and the registry
# helpers through the Win32 adapters.
add_executable(integration_win32_dll integration/win32_dll_test.cpp wine/dbwin_capture.cpp)
target_link_libraries(integration_win32_dll PRIVATE GTest::gtest GTest::gtest_main utils_warnings)
target_include_directories(integration_win32_dll PRIVATE ${PROJECT_SOURCE_DIR}/include ${UTILS_WINE_DIR})
add_dependencies(integration_win32_dll utils)
add_test(NAME integration_win32_dll COMMAND integration_win32_dll WORKING_DIRECTORY $<TARGET_FILE_DIR:utils>)
set_tests_properties(integration_win32_dll PROPERTIES
  LABELS integration SKIP_RETURN_CODE 77
  # It rewrites the machine-wide debug settings while it runs.
  RESOURCE_LOCK "dbwin;debug_settings")

# utils.dll exports exactly the listed names and imports only system DLLs.
find_program(UTILS_PYTHON3 NAMES python3 REQUIRED)
add_test(NAME dll_tables
  COMMAND ${UTILS_PYTHON3} ${UTILS_WINE_DIR}/dll_tables.py ${UTILS_OBJDUMP} $<TARGET_FILE:utils>
          ${UTILS_WINE_DIR}/utils_dll_exports.txt ADVAPI32.dll KERNEL32.dll msvcrt.dll ole32.dll OLEAUT32.dll
          SETUPAPI.dll bthprops.cpl WS2_32.dll USER32.dll RASAPI32.dll WTSAPI32.dll credui.dll Secur32.dll GDI32.dll)
set_tests_properties(dll_tables PROPERTIES LABELS integration)

# btutil reg (the Linux build's binary) and Wine's reg.exe side by side on the
# same generated commands and registry files. scripts/test-windows.sh builds it.
set(UTILS_LINUX_BTUTIL "${PROJECT_SOURCE_DIR}/build/tools/btutil/btutil" CACHE FILEPATH
    "The Linux btutil that the differential test runs against Wine's reg")
add_test(NAME reg_differential
  COMMAND ${UTILS_PYTHON3} ${UTILS_WINE_DIR}/reg_differential_test.py ${CMAKE_CROSSCOMPILING_EMULATOR}
          ${UTILS_LINUX_BTUTIL})
set_tests_properties(reg_differential PROPERTIES LABELS integration SKIP_RETURN_CODE 77)

add_test(NAME wine_setup COMMAND ${UTILS_WINE_DIR}/wine-setup.sh ${CMAKE_CROSSCOMPILING_EMULATOR} ${UTILS_WINESERVER})
add_test(NAME wine_cleanup COMMAND ${UTILS_WINE_DIR}/wine-cleanup.sh ${UTILS_WINESERVER})
set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
set_tests_properties(wine_cleanup PROPERTIES FIXTURES_CLEANUP wine)

# Every test of this directory, including those added after this file, runs in
# the fixture's prefix without a display. Applied once the directory is complete.
function(utils_apply_wine_fixture)
  get_property(tests DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} PROPERTY TESTS)
  foreach(test IN LISTS tests)
    if(NOT test MATCHES "^wine_(setup|cleanup)$")
      set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine)
    endif()
    # winedbg is disabled so that a crashing test fails at once instead of
    # waiting in the crash debugger until ctest's time-out.
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
      "WINEPREFIX=${UTILS_WINEPREFIX}" "WINEDLLOVERRIDES=mscoree,mshtml=;winedbg.exe=d" "DISPLAY="
      "WINEDEBUG=${UTILS_WINEDEBUG}")
    set_property(TEST ${test} PROPERTY TIMEOUT 300)
  endforeach()
endfunction()
cmake_language(DEFER CALL utils_apply_wine_fixture)
