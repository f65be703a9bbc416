# Quarrow2.dll driven under Wine as Windows clients drive it (C++ and VBScript). They change
# the registry, so they share a Wine prefix of their own and run one at a time.
set(quarrow2_wine_run ${PROJECT_SOURCE_DIR}/cmake/wine-run)
math(EXPR quarrow2_registry_view "${CMAKE_SIZEOF_VOID_P} * 8")

# The clients know the DLL only by its exports, registry entries and public header; GCC must
# not guess the fixtures' File behind each IFile call, which would need its code here.
function(quarrow2_windows_client name)
  add_executable(${name} ${ARGN} ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp
                 ${CMAKE_BINARY_DIR}/generated/identifiers.cpp
                 ${PROJECT_SOURCE_DIR}/tests/support/main.cpp)
  quarrow2_strict_warnings(${name})
  target_compile_options(${name} PRIVATE -fno-devirtualize-speculatively)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}
                             ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                                             _WIN32_WINNT=0x0601)
  target_link_libraries(${name} PRIVATE ${QUARROW2_GTEST} quarrow2_utfcpp oleaut32 ole32 uuid
                                        version)
  add_dependencies(${name} Quarrow2)
endfunction()
quarrow2_windows_client(quarrow2_client_tests
  ${CMAKE_CURRENT_LIST_DIR}/client_automation_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/client_type_library_test.cpp)

# The Windows-only parts of the library, linked statically like the portable suite.
add_executable(quarrow2_windows_unit_tests ${CMAKE_CURRENT_LIST_DIR}/unit_registry_entries_test.cpp)
quarrow2_strict_warnings(quarrow2_windows_unit_tests)
target_link_libraries(quarrow2_windows_unit_tests PRIVATE quarrow2_test_support)

function(quarrow2_server_test name)
  add_test(NAME ${QUARROW2_TEST_PREFIX}server.${name} COMMAND ${ARGN})
  set_tests_properties(${QUARROW2_TEST_PREFIX}server.${name} PROPERTIES
    ENVIRONMENT "QUARROW2_WINEPREFIX=${CMAKE_BINARY_DIR}/wine-server" RUN_SERIAL TRUE TIMEOUT 900)
endfunction()

quarrow2_server_test(registry_entries quarrow2_windows_unit_tests)
# Registration starts before the process first loads the type information: its own process.
quarrow2_server_test(registration quarrow2_client_tests --gtest_filter=RegistrationTest.*)
quarrow2_server_test(client quarrow2_client_tests --gtest_filter=-RegistrationTest.*)

# VBScript under cscript: tests/scripts end by reporting "N failed"; the README's example,
# under Wine where no volume keeps named streams, takes its other branch.
set(quarrow2_run_script bash ${CMAKE_CURRENT_LIST_DIR}/run_script.sh ${quarrow2_wine_run}
    $<TARGET_FILE:Quarrow2> ${quarrow2_registry_view})
quarrow2_server_test(script.file_object ${quarrow2_run_script}
                     ${PROJECT_SOURCE_DIR}/tests/scripts/file_object.vbs)
quarrow2_server_test(example.hello_metadata ${quarrow2_run_script}
                     ${PROJECT_SOURCE_DIR}/examples/hello_metadata.vbs)
set_tests_properties(${QUARROW2_TEST_PREFIX}server.script.file_object PROPERTIES
  PASS_REGULAR_EXPRESSION "(^|\n)0 failed")
set_tests_properties(${QUARROW2_TEST_PREFIX}server.example.hello_metadata PROPERTIES
  PASS_REGULAR_EXPRESSION "keeps no named streams|Author: Jane Doe \\(16 bytes\\)"
  FAIL_REGULAR_EXPRESSION "error|Error")

# The DLL, and the tool through it, on a real NTFS volume shared with the linux-release
# build's tool, which ./test builds first; skipped (77) where FUSE, mkntfs, root or that
# build is missing.
quarrow2_windows_client(quarrow2_ntfs_client ${CMAKE_CURRENT_LIST_DIR}/ntfs/ntfs_client_test.cpp)
find_program(QUARROW2_PYTHON3 python3 NO_CMAKE_FIND_ROOT_PATH)
add_test(NAME ${QUARROW2_TEST_PREFIX}ntfs_wine
         COMMAND ${QUARROW2_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/ntfs/ntfs_wine_test.py
                 ${quarrow2_wine_run} $<TARGET_FILE:quarrow2_ntfs_client>
                 ${PROJECT_SOURCE_DIR}/build/linux-release/quarrow2 $<TARGET_FILE:quarrow2_ntfs_tool>)
set_tests_properties(${QUARROW2_TEST_PREFIX}ntfs_wine PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
