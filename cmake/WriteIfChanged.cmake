# write_if_changed(<file> <content>): writes the file only when its text
# changes, so that a generated source that stays the same rebuilds nothing.
function(write_if_changed file content)
  if(EXISTS "${file}")
    file(READ "${file}" _old)
    if(_old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${file}" "${content}")
endfunction()
