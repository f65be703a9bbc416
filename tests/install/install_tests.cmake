# What a user of the packages gets: the install tree, the .deb, the Windows zip, each made
# from this build into temporary folders. Installs carry no sanitizer runtime.
if(QUARROW2_SANITIZE)
  return()
endif()
if(WIN32)
  add_test(NAME ${QUARROW2_TEST_PREFIX}install.zip
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_windows.sh ${CMAKE_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR}/cmake/wine-run ${CMAKE_SIZEOF_VOID_P})
  # Registration changes the registry, so it runs with the server tests, one at a time.
  set_tests_properties(${QUARROW2_TEST_PREFIX}install.zip PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 900 RUN_SERIAL TRUE
    ENVIRONMENT "QUARROW2_WINEPREFIX=${CMAKE_BINARY_DIR}/wine-server")
else()
  add_test(NAME ${QUARROW2_TEST_PREFIX}install.linux
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_linux.sh ${CMAKE_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR})
  set_tests_properties(${QUARROW2_TEST_PREFIX}install.linux PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 900)
endif()
