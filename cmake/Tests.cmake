# Test suites. tests/portable runs natively on Linux and, cross-built, under Wine against
# Wine's real runtime; tests/posix needs Linux (extended attributes, processes, ntfs-3g);
# tests/windows drives the built DLL as a Windows client would.
if(WIN32)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own sources do not build warning-free with MinGW under -Werror.
  target_compile_options(gtest PRIVATE -Wno-error)
  target_compile_options(gtest_main PRIVATE -Wno-error)
  set(QUARROW2_GTEST gtest)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(QUARROW2_GTEST GTest::gtest)
endif()

file(GLOB QUARROW2_TEST_SUPPORT CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/support/*.cpp)
add_library(quarrow2_test_support STATIC ${QUARROW2_TEST_SUPPORT} ${PROJECT_SOURCE_DIR}/tests/support/main.cpp)
target_link_libraries(quarrow2_test_support PUBLIC quarrow2_core ${QUARROW2_GTEST})
target_include_directories(quarrow2_test_support PUBLIC ${PROJECT_SOURCE_DIR}/tests)

# Test names carry the preset's prefix, so one CTest pass can run every preset's suites.
set(QUARROW2_TEST_PREFIX "" CACHE STRING "Prefix of this build's CTest names")

# One executable per suite folder; natively each GoogleTest case is its own CTest test.
function(quarrow2_add_suite name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE quarrow2_test_support)
  if(WIN32)
    add_test(NAME ${QUARROW2_TEST_PREFIX}${name} COMMAND ${name})
    set_tests_properties(${QUARROW2_TEST_PREFIX}${name} PROPERTIES TIMEOUT 900)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${QUARROW2_TEST_PREFIX}"
                         PROPERTIES TIMEOUT 600)
  endif()
endfunction()

quarrow2_add_suite(quarrow2_portable_tests portable)
if(WIN32)
  include(${PROJECT_SOURCE_DIR}/tests/windows/windows_tests.cmake OPTIONAL)
else()
  quarrow2_add_suite(quarrow2_posix_tests posix)
  include(${PROJECT_SOURCE_DIR}/tests/posix/posix_tests.cmake OPTIONAL)
endif()
