# Cross-building the 32-bit Windows (i686) set with Debian's mingw-w64 (posix
# threads, for std::mutex and std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TQ318_MINGW i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TQ318_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQ318_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TQ318_MINGW}-windres)
set(CMAKE_DLLTOOL ${TQ318_MINGW}-dlltool)
set(CMAKE_OBJDUMP ${TQ318_MINGW}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${TQ318_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
