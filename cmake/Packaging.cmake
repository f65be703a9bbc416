# Packages made with CPack from the install rules: on Linux a .deb
# (cpack -G DEB: quarrow2_<version>_<arch>.deb), on Windows a zip per architecture
# (cpack -G ZIP: quarrow2-<version>-win64.zip or -win32.zip).
set(CPACK_PACKAGE_NAME quarrow2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quarrow2 authors")
set(CPACK_PACKAGE_CONTACT "Quarrow2 developers <dev@quarrow2.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "named items of metadata attached to files")
set(CPACK_PACKAGE_DESCRIPTION "Quarrow2 keeps items of metadata (Author, Keywords, any name)
as named data streams of ordinary files, without touching their contents. It holds the
library, its C++ headers, CMake and pkg-config files, and the quarrow2 command-line tool.")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  # The zip holds the files themselves, not a folder around them.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # The package's dependencies are those of its binaries, as dpkg-shlibdeps finds them. Its
  # shlibs file lets packages built against libquarrow2.so.2 depend on this one in turn,
  # and installing it runs ldconfig.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
endif()
include(CPack)
