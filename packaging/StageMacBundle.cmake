# cmake -DRSRC=<Framemeld.rsrc> -DPKGINFO=<PkgInfo> -DINFO_PLIST=<Info.plist>
#       -DCONTENTS=<bundle>/Contents -P StageMacBundle.cmake
# Puts the generator's files where the host and macOS look for them in a plug-in bundle.
foreach(input RSRC PKGINFO INFO_PLIST CONTENTS)
  if(NOT DEFINED ${input} OR "${${input}}" STREQUAL "")
    message(FATAL_ERROR "StageMacBundle.cmake: ${input} is not set")
  endif()
endforeach()
foreach(input RSRC PKGINFO INFO_PLIST)
  if(NOT EXISTS "${${input}}")
    message(FATAL_ERROR "StageMacBundle.cmake: ${${input}} does not exist")
  endif()
endforeach()

file(MAKE_DIRECTORY "${CONTENTS}/Resources")
file(COPY_FILE "${INFO_PLIST}" "${CONTENTS}/Info.plist")
file(COPY_FILE "${PKGINFO}" "${CONTENTS}/PkgInfo")
get_filename_component(rsrc_name "${RSRC}" NAME)
file(COPY_FILE "${RSRC}" "${CONTENTS}/Resources/${rsrc_name}")
