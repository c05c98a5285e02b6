# What `cmake --install` lays out and what `cpack` packs.
#
# Linux: bin/framemeld and bin/framemeld_describe; the plug-in module and the OpenImageIO module in
# lib/framemeld/, where the tool finds them from its own location (so a moved tree still works);
# the manual page made from `framemeld --help`, and bash completion. cpack makes a Debian package
# (dependencies computed from the binaries) and a .tar.gz.
#
# Windows (the mingw-w64 cross build): framemeldAE.aex with an install note, packed as
# Framemeld-<version>-win64.zip. macOS: Framemeld.plugin the same way (see README.md).

set(FRAMEMELD_INSTALL_MODULE_DIR "lib/framemeld")

if(WIN32 OR APPLE)
  if(TARGET Framemeld)
    install(TARGETS Framemeld LIBRARY DESTINATION . RUNTIME DESTINATION . BUNDLE DESTINATION .)
    configure_file("${PROJECT_SOURCE_DIR}/packaging/INSTALL-plugin.txt.in"
                   "${CMAKE_BINARY_DIR}/INSTALL.txt" @ONLY)
    install(FILES "${CMAKE_BINARY_DIR}/INSTALL.txt" DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  if(WIN32)
    set(CPACK_PACKAGE_FILE_NAME "Framemeld-${PROJECT_VERSION}-win64")
  else()
    set(CPACK_PACKAGE_FILE_NAME "Framemeld-${PROJECT_VERSION}-macos")
  endif()
else()
  if(TARGET framemeld)
    install(TARGETS framemeld RUNTIME DESTINATION bin)
    install(TARGETS framemeld_oiio LIBRARY DESTINATION "${FRAMEMELD_INSTALL_MODULE_DIR}")
    if(TARGET framemeld_opencv)
      install(TARGETS framemeld_opencv LIBRARY DESTINATION "${FRAMEMELD_INSTALL_MODULE_DIR}")
    endif()
  endif()
  if(TARGET framemeld_describe)
    install(TARGETS framemeld_describe RUNTIME DESTINATION bin)
  endif()
  if(TARGET Framemeld)
    install(TARGETS Framemeld LIBRARY DESTINATION "${FRAMEMELD_INSTALL_MODULE_DIR}")
  endif()

  # The manual page says what --help says: help2man runs the tool built here.
  find_program(FRAMEMELD_HELP2MAN help2man)
  if(TARGET framemeld AND TARGET Framemeld AND FRAMEMELD_HELP2MAN AND NOT CMAKE_CROSSCOMPILING
     AND NOT FRAMEMELD_SANITIZE)
    set(framemeld_manual "${CMAKE_BINARY_DIR}/framemeld.1")
    add_custom_command(
      OUTPUT "${framemeld_manual}"
      COMMAND "${FRAMEMELD_HELP2MAN}" --no-info --no-discard-stderr
              "--version-string=${PROJECT_VERSION}"
              "--name=build a clean plate from footage with the Framemeld plug-in"
              --output "${framemeld_manual}" "$<TARGET_FILE:framemeld>"
      DEPENDS framemeld Framemeld
      COMMENT "Writing the manual page framemeld.1 from framemeld --help"
      VERBATIM)
    add_custom_target(framemeld_manual ALL DEPENDS "${framemeld_manual}")
    install(FILES "${framemeld_manual}" DESTINATION share/man/man1)
  elseif(TARGET framemeld)
    message(STATUS "Framemeld: no help2man (or a sanitizer build): no manual page")
  endif()
  if(TARGET framemeld)
    install(FILES "${FRAMEMELD_BASH_COMPLETION}"
            DESTINATION share/bash-completion/completions RENAME framemeld)
  endif()
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION share/doc/framemeld)

  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_PACKAGE_NAME framemeld)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # dpkg-shlibdeps looks for the modules' own libraries beside them too.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}")
  set(CPACK_PACKAGE_FILE_NAME "framemeld-${PROJECT_VERSION}-Linux-${CMAKE_SYSTEM_PROCESSOR}")
endif()

set(CPACK_PACKAGE_VENDOR "Tessaran")
set(CPACK_PACKAGE_CONTACT "Framemeld maintainers <framemeld@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Clean plates from footage: the Framemeld effect plug-in and its command-line tool")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# The build keeps its debug information; the packages do not need it.
set(CPACK_STRIP_FILES ON)
include(CPack)
