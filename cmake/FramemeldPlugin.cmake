# The plug-in module: the consensus engine, the host side and the render, linked into one
# module that exports EntryPointFunc and nothing else (Framemeld.so here, framemeldAE.aex for
# Windows, Framemeld.plugin for macOS). framemeld_plugin_static holds the same objects for tests
# that call the plug-in's functions directly.

add_library(Framemeld MODULE
  $<TARGET_OBJECTS:framemeld_engine>
  $<TARGET_OBJECTS:framemeld_host>
  $<TARGET_OBJECTS:framemeld_render>
)
target_link_libraries(Framemeld PRIVATE framemeld_sdk)
set_target_properties(Framemeld PROPERTIES
  PREFIX ""
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)

# A symbol missing from the module must fail the link, not the host's load.
if(WIN32)
  set_target_properties(Framemeld PROPERTIES OUTPUT_NAME framemeldAE SUFFIX ".aex")
  # The SDK headers take their Windows branch on _WINDOWS, not on the compiler's _WIN32; Adobe's
  # own projects define these three, whatever compiler flags the user passes.
  foreach(_framemeld_piece framemeld_engine framemeld_host framemeld_render)
    target_compile_definitions(${_framemeld_piece} PRIVATE WIN32 _WINDOWS MSWindows)
  endforeach()
  if(MINGW)
    # The host loads nothing beside the .aex: carry the C++ runtime inside it, and with the
    # posix thread model winpthread too (-static), so it imports only Windows' own DLLs.
    target_link_options(Framemeld PRIVATE "LINKER:--no-undefined" -static-libgcc -static-libstdc++
                                          -static)
  endif()
  if(TARGET framemeld_pipl_files)
    enable_language(RC)
    target_sources(Framemeld PRIVATE "${FRAMEMELD_PIPL_RC}")
    set_source_files_properties("${FRAMEMELD_PIPL_RC}" PROPERTIES GENERATED ON)
    add_dependencies(Framemeld framemeld_pipl_files)
  endif()
elseif(APPLE)
  target_link_options(Framemeld PRIVATE "LINKER:-undefined,error"
                                        "LINKER:-exported_symbol,_EntryPointFunc")
  include("${PROJECT_SOURCE_DIR}/packaging/FramemeldMacBundle.cmake")
  framemeld_default_mac_architectures(Framemeld framemeld_engine framemeld_host framemeld_render)
  if(TARGET framemeld_pipl_files)
    framemeld_make_mac_bundle(Framemeld)
  else()
    set_target_properties(Framemeld PROPERTIES BUNDLE ON BUNDLE_EXTENSION plugin SUFFIX "")
  endif()
else()
  set(_framemeld_export_map "${PROJECT_SOURCE_DIR}/host/FramemeldExports.map")
  target_link_options(Framemeld PRIVATE "LINKER:--version-script=${_framemeld_export_map}")
  set_property(TARGET Framemeld APPEND PROPERTY LINK_DEPENDS "${_framemeld_export_map}")
  # clang leaves the sanitizer runtimes out of shared objects, to be found in the executable.
  if(NOT (FRAMEMELD_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang"))
    target_link_options(Framemeld PRIVATE "LINKER:--no-undefined")
  endif()
endif()

add_library(framemeld_plugin_static STATIC
  $<TARGET_OBJECTS:framemeld_engine>
  $<TARGET_OBJECTS:framemeld_host>
  $<TARGET_OBJECTS:framemeld_render>
)
target_link_libraries(framemeld_plugin_static PUBLIC framemeld_sdk)
target_include_directories(framemeld_plugin_static PUBLIC "${PROJECT_SOURCE_DIR}")
