# Run at build time (cmake -P) after the tool is linked: its man pages and shell completions,
# written from the tool itself so that they cannot drift from it. quarrow2(1) is its --help,
# quarrow2-COMMAND(1) each command's --help, the commands as --help lists them; the
# completion scripts are what the hidden --completion option writes.
# Variables: TOOL, HELP2MAN, VERSION, OUTPUT (a folder; man/ and completion/ below it).
file(REMOVE_RECURSE ${OUTPUT}/man ${OUTPUT}/completion)
file(MAKE_DIRECTORY ${OUTPUT}/man ${OUTPUT}/completion)

execute_process(COMMAND ${TOOL} --help OUTPUT_VARIABLE help COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE ".*\nSubcommands:\n" "" listed "${help}")
string(REGEX MATCHALL "(^|\n)  [a-z]+ " commands "${listed}")
list(TRANSFORM commands REPLACE "[\n ]" "")
if(NOT commands)
  message(FATAL_ERROR "${TOOL} --help lists no commands")
endif()

# help2man runs "TOOL OPTION"; the version string names the page.
function(write_page page help_option name)
  set(see_also ${OUTPUT}/man/${page}.see-also)
  file(WRITE ${see_also} "[SEE ALSO]\n${ARGN}\n")
  execute_process(
    COMMAND ${HELP2MAN} --no-info --section 1 --source "quarrow2 ${VERSION}"
            --version-string "${page} ${VERSION}" --help-option "${help_option}"
            --name "${name}" --include ${see_also} --output ${OUTPUT}/man/${page}.1 ${TOOL}
    COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE ${see_also})
  execute_process(COMMAND gzip -9nf ${OUTPUT}/man/${page}.1 COMMAND_ERROR_IS_FATAL ANY)
endfunction()

set(command_pages)
foreach(command IN LISTS commands)
  string(REGEX MATCH "\n  ${command} +([^\n]*)" line "\n${listed}")
  string(SUBSTRING "${CMAKE_MATCH_1}" 0 1 first)
  string(SUBSTRING "${CMAKE_MATCH_1}" 1 -1 summary)
  string(TOLOWER "${first}" first)
  string(PREPEND summary "${first}")
  write_page(quarrow2-${command} "${command} --help" "${summary}" ".BR quarrow2 (1)")
  list(APPEND command_pages ".BR quarrow2-${command} (1)")
endforeach()
list(JOIN command_pages ",\n" command_pages)
write_page(quarrow2 --help "attach named items of metadata to files" "${command_pages}")

foreach(shell bash zsh fish)
  execute_process(COMMAND ${TOOL} --completion ${shell}
                  OUTPUT_FILE ${OUTPUT}/completion/${shell} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
