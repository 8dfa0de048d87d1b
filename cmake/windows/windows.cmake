# The Windows build: the program and vantrel-reg against the real Win32 API.
# The logic's folders compile unchanged; platform/win/include comes first
# on the include path, so their platform headers are the Windows ones
# (platform/win/include/platform/*.h: Win32 plus what the program adds),
# implemented in platform/win/. No Qt, no D-Bus, no SQLite.
add_compile_options(-Wall -Wextra -Wno-unknown-pragmas)
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0A00 WINVER=0x0A00)
include_directories(BEFORE ${CMAKE_SOURCE_DIR}/platform/win/include)
include_directories(${CMAKE_SOURCE_DIR})

file(GLOB_RECURSE WIN_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win/*.cpp)
add_library(vantrel_platform STATIC ${WIN_PLATFORM_SOURCES}
  # The text calls are the same code as elsewhere: they need nothing of
  # the system.
  ${CMAKE_SOURCE_DIR}/platform/core/text.cpp
  ${CMAKE_SOURCE_DIR}/platform/core/wsprintf.cpp
  ${CMAKE_SOURCE_DIR}/platform/core/utf_convert.cpp
  ${CMAKE_SOURCE_DIR}/platform/core/utf8_decode.cpp
  ${CMAKE_SOURCE_DIR}/platform/core/mbstowcs.cpp
  ${CMAKE_SOURCE_DIR}/platform/core/trace_repeats.cpp
  # So are the questions asked with verbs: they go through MessageBoxW.
  ${CMAKE_SOURCE_DIR}/platform/core/message_verbs.cpp
  # So are the program's resource tables and the menu bar's answers to
  # the logic's questions.
  ${CMAKE_SOURCE_DIR}/platform/core/resources.cpp
  ${CMAKE_SOURCE_DIR}/platform/core/menu_bar_answers.cpp
  # The trace itself; where its lines go is Windows' own
  # (platform/win/core/trace_output.cpp).
  ${CMAKE_SOURCE_DIR}/platform/core/trace.cpp
  # The injection calls, their guard and the host: the backend under them
  # is the SendInput one (platform/win/inject/).
  ${CMAKE_SOURCE_DIR}/platform/inject/dispatch.cpp
  ${CMAKE_SOURCE_DIR}/platform/inject/inject_host.cpp)
target_link_libraries(vantrel_platform PUBLIC setupapi bthprops winmm shlwapi comctl32 shell32
  user32 gdi32 advapi32 ntdll)

file(GLOB common_sources ${CMAKE_SOURCE_DIR}/common/*.cpp)
add_library(vantrel_common STATIC ${common_sources})
target_link_libraries(vantrel_common PUBLIC vantrel_platform)
set_source_files_properties(${CMAKE_SOURCE_DIR}/common/product_info.cpp PROPERTIES
  COMPILE_DEFINITIONS "VANTREL_VERSION=\"${PROJECT_VERSION}\"")
file(GLOB resources_sources ${CMAKE_SOURCE_DIR}/resources/*.cpp)
add_library(vantrel_resources STATIC ${resources_sources})
target_link_libraries(vantrel_resources PUBLIC vantrel_platform)
file(GLOB keys_sources ${CMAKE_SOURCE_DIR}/keys/*.cpp)
add_library(vantrel_keys STATIC ${keys_sources})
target_link_libraries(vantrel_keys PUBLIC vantrel_common)
file(GLOB dialogs_sources ${CMAKE_SOURCE_DIR}/dialogs/*.cpp)
add_library(vantrel_dialogs STATIC ${dialogs_sources})
target_link_libraries(vantrel_dialogs PUBLIC vantrel_keys vantrel_resources vantrel_common)
file(GLOB link_sources ${CMAKE_SOURCE_DIR}/link/*.cpp)
add_library(vantrel_link STATIC ${link_sources})
target_link_libraries(vantrel_link PUBLIC vantrel_keys vantrel_common)
file(GLOB app_sources ${CMAKE_SOURCE_DIR}/app/*.cpp)
list(FILTER app_sources EXCLUDE REGEX "/main\\.cpp$")
add_library(vantrel_app STATIC ${app_sources})
target_link_libraries(vantrel_app PUBLIC vantrel_link vantrel_dialogs vantrel_keys
  vantrel_resources vantrel_common vantrel_platform)
# Installed, the data files are beside the program; nothing system-wide.
target_compile_definitions(vantrel_app PRIVATE VANTREL_SYSTEM_DATA_DIR="")

add_executable(vantrel WIN32 ${CMAKE_SOURCE_DIR}/app/main.cpp)
target_link_libraries(vantrel PRIVATE vantrel_app)
add_executable(vantrel-reg ${CMAKE_SOURCE_DIR}/tools/vantrel-reg/main.cpp
  ${CMAKE_SOURCE_DIR}/tools/vantrel-reg/commands.cpp
  ${CMAKE_SOURCE_DIR}/tools/vantrel-reg/value_format.cpp)
target_link_libraries(vantrel-reg PRIVATE vantrel_platform)
set_source_files_properties(${CMAKE_SOURCE_DIR}/tools/vantrel-reg/main.cpp PROPERTIES
  COMPILE_DEFINITIONS "VANTREL_VERSION=\"${PROJECT_VERSION}\"")

add_subdirectory(${CMAKE_SOURCE_DIR}/packaging/windows ${CMAKE_BINARY_DIR}/packaging-windows)
include(${CMAKE_SOURCE_DIR}/tests/windows/windows_tests.cmake)
