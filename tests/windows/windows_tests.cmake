# Tests that drive the built Quarrow2.dll as Windows clients do, under Wine: registration
# read back with reg query, a C++ client, and VBScript run by cscript. They change the
# registry, so they share a Wine prefix of their own (not the one of the other suites)
# and run one at a time.
set(QUARROW2_SERVER_PREFIX ${CMAKE_BINARY_DIR}/wine-server)
set(quarrow2_wine_run ${PROJECT_SOURCE_DIR}/cmake/wine-run)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(quarrow2_registry_view 64)
else()
  set(quarrow2_registry_view 32)
endif()

# The client knows the DLL only by its exports, its registry entries and the public header.
set(quarrow2_client_sources
  ${PROJECT_SOURCE_DIR}/tests/windows/client_class_object_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/windows/client_late_binding_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/windows/client_resources_test.cpp
  ${PROJECT_SOURCE_DIR}/tests/windows/client_support.cpp
  ${PROJECT_SOURCE_DIR}/tests/windows/client_type_library_test.cpp)
add_executable(quarrow2_client_tests ${quarrow2_client_sources}
               ${CMAKE_BINARY_DIR}/generated/identifiers.cpp
               ${PROJECT_SOURCE_DIR}/tests/support/main.cpp)
quarrow2_strict_warnings(quarrow2_client_tests)
target_include_directories(quarrow2_client_tests PRIVATE ${PROJECT_SOURCE_DIR}/include
                           ${PROJECT_SOURCE_DIR})
target_compile_definitions(quarrow2_client_tests PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                                                         _WIN32_WINNT=0x0601)
target_link_libraries(quarrow2_client_tests PRIVATE ${QUARROW2_GTEST} oleaut32 ole32 uuid version)
add_dependencies(quarrow2_client_tests Quarrow2)

# The Windows-only parts of the library, linked statically like the portable suite.
set(quarrow2_unit_sources
  ${PROJECT_SOURCE_DIR}/tests/windows/unit_registry_entries_test.cpp)
add_executable(quarrow2_windows_unit_tests ${quarrow2_unit_sources})
quarrow2_strict_warnings(quarrow2_windows_unit_tests)
target_link_libraries(quarrow2_windows_unit_tests PRIVATE quarrow2_test_support)

set(quarrow2_dll $<TARGET_FILE:Quarrow2>)
set(quarrow2_server_env QUARROW2_WINEPREFIX=${QUARROW2_SERVER_PREFIX})

function(quarrow2_server_test name)
  add_test(NAME ${QUARROW2_TEST_PREFIX}server.${name} COMMAND ${ARGN})
  set_tests_properties(${QUARROW2_TEST_PREFIX}server.${name} PROPERTIES
    ENVIRONMENT "${quarrow2_server_env}" RUN_SERIAL TRUE TIMEOUT 900)
endfunction()

quarrow2_server_test(registry_entries quarrow2_windows_unit_tests)
quarrow2_server_test(registration bash ${CMAKE_CURRENT_LIST_DIR}/registration_test.sh
                     ${quarrow2_wine_run} ${quarrow2_dll} ${quarrow2_registry_view})
# The type information is loaded once per process, so the test that unregisters the type
# library before its first late-bound call has a process of its own.
quarrow2_server_test(client quarrow2_client_tests
                     --gtest_filter=-ClientTest.TypeLibraryRegistration*)
quarrow2_server_test(client_typelib_registration quarrow2_client_tests
                     --gtest_filter=ClientTest.TypeLibraryRegistration*)

set(quarrow2_scripts
  ${PROJECT_SOURCE_DIR}/tests/scripts/file_object.vbs)
foreach(script ${quarrow2_scripts})
  get_filename_component(script_name ${script} NAME_WE)
  quarrow2_server_test(script.${script_name} bash ${CMAKE_CURRENT_LIST_DIR}/run_script.sh
                       ${quarrow2_wine_run} ${quarrow2_dll} ${quarrow2_registry_view} ${script})
endforeach()

# The README's VBScript example. Wine keeps no named streams, so under Wine the example
# takes its other branch; on Windows it tags the file.
quarrow2_server_test(example.hello_metadata bash ${CMAKE_CURRENT_LIST_DIR}/run_example.sh
                     ${quarrow2_wine_run} ${quarrow2_dll} ${quarrow2_registry_view}
                     ${PROJECT_SOURCE_DIR}/examples/hello_metadata.vbs)
set_tests_properties(${QUARROW2_TEST_PREFIX}server.example.hello_metadata PROPERTIES
  PASS_REGULAR_EXPRESSION "keeps no named streams|Author: Jane Doe \\(16 bytes\\)"
  FAIL_REGULAR_EXPRESSION "error|Error")

# The DLL on a real NTFS volume (an ntfs-3g mount reached through Wine's Z: drive), sharing
# it with libquarrow2.so of the linux-release build, which ./test builds first. The client
# is built against the DLL's exports alone; the harness skips (77) where FUSE, mkntfs, root
# or that Linux build is missing.
add_executable(quarrow2_ntfs_client
               ${CMAKE_CURRENT_LIST_DIR}/ntfs/named_streams_hook.cpp
               ${CMAKE_CURRENT_LIST_DIR}/ntfs/ntfs_client_test.cpp
               ${CMAKE_CURRENT_LIST_DIR}/client_support.cpp
               ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp
               ${CMAKE_BINARY_DIR}/generated/identifiers.cpp
               ${PROJECT_SOURCE_DIR}/tests/support/main.cpp)
target_include_directories(quarrow2_ntfs_client PRIVATE ${PROJECT_SOURCE_DIR}/include
                           ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(quarrow2_ntfs_client PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                                                        _WIN32_WINNT=0x0601)
target_link_libraries(quarrow2_ntfs_client PRIVATE ${QUARROW2_GTEST} quarrow2_utfcpp oleaut32 ole32 uuid)
add_dependencies(quarrow2_ntfs_client Quarrow2)
find_program(QUARROW2_PYTHON3 python3 NO_CMAKE_FIND_ROOT_PATH)
add_test(NAME ${QUARROW2_TEST_PREFIX}ntfs_wine
         COMMAND ${QUARROW2_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/ntfs/ntfs_wine_test.py
                 ${quarrow2_wine_run} $<TARGET_FILE:quarrow2_ntfs_client>
                 ${PROJECT_SOURCE_DIR}/build/linux-release/quarrow2)
set_tests_properties(${QUARROW2_TEST_PREFIX}ntfs_wine PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
