# utfcpp, header-only from Debian's libutfcpp-dev, for the tool and the tests. A cross build
# must not see the host's /usr/include, so there the headers are linked into a folder of
# their own.
find_path(QUARROW2_UTFCPP_DIR utf8.h PATHS /usr/include/utf8cpp /usr/include
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(quarrow2_utfcpp INTERFACE)
if(WIN32)
  set(quarrow2_utfcpp_include ${CMAKE_BINARY_DIR}/utfcpp-include)
  file(MAKE_DIRECTORY ${quarrow2_utfcpp_include})
  foreach(name utf8.h utf8)
    if(NOT EXISTS ${quarrow2_utfcpp_include}/${name})
      file(CREATE_LINK ${QUARROW2_UTFCPP_DIR}/${name} ${quarrow2_utfcpp_include}/${name} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(quarrow2_utfcpp SYSTEM INTERFACE ${quarrow2_utfcpp_include})
else()
  target_include_directories(quarrow2_utfcpp SYSTEM INTERFACE ${QUARROW2_UTFCPP_DIR})
endif()
