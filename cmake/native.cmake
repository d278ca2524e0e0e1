# Native (Linux) build of the parts that need no Windows: the byte-size formatter,
# the performance-data walk and load arithmetic, the value texts and the command
# matching. Built with AddressSanitizer and UndefinedBehaviorSanitizer for their
# unit tests, and with libFuzzer (clang) for the fuzz targets.
set(KELVORA_PORTABLE_SOURCES
  sampling/byte_size.cpp
  sampling/sample_text.cpp
  shell/command_match.cpp)
file(GLOB KELVORA_PORTABLE_EXTRA CONFIGURE_DEPENDS sampling/perf_*.cpp)
list(APPEND KELVORA_PORTABLE_SOURCES ${KELVORA_PORTABLE_EXTRA})

set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -g)

add_library(kelvora_portable STATIC ${KELVORA_PORTABLE_SOURCES})
target_include_directories(kelvora_portable PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kelvora_portable PUBLIC ${SANITIZE})
target_link_options(kelvora_portable PUBLIC ${SANITIZE})

find_path(DOCTEST_INCLUDE_DIR doctest.h PATHS /usr/include/doctest NO_DEFAULT_PATH)
file(GLOB PORTABLE_TESTS CONFIGURE_DEPENDS tests/portable/test_*.cpp)
add_executable(portable_tests tests/portable/native_main.cpp ${PORTABLE_TESTS})
target_include_directories(portable_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests ${DOCTEST_INCLUDE_DIR})
target_link_libraries(portable_tests PRIVATE kelvora_portable)

enable_testing()
add_test(NAME portable_tests COMMAND portable_tests)

if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS tests/fuzz/fuzz_*.cpp)
  foreach(source ${FUZZ_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE kelvora_portable)
    # A bounded run over the committed seed corpus; the corpus folder is copied so
    # the run never writes into the source tree.
    add_test(NAME ${name}
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/run-fuzzer $<TARGET_FILE:${name}> ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name} 25)
  endforeach()
endif()
