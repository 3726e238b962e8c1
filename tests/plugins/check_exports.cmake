# Fails unless LIBRARY defines exactly RavelOpen, RavelRead, RavelSeek and
# RavelClose in its dynamic symbol table.
execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE table RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" names "${table}")
string(REPLACE "\n" "" names "${names}")
list(SORT names)
if(NOT names STREQUAL "RavelClose;RavelOpen;RavelRead;RavelSeek")
  message(FATAL_ERROR "${LIBRARY} exports: ${names}")
endif()
