# Release archives: `cmake --build --preset x64 --target package` writes
# Kelvora-<version>-<arch>.zip with the one folder Kelvora\ (see examples/CMakeLists.txt).
if(NOT KELVORA_ARCH)
  message(FATAL_ERROR "KELVORA_ARCH is not set: configure with a preset (cmake/toolchain-*.cmake)")
endif()
math(EXPR KELVORA_BITS "${CMAKE_SIZEOF_VOID_P} * 8")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Kelvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Kelvora-${PROJECT_VERSION}-${KELVORA_ARCH})
# The install rules already name the top folder; no second one from the archive name.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# Symbols are of no use to the shell; stripped, the DLL is a third of its size.
set(CPACK_STRIP_FILES TRUE)
# Only the plugin's files: the stand-in host, the tests and the benchmark are never installed
# into the archive, whatever install rules they may get.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Kelvora;plugin;/")
include(CPack)
