# The macOS bundle around the plug-in: Framemeld.plugin/Contents holds MacOS/Framemeld (the
# code), Resources/Framemeld.rsrc (the PiPL, named after the executable as the host expects),
# Info.plist and PkgInfo. The last three come from the PiPL generator at build time, so they are
# copied in after the link rather than declared as bundle sources: one step, the same for the
# Makefile, Ninja and Xcode generators, and the same script lays out the staged copy that the
# tests check on other platforms.
#
# Needs FRAMEMELD_PIPL_RSRC, FRAMEMELD_PIPL_PKGINFO and FRAMEMELD_PIPL_INFO_PLIST (pipl/).

set(FRAMEMELD_MAC_BUNDLE_STAGE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/StageMacBundle.cmake")
set(FRAMEMELD_MAC_BUNDLE_STAGE_COMMAND
  "${CMAKE_COMMAND}"
  "-DRSRC=${FRAMEMELD_PIPL_RSRC}"
  "-DPKGINFO=${FRAMEMELD_PIPL_PKGINFO}"
  "-DINFO_PLIST=${FRAMEMELD_PIPL_INFO_PLIST}")

# Turns the MODULE `target` into the plug-in bundle. Call only on Apple platforms.
function(framemeld_make_mac_bundle target)
  set_target_properties(${target} PROPERTIES
    BUNDLE ON
    BUNDLE_EXTENSION plugin
    PREFIX ""
    SUFFIX "")
  add_dependencies(${target} framemeld_pipl_files)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${FRAMEMELD_MAC_BUNDLE_STAGE_COMMAND}
            "-DCONTENTS=$<TARGET_BUNDLE_CONTENT_DIR:${target}>"
            -P "${FRAMEMELD_MAC_BUNDLE_STAGE_SCRIPT}"
    COMMENT "Copying the PiPL resource file, Info.plist and PkgInfo into the bundle"
    VERBATIM)

  # macOS 15 and current hosts refuse unsigned plug-ins; an ad-hoc signature is enough for a
  # local build. It covers Info.plist and the resources, so it must come after the copy above
  # (POST_BUILD commands run in the order they were added).
  find_program(FRAMEMELD_CODESIGN codesign)
  if(FRAMEMELD_CODESIGN)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND "${FRAMEMELD_CODESIGN}" --force --sign - --timestamp=none
              "$<TARGET_BUNDLE_DIR:${target}>"
      COMMENT "Signing the bundle (ad hoc)"
      VERBATIM)
  else()
    message(WARNING "codesign not found: ${target}.plugin stays unsigned, which current "
                    "macOS hosts refuse to load")
  endif()
endfunction()

# One universal binary for Intel and Apple silicon unless the user chose the architectures.
# Set on every piece of the plug-in, because objects of one architecture cannot be linked into
# a module of two.
function(framemeld_default_mac_architectures)
  if(NOT CMAKE_OSX_ARCHITECTURES)
    set_target_properties(${ARGN} PROPERTIES OSX_ARCHITECTURES "x86_64;arm64")
  endif()
endfunction()
