# The library's logic is written once; the platform layer is one folder per platform.
# Files named *_win.cpp and *_posix.cpp in the logic folders are a platform's own duties
# (library entry, class lookup, registration, and on Windows the stream listing and read of
# platform/item_streams.h, which Linux answers in platform/posix/).
set(QUARROW2_STORE_SOURCES
  store/diagnostic_trace.cpp
  store/error_report.cpp
  store/file.cpp
  store/module_lock.cpp
  store/stream_open.cpp
  store/type_names.cpp
  store/volume_probe.cpp)
set(QUARROW2_ITEMS_SOURCES
  items/byte_array.cpp
  items/metadata.cpp
  items/stored_value.cpp)
set(QUARROW2_DISCOVERY_SOURCES
  discovery/backup_reader.cpp
  discovery/file_properties.cpp
  discovery/stream_walk.cpp
  discovery/strings.cpp
  discovery/strings_enumerator.cpp)
set(QUARROW2_DISCOVERY_WIN_SOURCES
  discovery/item_streams_win.cpp)
set(QUARROW2_SERVER_SOURCES
  server/class_table.cpp
  server/exports.cpp
  server/file_class_object.cpp
  server/library_state.cpp
  ${CMAKE_BINARY_DIR}/generated/identifiers.cpp)
set(QUARROW2_SERVER_WIN_SOURCES
  server/library_entry_win.cpp
  server/registration_script.cpp  # on Linux, its tests and fuzz target compile it in
  server/registration_win.cpp
  server/registry_entries_win.cpp
  server/type_info_holder_win.cpp)
set(QUARROW2_SERVER_POSIX_SOURCES
  server/class_registration_posix.cpp
  server/late_binding_posix.cpp
  server/library_entry_posix.cpp)
# Linux: the exported automation runtime, the private emulation of the system's file calls,
# and the rest of the system calls the library makes.
set(QUARROW2_POSIX_RUNTIME_SOURCES
  platform/posix/runtime/bstr.cpp
  platform/posix/runtime/class_registry.cpp
  platform/posix/runtime/error_info.cpp
  platform/posix/runtime/guids.cpp
  platform/posix/runtime/safearray.cpp
  platform/posix/runtime/variant.cpp)
set(QUARROW2_POSIX_FILES_SOURCES
  platform/posix/files/backup_stream.cpp
  platform/posix/files/create_file.cpp
  platform/posix/files/delete_file.cpp
  platform/posix/files/file_access.cpp
  platform/posix/files/handle_table.cpp
  platform/posix/files/item_streams.cpp
  platform/posix/files/lock_store.cpp
  platform/posix/files/positional_io.cpp
  platform/posix/files/range_locks.cpp
  platform/posix/files/share_locks.cpp
  platform/posix/files/stream_content.cpp
  platform/posix/files/stream_io.cpp
  platform/posix/files/stream_layout.cpp
  platform/posix/files/stream_path.cpp
  platform/posix/files/stream_value.cpp
  platform/posix/files/volume_info.cpp)
set(QUARROW2_POSIX_SYSTEM_SOURCES
  platform/posix/system/errors.cpp
  platform/posix/system/message_texts.cpp
  platform/posix/system/messages.cpp
  platform/posix/system/sync.cpp)

include(cmake/Identifiers.cmake)

set(QUARROW2_LOGIC ${QUARROW2_STORE_SOURCES} ${QUARROW2_ITEMS_SOURCES}
    ${QUARROW2_DISCOVERY_SOURCES} ${QUARROW2_SERVER_SOURCES})
if(WIN32)
  list(APPEND QUARROW2_LOGIC ${QUARROW2_SERVER_WIN_SOURCES} ${QUARROW2_DISCOVERY_WIN_SOURCES})
  set(QUARROW2_PLATFORM)
else()
  list(APPEND QUARROW2_LOGIC ${QUARROW2_SERVER_POSIX_SOURCES})
  set(QUARROW2_PLATFORM ${QUARROW2_POSIX_RUNTIME_SOURCES} ${QUARROW2_POSIX_FILES_SOURCES}
      ${QUARROW2_POSIX_SYSTEM_SOURCES})
endif()

# Everything in one static archive: the shared library wraps it, and the tests link it to
# reach the internal operations as well as the interfaces.
add_library(quarrow2_core STATIC ${QUARROW2_LOGIC} ${QUARROW2_PLATFORM})
quarrow2_strict_warnings(quarrow2_core)
target_include_directories(quarrow2_core PUBLIC ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
target_include_directories(quarrow2_core PRIVATE ${CMAKE_BINARY_DIR}/generated)
set_target_properties(quarrow2_core PROPERTIES POSITION_INDEPENDENT_CODE ON)

find_package(Threads REQUIRED)
if(WIN32)
  target_compile_definitions(quarrow2_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                                                  _WIN32_WINNT=0x0601)
  target_link_libraries(quarrow2_core PUBLIC oleaut32 ole32 uuid advapi32 Threads::Threads)
else()
  target_compile_options(quarrow2_core PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
  target_link_libraries(quarrow2_core PUBLIC Threads::Threads)
  # The class registration runs from a load-time constructor that nothing calls by name:
  # every link of the archive is told to keep it.
  target_link_options(quarrow2_core INTERFACE
                      LINKER:--undefined=quarrow2_registers_classes_on_load)

  add_library(quarrow2 SHARED ${PROJECT_SOURCE_DIR}/include/quarrow2/quarrow2.h)
  set_target_properties(quarrow2 PROPERTIES LINKER_LANGUAGE CXX
                        VERSION ${PROJECT_VERSION} SOVERSION 2)
  target_link_libraries(quarrow2 PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,quarrow2_core>")
  target_include_directories(quarrow2 PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
  # Each export carries exports.map's version; the library's calls of its own exported
  # functions are bound to its own definitions at link time, so that no other definition in
  # the process (a preloaded library, another runtime) replaces them. Data stays unbound:
  # a client may copy an identifier into itself, and every reference must then name that copy.
  target_link_options(quarrow2 PRIVATE -Wl,-Bsymbolic-functions
                      -Wl,--version-script=${PROJECT_SOURCE_DIR}/platform/posix/exports.map)
  set_property(TARGET quarrow2 APPEND PROPERTY LINK_DEPENDS
               ${PROJECT_SOURCE_DIR}/platform/posix/exports.map)
endif()
