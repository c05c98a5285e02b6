# cmake -DSOURCE_DIR=<repo> -DSDK_STANDIN=<repo>/sdk -DSCRATCH=<dir> -DGENERATOR=<gen>
#       -DCXX=<compiler> -P BuildAgainstSdkLayout.cmake
#
# Builds the plug-in module against a copy of the SDK stand-in laid out as a real SDK
# (<root>/Examples/Headers, Headers/SP) in which the parameter name field is renamed and reached
# only through PF_DEF_NAME, as in the newest SDK. The build succeeds only if the plug-in finds
# its headers by their SDK names alone and never names the field directly.
file(REMOVE_RECURSE "${SCRATCH}")
set(headers "${SCRATCH}/sdk/Examples/Headers")
file(MAKE_DIRECTORY "${headers}/SP")

file(GLOB top_headers "${SDK_STANDIN}/*.h")
file(COPY ${top_headers} DESTINATION "${headers}")
file(COPY "${SDK_STANDIN}/adobesdk" DESTINATION "${headers}")
file(GLOB sp_headers "${SDK_STANDIN}/SP/*.h")
file(COPY ${sp_headers} DESTINATION "${headers}/SP")

set(effect_h "${headers}/AE_Effect.h")
file(READ "${effect_h}" text)
set(field "A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];")
string(FIND "${text}" "${field}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the parameter name field was not found in ${effect_h}")
endif()
string(REPLACE "${field}" "A_char name_do_not_use_directly[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];"
       renamed "${text}")
string(FIND "${renamed}" "${field}" again)
if(NOT again EQUAL -1)
  message(FATAL_ERROR "more than one parameter name field in ${effect_h}")
endif()
string(REPLACE "typedef PF_ParamDef *PF_ParamDefPtr;"
       "#define PF_DEF_NAME name_do_not_use_directly\ntypedef PF_ParamDef *PF_ParamDefPtr;"
       renamed "${renamed}")
file(WRITE "${effect_h}" "${renamed}")

execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${SCRATCH}/build" -G "${GENERATOR}"
          "-DCMAKE_CXX_COMPILER=${CXX}" -DCMAKE_BUILD_TYPE=Debug
          "-DFRAMEMELD_AE_SDK_DIR=${SCRATCH}/sdk" -DFRAMEMELD_WERROR=ON
          -DFRAMEMELD_BUILD_TESTS=OFF -DFRAMEMELD_BUILD_TOOLS=OFF
  RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring against the SDK layout failed")
endif()
execute_process(
  COMMAND "${CMAKE_COMMAND}" --build "${SCRATCH}/build" --target Framemeld -j 2
  RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "the plug-in does not build against the SDK layout")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
