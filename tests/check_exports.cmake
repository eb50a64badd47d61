# Checks the symbols a plug-in file offers to its host.
#
#   cmake -DTOOL=<objdump or nm> -DFORMAT=<pe or elf> -DLIBRARY=<file>
#         -DEXPECTED=<names separated by ","> -P check_exports.cmake
#
# pe:  `objdump -p`: the export name table holds exactly the expected names
#      (no stdcall-decorated "Corvane@24"), and the DLL imports only from
#      system DLLs, never from a compiler runtime DLL the host would lack.
# elf: `nm -D --defined-only`: the dynamic symbols the library defines are
#      exactly the expected names.

foreach(var TOOL FORMAT LIBRARY EXPECTED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_exports: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${LIBRARY}")
  message(FATAL_ERROR "check_exports: no file ${LIBRARY}")
endif()
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT expected)

if(FORMAT STREQUAL "pe")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY}
    OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} -p ${LIBRARY} failed: ${err}")
  endif()
  string(REPLACE "\n" ";" lines "${out}")
  set(names)
  set(imports)
  set(in_table FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
      set(in_table TRUE)
    elseif(in_table AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
      list(APPEND names "${CMAKE_MATCH_1}")
    elseif(in_table)
      set(in_table FALSE)
    endif()
    if(line MATCHES "^[ \t]*DLL Name: (.+)$")
      list(APPEND imports "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  foreach(dll IN LISTS imports)
    string(TOLOWER "${dll}" lower)
    if(NOT lower MATCHES "^(kernel32|user32|advapi32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\\.dll$")
      message(FATAL_ERROR "${LIBRARY} needs ${dll}, which is not a system DLL "
                          "(imports: ${imports})")
    endif()
  endforeach()
elseif(FORMAT STREQUAL "elf")
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} -D --defined-only ${LIBRARY} failed: ${err}")
  endif()
  string(REPLACE "\n" ";" lines "${out}")
  set(names)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
      list(APPEND names "${CMAKE_MATCH_1}")
    endif()
  endforeach()
else()
  message(FATAL_ERROR "check_exports: FORMAT must be pe or elf, not ${FORMAT}")
endif()

list(SORT names)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports [${names}], expected exactly [${expected}]")
endif()
message(STATUS "${LIBRARY}: exports ${names}")
