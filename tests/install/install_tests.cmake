# What a user of the packages gets: the install tree, the .deb, the Windows zip, each made
# from this build into temporary folders. Installs carry no sanitizer runtime.
if(QUARROW2_SANITIZE)
  return()
elseif(WIN32)
  set(quarrow2_install_test ${QUARROW2_TEST_PREFIX}install.zip)
  add_test(NAME ${quarrow2_install_test}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_windows.sh ${CMAKE_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR}/cmake/wine-run ${CMAKE_SIZEOF_VOID_P}
                   ${CMAKE_CXX_COMPILER})
  # Registration changes the registry, so it runs with the server tests, one at a time.
  set_tests_properties(${quarrow2_install_test} PROPERTIES RUN_SERIAL TRUE
                       ENVIRONMENT "QUARROW2_WINEPREFIX=${CMAKE_BINARY_DIR}/wine-server")
else()
  set(quarrow2_install_test ${QUARROW2_TEST_PREFIX}install.linux)
  add_test(NAME ${quarrow2_install_test}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_linux.sh ${CMAKE_BINARY_DIR})
endif()
set_tests_properties(${quarrow2_install_test} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
