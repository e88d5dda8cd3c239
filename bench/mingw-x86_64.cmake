# Cross-compiles the installer and the harness programs for 64-bit
# Windows, for bench/wine-run on a machine whose kernel runs no 32-bit code
# (there Wine's 32-bit loader fails with "Exec format error" and only
# wine64 starts).  The shipped build stays cmake/mingw-i686.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QX_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QX_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
