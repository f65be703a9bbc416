# The Debian packages, one per install component (cpack -G DEB):
#   libquarrow2-2     runtime  the shared library (multiarch folder), its shlibs file
#   libquarrow2-dev   dev      headers, the libquarrow2.so link, CMake package, quarrow2.pc
#   quarrow2          tool     the tool, its man pages and shell completions
#   python3-quarrow2  python   the Python module, when the build installs one
# Each carries usr/share/doc/<package>/copyright (machine-readable, made from LICENSE) and
# changelog.Debian.gz (cmake/debian/changelog, whose top entry gives the package version).
set(quarrow2_debian ${CMAKE_CURRENT_LIST_DIR}/debian)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${quarrow2_debian}/changelog ${quarrow2_debian}/copyright.in
             ${PROJECT_SOURCE_DIR}/LICENSE)

# The changelog names the version; it must be this project's, with a Debian revision.
file(STRINGS ${quarrow2_debian}/changelog top LIMIT_COUNT 1)
if(NOT top MATCHES "^quarrow2 \\(${PROJECT_VERSION}-([0-9A-Za-z.+~]+)\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: the top entry is not version ${PROJECT_VERSION}-N")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_1})
set(quarrow2_deb_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})

# The copyright file: the holders and the text of LICENSE, under Debian's name for it.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
list(GET license_lines 0 license_title)
if(NOT license_title STREQUAL "MIT License")
  message(FATAL_ERROR "LICENSE is not the MIT license: name it in cmake/DebianPackages.cmake")
endif()
set(quarrow2_license Expat)
set(quarrow2_holders)
set(quarrow2_license_text)
list(REMOVE_AT license_lines 0)
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Copyright (.*)$")
    list(APPEND quarrow2_holders "${CMAKE_MATCH_1}")
  elseif(line STREQUAL "")
    string(APPEND quarrow2_license_text " .\n")
  else()
    string(APPEND quarrow2_license_text " ${line}\n")
  endif()
endforeach()
string(REGEX REPLACE "^( \\.\n)+" "" quarrow2_license_text "${quarrow2_license_text}")
string(REGEX REPLACE "( \\.\n)+$" "" quarrow2_license_text "${quarrow2_license_text}")
string(REGEX REPLACE "\n$" "" quarrow2_license_text "${quarrow2_license_text}")
list(JOIN quarrow2_holders "\n " quarrow2_holders)
set(quarrow2_package_docs ${CMAKE_BINARY_DIR}/package/debian)
configure_file(${quarrow2_debian}/copyright.in ${quarrow2_package_docs}/copyright @ONLY)
# Installing the library updates the loader's cache through dpkg's ldconfig trigger.
file(WRITE ${quarrow2_package_docs}/triggers "activate-noawait ldconfig\n")
execute_process(COMMAND gzip -9nc ${quarrow2_debian}/changelog
                OUTPUT_FILE ${quarrow2_package_docs}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quarrow2.invalid/")
# Dependencies on the system's libraries are those of the binaries, as dpkg-shlibdeps finds
# them (the library itself in this build); those among these packages are exact versions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The shlibs file lets packages built against libquarrow2.so.2 depend on this version or
# later; installing the library runs ldconfig.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(quarrow2_about
    "Quarrow2 keeps items of metadata (Author, Keywords, any name) on files
without touching their contents: on Linux as user extended attributes,
the way ntfs-3g presents NTFS named streams.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libquarrow2-2)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# Its postinst makes the group quarrow2 and the share-mode store /run/quarrow2; CPack names a
# control file by its file's name.
configure_file(${quarrow2_debian}/libquarrow2-2.postinst ${quarrow2_package_docs}/postinst COPYONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${quarrow2_package_docs}/triggers
    ${quarrow2_package_docs}/postinst)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "named items of metadata on files - library
${quarrow2_about}
This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquarrow2-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_DEV_DESCRIPTION "named items of metadata on files - development files
${quarrow2_about}
This package holds the C++ headers, the CMake package and the pkg-config file.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME quarrow2)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOL_DEPENDS runtime)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "named items of metadata on files - command-line tool
${quarrow2_about}
This package holds the quarrow2 tool, which lists, reads, writes, copies,
finds, dumps and restores items, with its man pages and shell completions.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-quarrow2)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
# A compiled module loads into the Python version it was built for alone: the one
# cmake/Python.cmake found (Python3_EXECUTABLE).
if(Python3_VERSION_MINOR)
  math(EXPR python_next "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= 3.${Python3_VERSION_MINOR}~), python3 (<< 3.${python_next})")
endif()
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "named items of metadata on files - Python module
${quarrow2_about}
This package holds the Python 3 module quarrow2: the same objects as the
Windows automation server, and a mapping of a file's items.")

# The python component comes from the Python module's own install rules, wherever in the
# project they are; so the packages are settled once the whole project has been read, and
# python3-quarrow2 is made when the build installs a module.
macro(quarrow2_settle_debian_packages)
  get_cmake_property(quarrow2_components COMPONENTS)
  set(CPACK_COMPONENTS_ALL runtime dev tool)
  if(python IN_LIST quarrow2_components)
    list(APPEND CPACK_COMPONENTS_ALL python)
  endif()
  foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    string(TOUPPER ${component} upper)
    install(FILES ${quarrow2_package_docs}/copyright ${quarrow2_package_docs}/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
            COMPONENT ${component} EXCLUDE_FROM_ALL)
  endforeach()
  include(CPack)
endmacro()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL quarrow2_settle_debian_packages)
