# Installing on Linux: the shared library with its soname links, the public headers, the
# tool and its man page, the documents, and what lets another build find the library (a
# CMake package and quarrow2.pc). Nothing installed refers back to this build tree. Each rule
# names the Debian package that ships it (cmake/DebianPackages.cmake): runtime, dev, tool.
# The library goes into the multiarch folder (lib/x86_64-linux-gnu), as Debian expects and
# where its loader, pkg-config and CMake look, under /usr as under /usr/local. A folder
# other than GNUInstallDirs' plain default, lib, is left as the user chose it.
if(CMAKE_LIBRARY_ARCHITECTURE AND
   (NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR} OR "$CACHE{CMAKE_INSTALL_LIBDIR}" STREQUAL "lib"))
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
      "Object code libraries" FORCE)
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUARROW2_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quarrow2)

# Headers are installed as a folder, so that a new public header needs no rule of its own.
target_include_directories(quarrow2 INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS quarrow2 EXPORT Quarrow2Targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quarrow2
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(TARGETS quarrow2_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
# The share-mode store of root and the group quarrow2, made at boot (systemd-tmpfiles), and
# that group (systemd-sysusers); lib/, not the multiarch folder, is where systemd looks.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/quarrow2.tmpfiles DESTINATION lib/tmpfiles.d
        RENAME quarrow2.conf COMPONENT runtime)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/quarrow2.sysusers DESTINATION lib/sysusers.d
        RENAME quarrow2.conf COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quarrow2 COMPONENT tool)
# The pages the README links to, where its links find them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quarrow2
        COMPONENT tool FILES_MATCHING PATTERN "*.md")
# The packages carry the license as their copyright file instead.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quarrow2 COMPONENT license)

install(EXPORT Quarrow2Targets NAMESPACE Quarrow2:: DESTINATION ${QUARROW2_CMAKE_DIR}
        COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/Quarrow2Config.cmake.in
                              ${CMAKE_BINARY_DIR}/package/Quarrow2Config.cmake
                              INSTALL_DESTINATION ${QUARROW2_CMAKE_DIR})
# The soname changes with the first number only, so any 2.x satisfies a request for 2.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/Quarrow2ConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/Quarrow2Config.cmake
              ${CMAKE_BINARY_DIR}/package/Quarrow2ConfigVersion.cmake
        DESTINATION ${QUARROW2_CMAKE_DIR} COMPONENT dev)

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
       TYPE FILE FILES \"\${pc}\")" COMPONENT dev)

# The man pages and shell completions come from the tool itself (cmake/ToolPages.cmake).
find_program(QUARROW2_HELP2MAN help2man)
if(QUARROW2_HELP2MAN)
  set(quarrow2_pages ${CMAKE_BINARY_DIR}/tool-pages)
  add_custom_command(
    OUTPUT ${quarrow2_pages}/stamp
    COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:quarrow2_tool> -DHELP2MAN=${QUARROW2_HELP2MAN}
            -DVERSION=${PROJECT_VERSION} -DOUTPUT=${quarrow2_pages}
            -P ${CMAKE_CURRENT_LIST_DIR}/ToolPages.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${quarrow2_pages}/stamp
    DEPENDS quarrow2_tool ${CMAKE_CURRENT_LIST_DIR}/ToolPages.cmake
    COMMENT "Writing the quarrow2 man pages and shell completions"
    VERBATIM)
  add_custom_target(quarrow2_pages ALL DEPENDS ${quarrow2_pages}/stamp)
  install(DIRECTORY ${quarrow2_pages}/man/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT tool)
  foreach(shell_folder "bash;bash-completion/completions/quarrow2"
                       "zsh;zsh/vendor-completions/_quarrow2"
                       "fish;fish/vendor_completions.d/quarrow2.fish")
    list(GET shell_folder 0 shell)
    list(GET shell_folder 1 path)
    get_filename_component(folder ${path} DIRECTORY)
    get_filename_component(name ${path} NAME)
    install(FILES ${quarrow2_pages}/completion/${shell} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/${folder}
            RENAME ${name} COMPONENT tool)
  endforeach()
else()
  message(WARNING "help2man not found: the quarrow2 man pages and completions are not built")
endif()
