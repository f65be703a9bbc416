# Leak checks of clients of the public interface: the portable suite, which walks every object
# and its failures on real files, and the README's example. Under valgrind's memcheck where the
# build has no sanitizers (no error, nothing definitely or indirectly lost); in a sanitizer
# build every suite already runs under AddressSanitizer's leak checker, so only the example
# runs here.
set(memcheck_clients hello_metadata)
if(NOT QUARROW2_SANITIZE)
  list(APPEND memcheck_clients quarrow2_portable_tests)
endif()
foreach(client ${memcheck_clients})
  set(name ${QUARROW2_TEST_PREFIX}memcheck.${client})
  add_test(NAME ${name}
           COMMAND ${PROJECT_SOURCE_DIR}/tests/memcheck/run_memcheck.sh
                   ${CMAKE_BINARY_DIR}/memcheck/${client} "${QUARROW2_SANITIZE}" $<TARGET_FILE:${client}>)
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS memcheck)
endforeach()
