# The README's examples are built and run, and the README's commands are run, so that what
# a newcomer reads is what works.
add_executable(hello_metadata ${PROJECT_SOURCE_DIR}/examples/hello_metadata.cpp)
quarrow2_strict_warnings(hello_metadata)
target_link_libraries(hello_metadata PRIVATE quarrow2)
quarrow2_client_includes(hello_metadata examples)

if(QUARROW2_BUILD_TESTS)
  set(example_file ${CMAKE_BINARY_DIR}/examples-scratch/hello.txt)
  add_test(NAME ${QUARROW2_TEST_PREFIX}examples.hello_metadata
           COMMAND ${CMAKE_COMMAND} -E env sh -c
             "mkdir -p '${CMAKE_BINARY_DIR}/examples-scratch' && rm -f '${example_file}' && \"$0\" '${example_file}' && getfattr -e hex -n user.Author '${example_file}'"
             $<TARGET_FILE:hello_metadata>)
  set_tests_properties(${QUARROW2_TEST_PREFIX}examples.hello_metadata PROPERTIES
    PASS_REGULAR_EXPRESSION "Author has 8 characters in 16 bytes.*user.Author=0x4a0061006e006500200044006f006500")

  find_program(QUARROW2_PYTHON3_FOR_README python3)
  if(QUARROW2_PYTHON3_FOR_README AND TARGET quarrow2_tool)
    add_test(NAME ${QUARROW2_TEST_PREFIX}readme
             COMMAND ${QUARROW2_PYTHON3_FOR_README} ${PROJECT_SOURCE_DIR}/tests/readme/test_readme.py)
    set_tests_properties(${QUARROW2_TEST_PREFIX}readme PROPERTIES
      ENVIRONMENT "QUARROW2_TOOL=$<TARGET_FILE:quarrow2_tool>;QUARROW2_BUILD_DIR=${CMAKE_BINARY_DIR}")
  endif()
endif()
