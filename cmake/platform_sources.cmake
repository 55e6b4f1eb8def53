# Which sources a platform builds, by one rule for every component: a file
# whose name ends in _posix.cpp is the POSIX side of something, one ending in
# _win32.cpp the Windows side (those usually sit in a win32/ folder); every
# other source is shared and builds everywhere.
#
#   tq318_sources(<var> <glob>...)
#
# sets <var> to the files the globs find, less the other platform's.
function(tq318_sources out)
  file(GLOB found CONFIGURE_DEPENDS ${ARGN})
  if(WIN32)
    list(FILTER found EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER found EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
