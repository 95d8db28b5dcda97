# The manual page of morvalind-host, from its --help and --version, with every
# command's own help as a section of its own, compressed as Debian keeps them.
# Usage: cmake -DHELP2MAN=help2man -DPROGRAM=morvalind-host -DINCLUDE=FILE.h2m -DOUTPUT=FILE.1 -P man_page.cmake
get_filename_component(folder ${OUTPUT} DIRECTORY)
set(sections ${folder}/morvalind-host-commands.h2m)
file(READ ${INCLUDE} text)
string(APPEND text "\n[COMMANDS]\n")
# The commands as the program's help lists them.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE usage RESULT_VARIABLE failed)
string(REGEX MATCH "\nCommands:\n(.*)" matched "${usage}")
string(REGEX MATCH "^[^\n]*(\n  [^\n]*)*" listed "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "(^|\n)  [a-z-]+" commands "${listed}")
list(TRANSFORM commands STRIP)
list(REMOVE_ITEM commands help)
if(failed OR NOT commands)
  message(FATAL_ERROR "${PROGRAM} --help lists no commands")
endif()
foreach(command ${commands})
  execute_process(COMMAND ${PROGRAM} help ${command} OUTPUT_VARIABLE help RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${PROGRAM} help ${command} failed")
  endif()
  # Roff: a line that starts with a dot or a quote is a request; backslashes escape.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(APPEND text ".SS ${command}\n.nf\n${help}.fi\n")
endforeach()
# The examples as lines of their own and the exit statuses as their section,
# where help2man would fill them into one paragraph.
string(REGEX MATCH "\nExamples:\n(.*)\n\n(Exit status: .*)" matched "${usage}")
if(NOT matched)
  message(FATAL_ERROR "${PROGRAM} --help has no examples and exit statuses")
endif()
set(examples "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" statuses)
string(APPEND text "\n[=EXAMPLES]\n.nf\n${examples}\n.fi\n\n[EXIT STATUS]\n${statuses}\n")
file(WRITE ${sections} "${text}")
# The product version, as the page's footer has room for.
execute_process(COMMAND ${PROGRAM} --version OUTPUT_VARIABLE version)
string(REGEX MATCH "^[^ ]+ ([^ \n]+)" matched "${version}")
execute_process(COMMAND ${HELP2MAN} --no-info --section 1 --include ${sections}
                        --version-string ${CMAKE_MATCH_1}
                        --name "drive a Morvalind.dev device module from the command line"
                        --output ${OUTPUT} ${PROGRAM} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man failed")
endif()
execute_process(COMMAND gzip -9nf ${OUTPUT} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip failed")
endif()
