# Every target of ours builds warning-free at -Wall -Wextra; warnings are errors.
function(pw_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
