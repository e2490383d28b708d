# Writes OUT: the module-definition file DEF with each name given its stdcall
# decoration (name@bytes) as the compiled OBJECTS ('|'-separated) define it,
# so that the import library carries the names 32-bit callers link against
# while --kill-at exports the plain names.
string(REPLACE "|" ";" objects "${OBJECTS}")
execute_process(COMMAND ${NM} --defined-only ${objects} OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed")
endif()
file(STRINGS ${DEF} def_lines)
set(text "")
foreach(line IN LISTS def_lines)
  if(line MATCHES "^  (nax_[a-z0-9_]+)$")
    set(name ${CMAKE_MATCH_1})
    if(NOT syms MATCHES " T _${name}(@[0-9]+)\n")
      message(FATAL_ERROR "no definition of ${name} in the objects")
    endif()
    string(APPEND text "  ${name}${CMAKE_MATCH_1}\n")
  else()
    string(APPEND text "${line}\n")
  endif()
endforeach()
file(WRITE ${OUT}.tmp "${text}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
