# libFuzzer targets (tests/fuzz/*_fuzz.cpp), each with a seed corpus in tests/fuzz/<target>/,
# built by clang with the library under AddressSanitizer and UndefinedBehaviorSanitizer (the
# linux-fuzz preset). Each target is a CTest test that fuzzes for a bounded time and fails on
# any crash, leak or sanitizer report; what it finds is kept in fuzz/<target>/ of the build.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "QUARROW2_FUZZ needs clang++ (libFuzzer); configure with the linux-fuzz preset")
endif()
enable_testing()

set(QUARROW2_FUZZ_SECONDS 60 CACHE STRING "How long each fuzz test runs")
add_custom_target(quarrow2_fuzz_targets)
set(QUARROW2_FUZZ_SOURCES
  ${PROJECT_SOURCE_DIR}/tests/fuzz/byte_array_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/tests/fuzz/registration_script_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/tests/fuzz/stream_path_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/tests/fuzz/stream_walk_fuzz.cpp)
foreach(source ${QUARROW2_FUZZ_SOURCES})
  get_filename_component(executable ${source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" target ${executable})
  add_executable(${executable} ${source})
  quarrow2_strict_warnings(${executable})
  target_link_libraries(${executable} PRIVATE quarrow2_core)
  target_include_directories(${executable} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_options(${executable} PRIVATE -fsanitize=fuzzer)
  add_dependencies(quarrow2_fuzz_targets ${executable})

  # New inputs go to the first corpus folder; the seeds in the source tree are only read.
  set(work ${CMAKE_BINARY_DIR}/fuzz/${target})
  file(MAKE_DIRECTORY ${work}/corpus)
  add_test(NAME ${QUARROW2_TEST_PREFIX}${target}
           COMMAND $<TARGET_FILE:${executable}> -max_total_time=${QUARROW2_FUZZ_SECONDS} -timeout=30
                   -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix=${work}/
                   ${work}/corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/${target}
           WORKING_DIRECTORY ${work})
  set_tests_properties(${QUARROW2_TEST_PREFIX}${target} PROPERTIES
    TIMEOUT 600 LABELS fuzz
    ENVIRONMENT "UBSAN_OPTIONS=print_stacktrace=1;ASAN_OPTIONS=detect_leaks=1")
endforeach()
# Only the Windows library holds the registration scripts' parser.
target_sources(registration_script_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/server/registration_script.cpp)
