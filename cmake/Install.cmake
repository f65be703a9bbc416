# Installing on Linux: the shared library with its soname links, the public headers, the
# tool and its man page, the documents, and what lets another build find the library (a
# CMake package and quarrow2.pc). Nothing installed refers back to this build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUARROW2_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quarrow2)

# Headers are installed as a folder, so that a new public header needs no rule of its own.
target_include_directories(quarrow2 INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS quarrow2 EXPORT Quarrow2Targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quarrow2
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(TARGETS quarrow2_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quarrow2)

install(EXPORT Quarrow2Targets NAMESPACE Quarrow2:: DESTINATION ${QUARROW2_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/Quarrow2Config.cmake.in
                              ${CMAKE_BINARY_DIR}/package/Quarrow2Config.cmake
                              INSTALL_DESTINATION ${QUARROW2_CMAKE_DIR})
# The soname changes with the first number only, so any 2.x satisfies a request for 2.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/Quarrow2ConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/Quarrow2Config.cmake
              ${CMAKE_BINARY_DIR}/package/Quarrow2ConfigVersion.cmake
        DESTINATION ${QUARROW2_CMAKE_DIR})

# The prefix is known only when installing (cmake --install --prefix, or CPack's /usr), so
# quarrow2.pc is written then. Installs may run side by side (CPack's and another), so each
# destination has its own copy in the build tree.
install(CODE "
  set(QUARROW2_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(QUARROW2_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(QUARROW2_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(QUARROW2_PC_VERSION \"${PROJECT_VERSION}\")
  string(MD5 destination \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(pc \"${CMAKE_BINARY_DIR}/package/pkgconfig-\${destination}/quarrow2.pc\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/quarrow2.pc.in\" \"\${pc}\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
       TYPE FILE FILES \"\${pc}\")")

# The man page is the tool's own --help, so the two cannot disagree.
find_program(QUARROW2_HELP2MAN help2man)
if(QUARROW2_HELP2MAN)
  set(quarrow2_man ${CMAKE_BINARY_DIR}/man/quarrow2.1.gz)
  add_custom_command(
    OUTPUT ${quarrow2_man}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${QUARROW2_HELP2MAN} --no-info
            --name "attach named items of metadata to files"
            --output ${CMAKE_BINARY_DIR}/man/quarrow2.1 $<TARGET_FILE:quarrow2_tool>
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/quarrow2.1
    DEPENDS quarrow2_tool
    COMMENT "Writing the quarrow2 man page"
    VERBATIM)
  add_custom_target(quarrow2_man ALL DEPENDS ${quarrow2_man})
  install(FILES ${quarrow2_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: the quarrow2 man page is neither built nor installed")
endif()
