# Fails when a deliverable holds a trace of a test hook: the seam's environment variable
# names or its interface (code, data or debug information), in single-byte or UTF-16 text,
# as `strings` finds them.
#   cmake -DSTRINGS=<strings program> -DFILE=<binary> -P no_test_hooks.cmake
set(patterns FRAMEWORK_TEST_ AfxTestSeam)
set(found FALSE)
foreach(encoding s l)
  execute_process(COMMAND ${STRINGS} -a -e ${encoding} ${FILE}
                  OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "no_test_hooks: ${STRINGS} could not read ${FILE}")
  endif()
  foreach(pattern IN LISTS patterns)
    string(FIND "${text}" "${pattern}" at)
    if(NOT at EQUAL -1)
      message(NOTICE "no_test_hooks: ${FILE} holds \"${pattern}\" (strings -e ${encoding})")
      set(found TRUE)
    endif()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "no_test_hooks: test hook text in a deliverable; it must not link "
                      "framework_seam nor include framework_seam.h.")
endif()
