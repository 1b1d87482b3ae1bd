# Renders a manual page as plain text with CR LF line ends, for the Windows archive:
#   cmake -DFORMATTER=<groff or mandoc> -DPAGE=<page> -DOUTPUT=<text file> -P RenderManPage.cmake
if(FORMATTER MATCHES "groff$")
  set(command ${FORMATTER} -man -Tascii -P-cbou ${PAGE})
else()
  set(command ${FORMATTER} -T ascii ${PAGE})
endif()
execute_process(COMMAND ${command} OUTPUT_VARIABLE text RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${FORMATTER} failed on ${PAGE}: ${status}")
endif()
# Bold and underlined letters come as overstrikes: a character, a backspace and the letter.
string(ASCII 8 backspace)
string(REGEX REPLACE ".${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
