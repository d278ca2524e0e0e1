# Cross build for 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KELVORA_TRIPLE i686-w64-mingw32)
set(KELVORA_DLLTOOL_MACHINE i386)
# Name of this architecture in release archives.
set(KELVORA_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
