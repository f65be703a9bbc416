# Test suites. tests/portable runs natively on Linux and, cross-built, under Wine against
# Wine's real runtime; tests/posix needs Linux (extended attributes, processes, ntfs-3g);
# tests/windows drives the built DLL as a Windows client would.
if(WIN32)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(QUARROW2_GTEST gtest)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(QUARROW2_GTEST GTest::gtest)
endif()

add_library(quarrow2_test_support STATIC ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp
            ${PROJECT_SOURCE_DIR}/tests/support/main.cpp)
quarrow2_strict_warnings(quarrow2_test_support)
target_link_libraries(quarrow2_test_support PUBLIC quarrow2_core ${QUARROW2_GTEST}
                      PRIVATE quarrow2_utfcpp)
target_include_directories(quarrow2_test_support PUBLIC ${PROJECT_SOURCE_DIR}/tests)

# Test names carry the preset's prefix, so one CTest pass can run every preset's suites.
set(QUARROW2_TEST_PREFIX "" CACHE STRING "Prefix of this build's CTest names")

# One executable per suite folder, from its sources below tests/; natively each GoogleTest case is its own CTest test.
function(quarrow2_add_suite name)
  list(TRANSFORM ARGN PREPEND ${PROJECT_SOURCE_DIR}/tests/)
  add_executable(${name} ${ARGN})
  quarrow2_strict_warnings(${name})
  target_link_libraries(${name} PRIVATE quarrow2_test_support)
  if(WIN32)
    add_test(NAME ${QUARROW2_TEST_PREFIX}${name} COMMAND ${name})
    set_tests_properties(${QUARROW2_TEST_PREFIX}${name} PROPERTIES TIMEOUT 900)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${QUARROW2_TEST_PREFIX}"
                         PROPERTIES TIMEOUT 600)
  endif()
endfunction()

quarrow2_add_suite(quarrow2_portable_tests
  portable/file_binding_test.cpp
  portable/metadata_failures_test.cpp
  portable/metadata_stored_form_test.cpp
  portable/metadata_threads_test.cpp
  portable/runtime_services_test.cpp
  portable/runtime_values_test.cpp
  portable/server_objects_test.cpp
  portable/server_registration_script_test.cpp
  portable/stream_walk_test.cpp
  portable/strings_collection_test.cpp)
if(WIN32)
  include(${PROJECT_SOURCE_DIR}/tests/windows/windows_tests.cmake)
else()
  # Only the Windows library holds the registration scripts' parser.
  target_sources(quarrow2_portable_tests PRIVATE ${PROJECT_SOURCE_DIR}/server/registration_script.cpp)
  quarrow2_add_suite(quarrow2_posix_tests
    posix/file_items_test.cpp
    posix/hostile_input_test.cpp
    posix/platform_backup_test.cpp
    posix/platform_open_test.cpp
    posix/platform_locks_test.cpp
    posix/server_linux_test.cpp
    posix/stress_processes_test.cpp)
  # The portable cases reach items through the library alone, so they run once more with
  # every file system in Samba's layout: each guarantee holds there too.
  gtest_discover_tests(quarrow2_portable_tests DISCOVERY_MODE PRE_TEST
                       TEST_PREFIX "${QUARROW2_TEST_PREFIX}samba_layout."
                       PROPERTIES TIMEOUT 600 ENVIRONMENT QUARROW2_LAYOUT=samba)
  if(NOT QUARROW2_SANITIZE)
    include(${PROJECT_SOURCE_DIR}/tests/posix/interposition_tests.cmake)
  endif()
endif()

# The structure and format of the tree, the same for every build: checked once, in the
# native release build.
if(NOT WIN32 AND NOT QUARROW2_SANITIZE)
  find_program(QUARROW2_PYTHON3_FOR_CHECKS python3 NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  foreach(check includes map format)
    add_test(NAME ${QUARROW2_TEST_PREFIX}structure.${check}
             COMMAND ${QUARROW2_PYTHON3_FOR_CHECKS} ${PROJECT_SOURCE_DIR}/tests/structure/check_tree.py
                     ${check} ${PROJECT_SOURCE_DIR})
  endforeach()
  set_tests_properties(${QUARROW2_TEST_PREFIX}structure.format PROPERTIES SKIP_RETURN_CODE 77)
  # As built: no two files of the library call each other in a circle, and each is reached.
  add_test(NAME ${QUARROW2_TEST_PREFIX}structure.calls
           COMMAND ${QUARROW2_PYTHON3_FOR_CHECKS} ${PROJECT_SOURCE_DIR}/tests/structure/check_tree.py
                   calls $<TARGET_OBJECTS:quarrow2_core>)
endif()
