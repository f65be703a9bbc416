# The quarrow2 command-line tool: a client of the library's public interface alone
# (include/quarrow2/quarrow2.h). On Linux it links libquarrow2.so; on Windows it is
# quarrow2.exe beside Quarrow2.dll, which it loads from its own folder at run time. Each
# folder of tools/ opens with a README.md saying what it owns. Files named *_posix.cpp and
# *_win.cpp hold the platforms' differences. All but main.cpp are built once, as
# quarrow2_tool_code, which a test program runs the tool through too.
set(QUARROW2_TOOL_SOURCES
  ${PROJECT_SOURCE_DIR}/tools/cli/cli.cpp
  ${PROJECT_SOURCE_DIR}/tools/cli/completion.cpp
  ${PROJECT_SOURCE_DIR}/tools/client/dump_input.cpp
  ${PROJECT_SOURCE_DIR}/tools/client/file_walk.cpp
  ${PROJECT_SOURCE_DIR}/tools/client/item_store.cpp
  ${PROJECT_SOURCE_DIR}/tools/client/metadata_client.cpp
  ${PROJECT_SOURCE_DIR}/tools/client/ordered_work.cpp
  ${PROJECT_SOURCE_DIR}/tools/client/readable_file.cpp
  ${PROJECT_SOURCE_DIR}/tools/client/restore_rules.cpp
  ${PROJECT_SOURCE_DIR}/tools/client/value_input.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_convert.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_copy.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_dump.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_find.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_get.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_length.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_list.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_remove.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_restore.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_set.cpp
  ${PROJECT_SOURCE_DIR}/tools/commands/command_shares.cpp
  ${PROJECT_SOURCE_DIR}/tools/formats/console.cpp
  ${PROJECT_SOURCE_DIR}/tools/formats/failure.cpp
  ${PROJECT_SOURCE_DIR}/tools/formats/progress.cpp
  ${PROJECT_SOURCE_DIR}/tools/formats/text.cpp
  ${PROJECT_SOURCE_DIR}/tools/formats/value_match.cpp
  ${PROJECT_SOURCE_DIR}/tools/formats/value_text.cpp)
if(WIN32)
  list(APPEND QUARROW2_TOOL_SOURCES ${PROJECT_SOURCE_DIR}/tools/client/file_system_win.cpp
                                    ${PROJECT_SOURCE_DIR}/tools/client/output_file_win.cpp
                                    ${PROJECT_SOURCE_DIR}/tools/client/storage_win.cpp
                                    ${PROJECT_SOURCE_DIR}/tools/host/host_win.cpp)
else()
  list(APPEND QUARROW2_TOOL_SOURCES ${PROJECT_SOURCE_DIR}/tools/client/file_system_posix.cpp
                                    ${PROJECT_SOURCE_DIR}/tools/client/output_file_posix.cpp
                                    ${PROJECT_SOURCE_DIR}/tools/client/storage_posix.cpp
                                    ${PROJECT_SOURCE_DIR}/tools/host/host_posix.cpp)
endif()

# Header-only libraries from Debian: CLI11 and nlohmann/json (utfcpp: cmake/Utfcpp.cmake).
find_path(QUARROW2_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(QUARROW2_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)

add_library(quarrow2_tool_code OBJECT ${QUARROW2_TOOL_SOURCES})
quarrow2_strict_warnings(quarrow2_tool_code)
target_link_libraries(quarrow2_tool_code PUBLIC quarrow2_utfcpp)
quarrow2_client_includes(quarrow2_tool_code tools)
target_compile_definitions(quarrow2_tool_code PRIVATE QUARROW2_VERSION="${PROJECT_VERSION}")

if(WIN32)
  # The cross compiler must not see the host's /usr/include, only these two libraries,
  # so they are gathered in a folder of their own.
  set(quarrow2_tool_include ${CMAKE_BINARY_DIR}/tool-include)
  file(MAKE_DIRECTORY ${quarrow2_tool_include})
  foreach(entry "${QUARROW2_CLI11_DIR}/CLI" "${QUARROW2_JSON_DIR}/nlohmann")
    get_filename_component(name ${entry} NAME)
    if(NOT EXISTS ${quarrow2_tool_include}/${name})
      file(CREATE_LINK ${entry} ${quarrow2_tool_include}/${name} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(quarrow2_tool_code PUBLIC ${PROJECT_SOURCE_DIR}/include)
  target_include_directories(quarrow2_tool_code SYSTEM PUBLIC ${quarrow2_tool_include})
  target_compile_definitions(quarrow2_tool_code PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                                                       _WIN32_WINNT=0x0601)
  target_link_libraries(quarrow2_tool_code PUBLIC oleaut32 ole32 uuid shell32)
  # The DLL exports no identifiers; a Windows client compiles them from the interface
  # description, as the IDL compiler's _i.c file gives them.
  set(quarrow2_tool_identifiers ${CMAKE_BINARY_DIR}/tool-generated/Quarrow2_i.c)
  add_custom_command(
    OUTPUT ${quarrow2_tool_identifiers}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/tool-generated
    COMMAND ${QUARROW2_WIDL} -u -I ${QUARROW2_WINE_IDL_DIR} -o ${quarrow2_tool_identifiers}
            ${PROJECT_SOURCE_DIR}/server/Quarrow2.idl
    DEPENDS ${PROJECT_SOURCE_DIR}/server/Quarrow2.idl
    COMMENT "Generating the identifiers for quarrow2.exe"
    VERBATIM)
  set_source_files_properties(${quarrow2_tool_identifiers} PROPERTIES LANGUAGE CXX)
  target_sources(quarrow2_tool_code PRIVATE ${quarrow2_tool_identifiers})
else()
  target_include_directories(quarrow2_tool_code SYSTEM PUBLIC ${QUARROW2_CLI11_DIR}
                             ${QUARROW2_JSON_DIR})
  target_link_libraries(quarrow2_tool_code PUBLIC quarrow2)
endif()

# A program that runs the tool from its own main (`main`, a source file).
function(quarrow2_tool_program name main)
  add_executable(${name} ${main})
  quarrow2_strict_warnings(${name})
  target_link_libraries(${name} PRIVATE quarrow2_tool_code)
  # On Windows not linked, loaded: building the program builds the DLL it loads, into the
  # same folder.
  if(WIN32 AND TARGET Quarrow2)
    add_dependencies(${name} Quarrow2)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY $<TARGET_FILE_DIR:Quarrow2>)
  endif()
endfunction()

quarrow2_tool_program(quarrow2_tool ${PROJECT_SOURCE_DIR}/tools/cli/main.cpp)
set_target_properties(quarrow2_tool PROPERTIES OUTPUT_NAME quarrow2)
# Wine's volume query never reports named streams: the NTFS suite (windows_tests.cmake) runs
# the tool through a program that adds them to what Quarrow2.dll is told.
if(WIN32 AND QUARROW2_BUILD_TESTS)
  quarrow2_tool_program(quarrow2_ntfs_tool
                        ${PROJECT_SOURCE_DIR}/tests/windows/ntfs/ntfs_tool_main.cpp)
  target_include_directories(quarrow2_ntfs_tool PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()

# The tool's tests run it on real files, from Python's unittest; a suite that cannot run on
# this machine exits with 77, which CTest shows as skipped, with the reason in its output.
if(QUARROW2_BUILD_TESTS)
  find_program(QUARROW2_PYTHON3 python3 NO_CMAKE_FIND_ROOT_PATH)
  if(NOT QUARROW2_PYTHON3)
    message(WARNING "python3 not found: the tool's tests are not registered")
    return()
  endif()
  if(WIN32)
    set(quarrow2_tool_suites test_wine)
  else()
    set(quarrow2_tool_suites test_dump_find test_files test_lock_store test_restore_safety test_samba test_valgrind test_walks)
  endif()
  foreach(module ${quarrow2_tool_suites})
    set(name ${QUARROW2_TEST_PREFIX}tool.${module})
    add_test(NAME ${name}
             COMMAND ${QUARROW2_PYTHON3} ${PROJECT_SOURCE_DIR}/tests/tool/tool_support.py ${module})
    set_tests_properties(${name} PROPERTIES
      SKIP_RETURN_CODE 77
      TIMEOUT 900
      ENVIRONMENT "QUARROW2_TOOL=$<TARGET_FILE:quarrow2_tool>;QUARROW2_SANITIZE=${QUARROW2_SANITIZE};QUARROW2_WINE_RUN=${PROJECT_SOURCE_DIR}/cmake/wine-run")
  endforeach()
endif()
