# The Windows build's own tests, run under Wine by scripts/test-windows.sh
# (label windows): googletest from its source (/usr/src/googletest, or
# VANTREL_GTEST_SOURCE), the Windows platform's own calls against the real
# Win32 API, and the window of another program that the end-to-end test
# types into.
set(VANTREL_GTEST_SOURCE /usr/src/googletest CACHE PATH "googletest's source folder")
if(EXISTS ${VANTREL_GTEST_SOURCE}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VANTREL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_executable(test_windows ${CMAKE_CURRENT_LIST_DIR}/windows_platform_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows_link_test.cpp)
  target_link_libraries(test_windows PRIVATE vantrel_link vantrel_resources vantrel_platform
    gtest gtest_main)
else()
  message(STATUS "googletest's source missing: no test_windows")
endif()

# Built plainly against Win32, as another program would be.
add_executable(typing_window ${CMAKE_CURRENT_LIST_DIR}/typing_window.cpp)
set_target_properties(typing_window PROPERTIES INCLUDE_DIRECTORIES "")
# The typing benchmark's baseline: the port's letters typed with SendInput.
add_executable(com_forwarder ${CMAKE_CURRENT_LIST_DIR}/com_forwarder.cpp)
set_target_properties(com_forwarder PROPERTIES INCLUDE_DIRECTORIES "")

# The key logic's own tests, unchanged, on the Windows platform: the
# sandbox is the Windows one (windows_sandbox.cpp).
if(TARGET gtest)
  add_executable(test_keys_windows
    ${CMAKE_SOURCE_DIR}/tests/keys/test_scenarios.cpp
    ${CMAKE_SOURCE_DIR}/tests/keys/test_keycode_file.cpp
    ${CMAKE_SOURCE_DIR}/tests/keys/test_alt_shortcuts.cpp
    ${CMAKE_SOURCE_DIR}/tests/keys/test_layout_typing.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/scripted_message_boxes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows_sandbox.cpp)
  target_compile_definitions(test_keys_windows PRIVATE VANTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(test_keys_windows PRIVATE vantrel_keys vantrel_common vantrel_platform
    gtest gtest_main)
endif()

# The interface texts' tests, unchanged, on the Windows platform (the same
# sandbox). The link protocol's suites stay Linux-only: their support code
# drives the port through a pseudo-terminal (tests/support/pty_port.h) and
# the emulator, which the Windows end-to-end run covers instead.
if(TARGET gtest)
  add_executable(test_ui_strings_windows
    ${CMAKE_SOURCE_DIR}/tests/ui_strings/ui_strings_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/scripted_message_boxes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/windows_sandbox.cpp)
  target_compile_definitions(test_ui_strings_windows PRIVATE VANTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_compile_options(test_ui_strings_windows PRIVATE
    -include ${CMAKE_CURRENT_LIST_DIR}/posix_env.h)
  target_link_libraries(test_ui_strings_windows PRIVATE vantrel_resources vantrel_common
    vantrel_platform gtest gtest_main)
endif()
