# Fails when a source folder includes a folder below which it must not
# reach, or when toolkit or system-service headers appear outside platform/.
#
#   cmake -DSOURCE_DIR=<repository> -P cmake/check_layers.cmake
#
# The folders form a tree, each allowed to include only itself and the
# folders listed for it (which are all further down):
#
#   app ─┬─ dialogs ─┬─ keys ─ common ─ platform
#        │           └─ resources ──────┘
#        ├─ link ─── keys
#        └─ (all of the above)
#   tools ─ common, platform
#
# platform/ includes nothing of the program's own. Inside platform/, the
# Windows platform and the key injection backends stand apart (see below).
# Run by every build (target check_layers) and by ctest (test layering).
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_layers: pass -DSOURCE_DIR=<repository>")
endif()

set(allowed_platform  "")
set(allowed_common    platform)
set(allowed_resources platform)
set(allowed_keys      common platform)
set(allowed_dialogs   keys common resources platform)
set(allowed_link      keys common platform)
set(allowed_app       dialogs link keys common resources platform)
set(allowed_tools     common platform)
set(layers platform common resources keys dialogs link app tools)
set(all_folders ${layers} tests)

# Headers that only platform/ may include: the desktop toolkit, the window
# system, the serial line, input devices, D-Bus, sound and the database.
set(platform_only_headers
  "Q[A-Za-z]+" "qt[a-z]*/" "X11/" "termios\\.h" "libevdev" "linux/uinput\\.h"
  "systemd/" "dbus/" "xkbcommon/" "wayland-" "pulse/" "sqlite3\\.h")
list(JOIN platform_only_headers "|" platform_only_regex)

set(faults "")
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp"
       "${SOURCE_DIR}/${layer}/*.inc")
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS includes)
      if(line MATCHES "#[ \t]*include[ \t]*\"([A-Za-z0-9_-]+)/")
        set(folder "${CMAKE_MATCH_1}")
        if(NOT folder STREQUAL layer AND folder IN_LIST all_folders
           AND NOT folder IN_LIST allowed_${layer})
          string(APPEND faults "  ${shown}: ${layer}/ must not include ${folder}/ (${line})\n")
        endif()
      elseif(line MATCHES "#[ \t]*include[ \t]*<(${platform_only_regex})"
             AND NOT layer MATCHES "^(platform|tools)$")
        string(APPEND faults "  ${shown}: only platform/ includes ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

# Inside platform/: the Windows platform (platform/win/) stands beside the
# other backends' folders, never on them. It includes the public platform
# headers (platform/*.h, which on Windows are its own, from
# platform/win/include), its own folder and the system-free helpers it
# shares (platform/core/utf8_decode.h, the trace's place for its lines
# platform/core/trace_output.h, the menu bar's answers
# platform/core/menu_bar_answers.h, and the injection chooser's word to the
# calls platform/inject/chosen.h); no other folder
# includes platform/win/, and the Win32 headers appear only there (and in
# tests/windows, whose window is a plain Win32 program of its own).
set(win32_headers "windows\\.h" "setupapi\\.h" "bluetoothapis\\.h" "mmsystem\\.h"
  "shellapi\\.h" "commctrl\\.h" "devguid\\.h")
list(JOIN win32_headers "|" win32_regex)
set(win_shared
  "platform/core/(trace_output|utf8_decode|menu_bar_answers)\\.h|platform/inject/chosen\\.h")
file(GLOB_RECURSE all_sources "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.inc")
foreach(source IN LISTS all_sources)
  file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
  if(shown MATCHES "^build[^/]*/")
    continue()  # build trees inside the repository (their own path may hold "build")
  endif()
  set(in_win OFF)
  if(shown MATCHES "^platform/win/")
    set(in_win ON)
  endif()
  file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS includes)
    if(line MATCHES "#[ \t]*include[ \t]*\"(platform/[^\"]*)\"")
      set(target "${CMAKE_MATCH_1}")
      if(in_win AND NOT target MATCHES "^platform/(win/|[A-Za-z0-9_]+\\.h$)"
         AND NOT target MATCHES "^(${win_shared})$")
        string(APPEND faults "  ${shown}: platform/win/ must not include ${target}\n")
      elseif(NOT in_win AND target MATCHES "^platform/win/"
             AND NOT shown MATCHES "^tests/windows/")
        string(APPEND faults "  ${shown}: only platform/win/ includes ${target}\n")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<(${win32_regex})>"
           AND NOT in_win AND NOT shown MATCHES "^tests/windows/")
      string(APPEND faults "  ${shown}: only platform/win/ includes ${line}\n")
    endif()
  endforeach()
endforeach()

# Key injection inside platform/: platform/inject/ is the interface (the
# calls, the table of operations, the host that runs them, the choice's
# session); each backend folder (inject_backends) implements it and knows
# only the interface, the shared key maps (platform/keymaps/) and the system-
# free core. One chooser (platform/inject_choice/) includes the backends.
# So: a backend never includes another backend or the chooser; nothing but
# the chooser and the tests includes a backend; no folder includes the
# chooser. The Windows backend lives in platform/win/inject and is held to
# the same rule through the folder platform/win.
set(inject_backends xtest wayland uinput portal log win)
list(JOIN inject_backends "|" backends_regex)
file(GLOB_RECURSE platform_sources "${SOURCE_DIR}/platform/*.h" "${SOURCE_DIR}/platform/*.cpp"
     "${SOURCE_DIR}/platform/*.inc")
foreach(source IN LISTS platform_sources)
  file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
  string(REGEX REPLACE "^platform/([^/]+)/.*" "\\1" from "${shown}")
  if(from STREQUAL shown)
    set(from "")  # a public header at platform/'s top
  endif()
  file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS includes)
    if(NOT line MATCHES "#[ \t]*include[ \t]*\"platform/([A-Za-z0-9_-]+)/")
      continue()
    endif()
    set(to "${CMAKE_MATCH_1}")
    if(to STREQUAL from)
      continue()
    endif()
    if(to STREQUAL "inject_choice")
      string(APPEND faults "  ${shown}: only the build links the injection chooser; nothing includes it (${line})\n")
    elseif(to MATCHES "^(${backends_regex})$" AND from MATCHES "^(${backends_regex})$")
      string(APPEND faults "  ${shown}: injection backends never include one another (${line})\n")
    elseif(to MATCHES "^(${backends_regex})$" AND NOT from STREQUAL "inject_choice")
      string(APPEND faults "  ${shown}: only platform/inject_choice/ includes an injection backend (${line})\n")
    endif()
  endforeach()
endforeach()

if(faults)
  message(FATAL_ERROR "Folder layering broken:\n${faults}"
    "See cmake/check_layers.cmake for which folder may include which.")
endif()
