# The layering check must fail on each wrong include below and pass on a
# tree without one: each case is a one-file tree of its own, checked apart.
#
#   cmake -DCHECK=<cmake/check_layers.cmake> -DWORK_DIR=<scratch folder> -P planted_faults.cmake
cmake_minimum_required(VERSION 3.25)

# file | the line it holds | what the check must say ("" when it must pass)
set(cases
  "platform/xtest/a.cpp|platform/uinput/uinput_backend.h|backends never include one another"
  "platform/wayland/a.cpp|platform/xtest/vk_keysyms.h|backends never include one another"
  "platform/portal/a.h|platform/log/log_backend.h|backends never include one another"
  "platform/log/a.cpp|platform/inject_choice/select.cpp|nothing includes it"
  "platform/core/a.cpp|platform/xtest/xtest_backend.h|only platform/inject_choice/ includes"
  "platform/inject/a.cpp|platform/log/log_backend.h|only platform/inject_choice/ includes"
  "platform/uinput/a.cpp|platform/win/inject/key_records.h|only platform/win/ includes"
  "platform/win/inject/a.cpp|platform/keymaps/key_plan.h|platform/win/ must not include"
  "platform/dbus/a.cpp|platform/win/windows_api.h|only platform/win/ includes"
  "platform/inject_choice/a.cpp|platform/xtest/xtest_backend.h|"
  "platform/uinput/a.cpp|platform/keymaps/key_plan.h|"
  "platform/win/inject/a.cpp|platform/win/core/real_calls.h|")

set(failures "")
set(n 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 file)
  list(GET fields 1 included)
  list(LENGTH fields count)
  set(expected "")
  if(count GREATER 2)
    list(GET fields 2 expected)
  endif()
  math(EXPR n "${n} + 1")
  set(tree "${WORK_DIR}/planted-${n}")
  file(REMOVE_RECURSE "${tree}")
  file(WRITE "${tree}/${file}" "#include \"${included}\"\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${tree} -P ${CHECK}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  file(REMOVE_RECURSE "${tree}")
  if(expected STREQUAL "")
    if(NOT rc EQUAL 0)
      string(APPEND failures "  ${file} including ${included} was refused:\n${out}\n")
    endif()
  elseif(rc EQUAL 0)
    string(APPEND failures "  ${file} including ${included} passed\n")
  else()
    string(FIND "${out}" "${expected}" at)
    if(at EQUAL -1)
      string(APPEND failures "  ${file} including ${included}: no \"${expected}\" in:\n${out}\n")
    endif()
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "The layering check misjudged:\n${failures}")
endif()
