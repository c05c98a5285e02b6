# cmake -DMODULE=<module> -DNM=<nm> -P CheckModuleExports.cmake
# Fails unless the module's dynamic symbol table defines EntryPointFunc and nothing else.
execute_process(COMMAND "${NM}" -D --defined-only "${MODULE}"
  OUTPUT_VARIABLE symbols RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}: ${errors}")
endif()
string(REGEX REPLACE "\n$" "" symbols "${symbols}")
string(REPLACE "\n" ";" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    list(APPEND names "${CMAKE_MATCH_1}")
  else()
    message(FATAL_ERROR "unexpected nm line: '${line}'")
  endif()
endforeach()
if(NOT names STREQUAL "EntryPointFunc")
  message(FATAL_ERROR "expected only EntryPointFunc to be exported, found: ${names}")
endif()
message(STATUS "${MODULE} exports exactly EntryPointFunc")
