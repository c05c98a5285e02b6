# Warnings and sanitizers shared by every target of the project.
#
# framemeld_apply_warnings(target) turns the project's warning set on for one target;
# FRAMEMELD_WERROR makes them errors (CI sets it).

function(framemeld_apply_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
    if(FRAMEMELD_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
      -Wnon-virtual-dtor -Woverloaded-virtual -Wdouble-promotion)
    if(FRAMEMELD_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

if(FRAMEMELD_SANITIZE)
  if(MSVC)
    message(FATAL_ERROR "FRAMEMELD_SANITIZE is for gcc and clang builds")
  endif()
  add_compile_options(-fsanitize=${FRAMEMELD_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${FRAMEMELD_SANITIZE})
endif()
