# The plug-in module: the consensus engine, the host side and the render, linked into one
# module that exports EntryPointFunc (Framemeld.so here; framemeldAE.aex for Windows).
# framemeld_plugin_static holds the same objects for tests that call the plug-in's functions
# directly.

add_library(Framemeld MODULE
  $<TARGET_OBJECTS:framemeld_engine>
  $<TARGET_OBJECTS:framemeld_host>
  $<TARGET_OBJECTS:framemeld_render>
)
target_link_libraries(Framemeld PRIVATE framemeld_sdk)
set_target_properties(Framemeld PROPERTIES PREFIX "")

add_library(framemeld_plugin_static STATIC
  $<TARGET_OBJECTS:framemeld_engine>
  $<TARGET_OBJECTS:framemeld_host>
  $<TARGET_OBJECTS:framemeld_render>
)
target_link_libraries(framemeld_plugin_static PUBLIC framemeld_sdk)
target_include_directories(framemeld_plugin_static PUBLIC "${PROJECT_SOURCE_DIR}")
