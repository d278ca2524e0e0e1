# Shared settings of the two MinGW-w64 cross toolchains (Debian's posix-thread compilers).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KELVORA_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVORA_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVORA_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${KELVORA_TRIPLE}-dlltool CACHE FILEPATH "dlltool of the cross toolchain")
set(KELVORA_OBJDUMP ${KELVORA_TRIPLE}-objdump CACHE FILEPATH "objdump of the cross toolchain")
# Search headers and libraries only in the MinGW sysroot, never in /usr/include.
set(CMAKE_FIND_ROOT_PATH /usr/${KELVORA_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
