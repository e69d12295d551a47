# Writes one man page: help2man over the program's --help and --version, the
# program's sections from cmake/man/PROGRAM.h2m, dated by the package's
# change log. Run as a script:
#   cmake -DHELP2MAN=... -DPROGRAM=path -DNAME=... -DABOUT=... -DINCLUDE=file
#         -DDATE_EPOCH=seconds -DOUTPUT=page.1 -P man_page.cmake
set(ENV{SOURCE_DATE_EPOCH} ${DATE_EPOCH})
set(include_option)
if(EXISTS "${INCLUDE}")
    set(include_option "--include=${INCLUDE}")
endif()
execute_process(
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr "--name=${ABOUT}" ${include_option}
            --output=${OUTPUT} ${PROGRAM}
    RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "help2man failed for ${NAME}")
endif()
file(READ ${OUTPUT} page)
# help2man makes "Example:" a subsection of the description and "Examples:"
# a section, and fills the lines under either into one paragraph: a copied
# command would then run into the next. Each example stays a line of its own.
string(REPLACE ".SS \"Example:\"\n" ".SH EXAMPLES\n" page "${page}")
string(REGEX MATCH "\n\\.SH EXAMPLES\n\\.IP\n[^.][^\n]*(\n[^.][^\n]*)*\n" examples "${page}")
if(examples)
    string(REGEX REPLACE "^\n\\.SH EXAMPLES\n\\.IP\n" "" lines "${examples}")
    string(REPLACE "${examples}" "\n.SH EXAMPLES\n.IP\n.nf\n${lines}.fi\n" page "${page}")
endif()
file(WRITE ${OUTPUT} "${page}")
