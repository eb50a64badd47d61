# Warnings on and treated as errors for every target of the project.
function(corvane_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
      -Wshadow -Wconversion -Wno-sign-conversion)
  endif()
endfunction()
