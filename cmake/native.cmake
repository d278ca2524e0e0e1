# Native (Linux) build of the parts that need no Windows: the byte-size and rate
# formatter, the performance-data walk, the load and disk-activity arithmetic, the per-processor
# loads, the network rates, the IP row's choice of address, the value and tooltip texts, the process shares, the command matching
# and the actions' command lines. Built with AddressSanitizer and UndefinedBehaviorSanitizer for
# their unit tests, and with libFuzzer (clang) for the fuzz targets.
# The meter's system calls are a seam of function pointers: natively nothing answers them.
set(KELVORA_PORTABLE_SOURCES
  sampling/byte_size.cpp
  sampling/sample_text.cpp
  sampling/load_meter.cpp
  sampling/perf_walk.cpp
  sampling/net_traffic.cpp
  sampling/ip_choice.cpp
  sampling/volume_exchange.cpp
  sampling/detail_text.cpp
  sampling/process_times.cpp
  sampling/exact_math.cpp
  sampling/disk_io.cpp
  sampling/core_loads.cpp
  sampling/own_share.cpp
  sampling/gpu_loads.cpp
  shell/command_match.cpp
  shell/action_line.cpp
  tests/portable/no_system_meter_platform.cpp)

set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -g)

add_library(kelvora_portable STATIC ${KELVORA_PORTABLE_SOURCES})
target_include_directories(kelvora_portable PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kelvora_portable PUBLIC ${SANITIZE})
target_link_options(kelvora_portable PUBLIC ${SANITIZE})

find_path(DOCTEST_INCLUDE_DIR doctest.h PATHS /usr/include/doctest NO_DEFAULT_PATH)
file(GLOB PORTABLE_TESTS CONFIGURE_DEPENDS tests/portable/test_*.cpp)
add_executable(portable_tests tests/portable/native_main.cpp ${PORTABLE_TESTS}
  tests/support/check_lines.cpp tests/support/guarded_bytes.cpp tests/support/perf_block.cpp)
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
  # Remakes the committed seeds of fuzz_perf_walk (run by hand when the block layout changes).
  add_executable(write_perf_seeds tests/fuzz/write_perf_seeds.cpp tests/support/perf_block.cpp)
  target_include_directories(write_perf_seeds PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR})
endif()

# The set-up commands against a package mirror that fails an index, with stand-ins for the
# package tools: no package is installed and nothing is built.
find_program(KELVORA_PYTHON3 python3 REQUIRED)
add_test(NAME setup_scripts COMMAND ${KELVORA_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/setup/test_setup.py)
