# Fails when any of PROGRAMS (a list) moves a 32- or 64-byte register to or
# from memory with an aligned move (vmovaps, vmovapd, vmovdqa and the EVEX
# forms). On 64-bit Windows the stack is only 16-byte aligned, so such a move
# at a stack slot faults; the build has the assembler write every one of them
# in its unaligned form, and this checks that it did. 16-byte aligned moves
# (the C++ runtime's own, for one) are safe on that stack and allowed.
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${program}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} cannot disassemble ${program}")
  endif()
  string(REGEX MATCHALL "[^\n]*\tvmov(aps|apd|dqa|dqa32|dqa64)[ \t][^\n]*%[yz]mm[^\n]*" aligned "${listing}")
  list(FILTER aligned INCLUDE REGEX "\\(")
  list(LENGTH aligned count)
  if(count GREATER 0)
    list(GET aligned 0 first)
    message(FATAL_ERROR "${program}: ${count} aligned moves of 32- or 64-byte registers, the first:\n${first}")
  endif()
  message(STATUS "${program}: no aligned moves of 32- or 64-byte registers")
endforeach()
