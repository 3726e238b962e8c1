# pe_exports(DLL OBJDUMP OUT): the names a Windows DLL exports, from the
# export table that objdump -p prints ("[   0] Name" lines under
# "[Ordinal/Name Pointer] Table").
function(pe_exports dll objdump out)
  execute_process(COMMAND ${objdump} -p ${dll} OUTPUT_VARIABLE table RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objdump failed on ${dll}")
  endif()
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[ *[0-9]+\\] [^\n]*\n)*)" _ "${table}")
  # The brackets go first: CMake lists do not split inside them.
  string(REGEX REPLACE "[ \t]+\\[ *[0-9]+\\] " "" entries "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "[^\n]+" names "${entries}")
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
