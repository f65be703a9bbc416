# The concurrency tests alone, for the linux-tsan preset (QUARROW2_SANITIZE=thread): threads
# on one item, one collection, the class object, error information and critical sections,
# processes on one file, and volume queries from several threads (in the platform's open
# and volume tests). The rest of the suites, and the killed writers and the limits
# that share a file with the processes, gain nothing from ThreadSanitizer.
enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

set(QUARROW2_TSAN_SUPPORT ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp
                          ${PROJECT_SOURCE_DIR}/tests/support/main.cpp)
add_executable(quarrow2_tsan_tests
  ${PROJECT_SOURCE_DIR}/tests/portable/metadata_threads_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/portable/runtime_services_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/portable/server_objects_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/portable/strings_collection_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/posix/platform_open_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/posix/stress_processes_test.cpp
  ${QUARROW2_TSAN_SUPPORT})
quarrow2_strict_warnings(quarrow2_tsan_tests)
target_link_libraries(quarrow2_tsan_tests PRIVATE quarrow2_core GTest::gtest quarrow2_utfcpp)
target_include_directories(quarrow2_tsan_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
gtest_discover_tests(quarrow2_tsan_tests DISCOVERY_MODE PRE_TEST TEST_PREFIX "${QUARROW2_TEST_PREFIX}"
                     TEST_FILTER "-StressKills.*:StressLimits.*"
                     PROPERTIES TIMEOUT 900 LABELS tsan
                     ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1")
