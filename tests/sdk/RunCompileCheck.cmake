# Compiles one check source against the SDK headers and judges the outcome.
#   MODE=violation: the source must compile with FRAMEMELD_VIOLATE=0 and fail with =1, so a
#                   failure is known to come from the violation and not from the setup.
#   MODE=clean:     the source must compile under the project's warnings as errors.
# Inputs: COMPILER, SDK_DIR, SOURCE, MODE.

set(_flags -std=c++17 -fsyntax-only -Werror -Wall -Wextra -Wpedantic -Wshadow -Wconversion
           -Wsign-conversion -Wdouble-promotion "-I${SDK_DIR}" "-I${SDK_DIR}/SP")

function(_compile define out_result out_log)
  execute_process(COMMAND "${COMPILER}" ${_flags} "-DFRAMEMELD_VIOLATE=${define}" "${SOURCE}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${out_result} "${result}" PARENT_SCOPE)
  set(${out_log} "${out}${err}" PARENT_SCOPE)
endfunction()

_compile(0 sound_result sound_log)
if(NOT sound_result EQUAL 0)
  message(FATAL_ERROR "${SOURCE}: the sound variant does not compile:\n${sound_log}")
endif()

if(MODE STREQUAL "violation")
  _compile(1 violating_result violating_log)
  if(violating_result EQUAL 0)
    message(FATAL_ERROR "${SOURCE}: the violating variant compiles but must not")
  endif()
  message(STATUS "${SOURCE}: sound variant compiles, violating variant is rejected")
elseif(NOT MODE STREQUAL "clean")
  message(FATAL_ERROR "unknown MODE '${MODE}'")
endif()
