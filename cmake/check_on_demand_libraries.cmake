# Fails when PROGRAM names, among the libraries it needs at start, one that
# the program loads only when it uses it (a backend's, the sound client's):
# linking one of those would map it in every run.
#   cmake -DPROGRAM=path -DREADELF=path -P check_on_demand_libraries.cmake
set(on_demand libXtst libXext libwayland-client libffi libpulse libevdev)
execute_process(COMMAND ${READELF} -d ${PROGRAM} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${READELF} cannot read ${PROGRAM}")
endif()
set(linked "")
foreach(library ${on_demand})
  if(dynamic MATCHES "\\(NEEDED\\)[^\n]*\\[${library}\\.so")
    list(APPEND linked ${library})
  endif()
endforeach()
if(linked)
  message(FATAL_ERROR "${PROGRAM} is linked with ${linked}, which it should load only when used")
endif()
message(STATUS "${PROGRAM} loads ${on_demand} only when used")
