# Run as a script (cmake -P): renders a configured manual page as plain text
# for Windows, which has no man: groff's ASCII output without overstrikes,
# with CRLF line ends. Set: page (the configured page), groff, out.
# The ZIP unpacks anywhere: its examples are in the folder next to the page.
file(READ "${page}" text)
string(REPLACE "@RASTREL_EXAMPLES@"
  ".I examples\n(the folder of that name next to this text, in the folder the ZIP was unpacked into)" text "${text}")
file(WRITE "${out}.roff" "${text}")
execute_process(COMMAND "${groff}" -t -man -Tascii -P-cbou -rLL=78n -rHY=0 "${out}.roff"
  OUTPUT_VARIABLE rendered COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${out}.roff")
string(REPLACE "\n" "\r\n" rendered "${rendered}")
file(WRITE "${out}" "${rendered}")
