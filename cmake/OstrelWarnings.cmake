# Warning flags for every target of this project.
function(ostrel_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${OSTREL_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
                           $<$<BOOL:${OSTREL_WERROR}>:-Werror>)
  endif()
endfunction()
