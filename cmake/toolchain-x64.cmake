# Cross build for 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELVORA_TRIPLE x86_64-w64-mingw32)
set(KELVORA_DLLTOOL_MACHINE i386:x86-64)
# Name of this architecture in release archives.
set(KELVORA_ARCH x64)
# Wine loader that runs this architecture's programs in the tests.
set(KELVORA_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
