# Cross build for 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KELVORA_TRIPLE i686-w64-mingw32)
set(KELVORA_DLLTOOL_MACHINE i386)
# Name of this architecture in release archives.
set(KELVORA_ARCH x86)
# Wine loader that runs this architecture's programs in the tests (package wine32:i386).
set(KELVORA_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
