# Leak checks of clients of the public interface: a walk through every object and most of
# their failures (tests/memcheck), and the README's example. Under valgrind's memcheck
# where the build has no sanitizers (no error, nothing definitely or indirectly lost); in a
# sanitizer build, the same programs run under AddressSanitizer's leak checker instead.
add_executable(client_walkthrough ${PROJECT_SOURCE_DIR}/tests/memcheck/client_walkthrough.cpp)
quarrow2_strict_warnings(client_walkthrough)
target_link_libraries(client_walkthrough PRIVATE quarrow2)

foreach(client client_walkthrough hello_metadata)
  set(name ${QUARROW2_TEST_PREFIX}memcheck.${client})
  add_test(NAME ${name}
           COMMAND ${PROJECT_SOURCE_DIR}/tests/memcheck/run_memcheck.sh
                   ${CMAKE_BINARY_DIR}/memcheck/${client} "${QUARROW2_SANITIZE}" $<TARGET_FILE:${client}>)
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS memcheck)
endforeach()
