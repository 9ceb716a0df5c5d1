# Package files made the way a driver vendor makes them: resource-only DLLs and EXEs with a
# real version resource (windres), each also SZDD-compressed with mscompress. Every payload
# carries its own name in an RCDATA resource, so no two payloads have the same bytes and a
# scenario can tell by content which file ended up installed.
#
# Outputs go to ${TOLVANIX_PAYLOADS} (<build>/payloads); scenarios reach them as
# Built("payloads/<name>") and Built("payloads/<name>_"). Each call adds its outputs to the
# caller's TOLVANIX_PAYLOAD_OUTPUTS; the caller makes one target that depends on them all (one
# target only: with Makefiles, two targets on one output would build it twice at once).
#
#   tolvanix_payload(<name> [VERSION <FileVersion text>] [TABLE <string table>] [EXE])
#     VERSION  without it the file has no version resource at all
#     TABLE    the StringFileInfo block, default 040904b0 (U.S. English, Unicode)
#     EXE      an EXE instead of a DLL
#   tolvanix_payload_cut(<name> <from> <bytes>)
#     <name> is the first <bytes> bytes of the payload file <from> (e.g. a compressed one cut
#     short, as an interrupted download leaves it)
find_program(MSCOMPRESS mscompress REQUIRED)
set(TOLVANIX_PAYLOADS ${CMAKE_BINARY_DIR}/payloads)
file(MAKE_DIRECTORY ${TOLVANIX_PAYLOADS})

function(tolvanix_payload name)
  cmake_parse_arguments(P "EXE" "VERSION;TABLE" "" ${ARGN})
  if(NOT P_TABLE)
    set(P_TABLE 040904b0)
  endif()
  set(work ${CMAKE_CURRENT_BINARY_DIR}/payloads)
  set(rc ${work}/${name}.rc)
  set(text "100 RCDATA { \"tolvanix test payload ${name}\\0\" }\n")
  if(DEFINED P_VERSION)
    # The binary version agrees with the text where the text is four numbers that fit, as a
    # vendor's build makes it; the check program warns where they disagree.
    set(binary 1,0,0,0)
    if(P_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
      set(binary "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},${CMAKE_MATCH_4}")
      foreach(part ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
        if(part GREATER 65535)
          set(binary 1,0,0,0)
        endif()
      endforeach()
    endif()
    string(APPEND text
      "1 VERSIONINFO\nFILEVERSION ${binary}\nBEGIN\n"
      "  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"${P_TABLE}\"\n    BEGIN\n"
      "      VALUE \"FileVersion\", \"${P_VERSION}\"\n"
      "      VALUE \"ProductName\", \"tolvanix test payload\"\n"
      "    END\n  END\nEND\n")
  endif()
  file(WRITE ${rc}.in "${text}")
  configure_file(${rc}.in ${rc} COPYONLY)
  set(kind -shared)
  if(P_EXE)
    set(kind -mwindows)
  endif()
  set(out ${TOLVANIX_PAYLOADS}/${name})
  add_custom_command(OUTPUT ${out} ${out}_
    COMMAND ${CMAKE_RC_COMPILER} ${rc} -O coff -o ${work}/${name}.res.o
    COMMAND ${CMAKE_C_COMPILER} ${kind} -nostdlib -Wl,-e,0 -o ${out} ${work}/${name}.res.o
    COMMAND ${CMAKE_COMMAND} -E remove -f ${out}_
    COMMAND ${MSCOMPRESS} ${out}
    DEPENDS ${rc}
    VERBATIM)
  set(TOLVANIX_PAYLOAD_OUTPUTS ${TOLVANIX_PAYLOAD_OUTPUTS} ${out} ${out}_ PARENT_SCOPE)
endfunction()

function(tolvanix_payload_cut name from bytes)
  set(out ${TOLVANIX_PAYLOADS}/${name})
  add_custom_command(OUTPUT ${out}
    COMMAND head -c ${bytes} ${TOLVANIX_PAYLOADS}/${from} > ${out}
    DEPENDS ${TOLVANIX_PAYLOADS}/${from}
    VERBATIM)
  set(TOLVANIX_PAYLOAD_OUTPUTS ${TOLVANIX_PAYLOAD_OUTPUTS} ${out} PARENT_SCOPE)
endfunction()
