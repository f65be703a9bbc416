# The library's logic is written once; the platform layer is one folder per platform.
# Files named *_win.cpp in the logic folders serve Windows-only duties (registration).
file(GLOB QUARROW2_LOGIC CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/store/*.cpp
  ${PROJECT_SOURCE_DIR}/items/*.cpp
  ${PROJECT_SOURCE_DIR}/discovery/*.cpp
  ${PROJECT_SOURCE_DIR}/server/*.cpp)
if(WIN32)
  file(GLOB QUARROW2_PLATFORM CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/windows/*.cpp)
else()
  list(FILTER QUARROW2_LOGIC EXCLUDE REGEX "_win\\.cpp$")
  file(GLOB QUARROW2_PLATFORM CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/posix/*.cpp)
endif()

# Everything in one static archive: the shared library wraps it, and the tests link it to
# reach the internal operations as well as the interfaces.
add_library(quarrow2_core STATIC ${QUARROW2_LOGIC} ${QUARROW2_PLATFORM})
target_include_directories(quarrow2_core PUBLIC ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
set_target_properties(quarrow2_core PROPERTIES POSITION_INDEPENDENT_CODE ON)

find_package(Threads REQUIRED)
if(WIN32)
  target_compile_definitions(quarrow2_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                                                  _WIN32_WINNT=0x0601)
  target_link_libraries(quarrow2_core PUBLIC oleaut32 ole32 uuid advapi32 Threads::Threads)
else()
  target_compile_options(quarrow2_core PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
  target_link_libraries(quarrow2_core PUBLIC Threads::Threads)

  add_library(quarrow2 SHARED ${PROJECT_SOURCE_DIR}/include/quarrow2/quarrow2.h)
  set_target_properties(quarrow2 PROPERTIES LINKER_LANGUAGE CXX
                        VERSION ${PROJECT_VERSION} SOVERSION 2)
  target_link_libraries(quarrow2 PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,quarrow2_core>")
  target_include_directories(quarrow2 PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
  target_link_options(quarrow2 PRIVATE
                      -Wl,--version-script=${PROJECT_SOURCE_DIR}/platform/posix/exports.map)
  set_property(TARGET quarrow2 APPEND PROPERTY LINK_DEPENDS
               ${PROJECT_SOURCE_DIR}/platform/posix/exports.map)
endif()
