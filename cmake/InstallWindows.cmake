# The layout of the Windows zip: one flat folder a user unpacks anywhere and registers from,
# with what a client is built with: the headers, the identifiers' definitions
# (Quarrow2_i.cpp), the import library (lib/libQuarrow2.dll.a) and the type library.
install(FILES $<TARGET_FILE:Quarrow2> $<TARGET_FILE:quarrow2_tool> ${QUARROW2_TYPELIB_FILE}
              ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${CMAKE_BINARY_DIR}/package/register.cmd ${CMAKE_BINARY_DIR}/generated/Quarrow2_i.cpp
        DESTINATION .)
install(FILES ${QUARROW2_IMPORT_LIBRARY} DESTINATION lib)
# The pages the README links to, beside it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION . FILES_MATCHING PATTERN "*.md")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quarrow2
        DESTINATION include FILES_MATCHING PATTERN "*.h")
# cmd.exe wants its scripts with CRLF line ends.
configure_file(${CMAKE_CURRENT_LIST_DIR}/register.cmd.in ${CMAKE_BINARY_DIR}/package/register.cmd
               @ONLY NEWLINE_STYLE CRLF)
