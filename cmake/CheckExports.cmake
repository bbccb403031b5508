# cmake -DLIBRARY=path -DNM=nm -DEXPECTED=symbol -P CheckExports.cmake
# Fails unless the shared library's dynamic symbol table defines exactly the expected symbol,
# as `nm -D --defined-only` lists it.
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(symbols "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" symbol "${line}")
  list(APPEND symbols "${symbol}")
endforeach()
if(NOT symbols STREQUAL "${EXPECTED}")
  message(FATAL_ERROR "${LIBRARY} exports [${symbols}], expected only [${EXPECTED}]")
endif()
message(STATUS "${LIBRARY} exports only ${EXPECTED}")
