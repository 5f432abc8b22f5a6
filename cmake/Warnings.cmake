# Every target of ours builds warning-free at -Wall -Wextra. PW_WERROR (on in the builds that
# scripts/test makes) turns warnings into errors; a user's build does not fail on a new
# compiler's diagnostics.
option(PW_WERROR "Treat compiler warnings as errors" OFF)
function(pw_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(PW_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
