# Packages made with CPack from the install rules: on Linux the Debian packages of
# cmake/DebianPackages.cmake (cpack -G DEB), on Windows a zip per architecture
# (cpack -G ZIP: quarrow2-<version>-win64.zip or -win32.zip).
set(CPACK_PACKAGE_NAME quarrow2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quarrow2 authors")
set(CPACK_PACKAGE_CONTACT "Quarrow2 developers <dev@quarrow2.invalid>")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  # The zip holds the files themselves, not a folder around them.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  include(CPack)
else()
  set(CPACK_GENERATOR DEB)
  include(cmake/DebianPackages.cmake)
endif()
