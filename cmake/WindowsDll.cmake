# Quarrow2.dll: the library's objects, whole, with its resources (type library compiled
# from server/Quarrow2.idl, registration scripts, version information) and the four
# exports of server/Quarrow2.def. Linked statically against the compiler's runtime so that
# it loads on a system without MinGW's DLLs.
enable_language(RC)

find_program(QUARROW2_WIDL widl HINTS /usr/lib/wine REQUIRED)
# The IDL files that describe the system interfaces (oaidl.idl and the like) come with
# Wine's development files; stdole2.tlb, which the type library imports, with Wine itself.
set(QUARROW2_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH
    "Folder of the system IDL files that server/Quarrow2.idl imports")
# Both DLLs carry a type library for 32-bit Windows (SYS_WIN32), registered under "win32".
# A 64-bit client finds it there as well (the runtime looks under "win64" first, then
# "win32"), and calls through it land in the right slots: the runtime scales the recorded
# function-table offsets to the pointer size of the process.
set(quarrow2_widl_target --win32)
find_path(QUARROW2_STDOLE_DIR stdole2.tlb
          HINTS /usr/lib/i386-linux-gnu/wine/i386-windows
                /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
if(NOT EXISTS ${QUARROW2_WINE_IDL_DIR}/oaidl.idl)
  message(FATAL_ERROR "oaidl.idl not found in ${QUARROW2_WINE_IDL_DIR}; install libwine-dev")
endif()

set(quarrow2_generated ${CMAKE_BINARY_DIR}/server-generated)
file(MAKE_DIRECTORY ${quarrow2_generated})

add_custom_command(
  OUTPUT ${quarrow2_generated}/Quarrow2.tlb
  COMMAND ${QUARROW2_WIDL} ${quarrow2_widl_target} -t -I ${QUARROW2_WINE_IDL_DIR}
          -L ${QUARROW2_STDOLE_DIR} -o ${quarrow2_generated}/Quarrow2.tlb
          ${PROJECT_SOURCE_DIR}/server/Quarrow2.idl
  DEPENDS ${PROJECT_SOURCE_DIR}/server/Quarrow2.idl
  COMMENT "Compiling the type library"
  VERBATIM)

# One registration script per class, from one template.
set(QUARROW2_LIBID "${QUARROW2_UUID_Quarrow2}")
set(quarrow2_scripts)
foreach(QUARROW2_CLASS ${QUARROW2_CLASSES})
  set(QUARROW2_CLSID ${QUARROW2_UUID_${QUARROW2_CLASS}})
  set(QUARROW2_SCRIPT_ID ${QUARROW2_SCRIPT_ID_${QUARROW2_CLASS}})
  set(QUARROW2_PROGID ${QUARROW2_PROGID_${QUARROW2_CLASS}})
  set(QUARROW2_VERSIONLESS_PROGID ${QUARROW2_VERSIONLESS_PROGID_${QUARROW2_CLASS}})
  set(QUARROW2_DESCRIPTION ${QUARROW2_DESCRIPTION_${QUARROW2_CLASS}})
  configure_file(${PROJECT_SOURCE_DIR}/server/class_registration.in
                 ${quarrow2_generated}/${QUARROW2_CLASS}.registry @ONLY NEWLINE_STYLE UNIX)
  list(APPEND quarrow2_scripts ${quarrow2_generated}/${QUARROW2_CLASS}.registry)
endforeach()

set(quarrow2_rc ${PROJECT_SOURCE_DIR}/server/Quarrow2.rc)
set_source_files_properties(${quarrow2_rc} PROPERTIES
  OBJECT_DEPENDS "${quarrow2_generated}/Quarrow2.tlb;${quarrow2_scripts}")

# x64 has no stdcall decoration: its .def is server/Quarrow2.def without the @bytes suffixes.
set(quarrow2_def ${PROJECT_SOURCE_DIR}/server/Quarrow2.def)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  file(READ ${quarrow2_def} def_text)
  string(REGEX REPLACE "([A-Za-z]+)@[0-9]+( +@)" "\\1\\2" def_text "${def_text}")
  set(quarrow2_def ${quarrow2_generated}/Quarrow2.def)
  file(CONFIGURE OUTPUT ${quarrow2_def} CONTENT "${def_text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/server/Quarrow2.def)
endif()
add_library(Quarrow2 SHARED ${quarrow2_rc} ${quarrow2_def})
# The import library for clients (the Windows zip's lib/libQuarrow2.dll.a), made by dlltool:
# on x86 its symbols keep their stdcall decoration, as a client's references carry it.
find_program(QUARROW2_DLLTOOL ${QUARROW2_MINGW_TRIPLE}-dlltool REQUIRED)
set(QUARROW2_IMPORT_LIBRARY ${quarrow2_generated}/libQuarrow2.dll.a)
add_custom_command(
  OUTPUT ${QUARROW2_IMPORT_LIBRARY}
  COMMAND ${QUARROW2_DLLTOOL} --kill-at --input-def ${quarrow2_def} --dllname Quarrow2.dll
          --output-lib ${QUARROW2_IMPORT_LIBRARY}
  DEPENDS ${quarrow2_def}
  COMMENT "Making the import library for clients"
  VERBATIM)
add_custom_target(quarrow2_import_library ALL DEPENDS ${QUARROW2_IMPORT_LIBRARY})
quarrow2_strict_warnings(Quarrow2)
set_target_properties(Quarrow2 PROPERTIES OUTPUT_NAME Quarrow2 PREFIX "" LINKER_LANGUAGE CXX)
target_include_directories(Quarrow2 PRIVATE ${quarrow2_generated} ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(Quarrow2 PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,quarrow2_core>")
# The exported names stay undecorated on x86 too, as the system looks them up by name: the
# .def names them plainly and the linker binds them to the decorated stdcall symbols.
target_link_options(Quarrow2 PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup
                    -static -static-libgcc -static-libstdc++)

# Where the tests find the type library file on its own.
set(QUARROW2_TYPELIB_FILE ${quarrow2_generated}/Quarrow2.tlb)
