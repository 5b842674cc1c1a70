# cmake -DCLI=corvane-cli -DPACK="starter.xml|wine.xml" -DLIBRARY=bin/cvdb.db -P MakeLibrary.cmake
#
# Makes LIBRARY from PACK (one pack, or several separated by "|", their items in that
# order). The library is built under a temporary name and only then
# takes the place of the old one. What a library exported as when it was made is kept
# beside it (LIBRARY.pack); when the old library no longer exports as that, someone
# changed it with the rule editor, and it is kept as LIBRARY.old rather than lost.
set(fresh "${LIBRARY}.new")
string(REPLACE "|" ";" packs "${PACK}")
set(source "${LIBRARY}.pack")
file(REMOVE "${fresh}")
execute_process(COMMAND "${CLI}" rules import ${packs} --library "${fresh}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  file(REMOVE "${fresh}")
  message(FATAL_ERROR "The rule pack ${PACK} could not be imported (see above).")
endif()
execute_process(COMMAND "${CLI}" rules export --library "${fresh}"
                RESULT_VARIABLE result OUTPUT_VARIABLE made)
if(NOT result EQUAL 0)
  file(REMOVE "${fresh}")
  message(FATAL_ERROR "The new rule library ${fresh} could not be exported (see above).")
endif()

if(EXISTS "${LIBRARY}")
  set(edited TRUE)
  if(EXISTS "${source}")
    execute_process(COMMAND "${CLI}" rules export --library "${LIBRARY}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE current ERROR_QUIET)
    file(READ "${source}" before)
    if(result EQUAL 0 AND current STREQUAL before)
      set(edited FALSE)
    endif()
  endif()
  if(edited)
    file(RENAME "${LIBRARY}" "${LIBRARY}.old")
    message(STATUS "The rule library had changes of its own; it is kept as ${LIBRARY}.old")
  endif()
endif()

file(RENAME "${fresh}" "${LIBRARY}")
file(WRITE "${source}" "${made}")
