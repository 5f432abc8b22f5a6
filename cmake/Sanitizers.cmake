if(SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT SANITIZE STREQUAL "")
  message(FATAL_ERROR "SANITIZE must be address, thread or empty")
endif()

# A JVM that loads sanitizer-built libraries needs the sanitizer runtime preloaded into java
# itself: PW_JAVA_SANITIZER_ENV is the environment of every Java test. AddressSanitizer works so,
# with leak checking off (the JVM keeps its memory to exit) and the SIGSEGV handler left to the JVM,
# which uses the signal for its own null checks. The thread sanitizer cannot run a JVM at all.
set(PW_JAVA_SANITIZER_ENV "")
if(SANITIZE STREQUAL "address")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE _asan OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libubsan.so
                  OUTPUT_VARIABLE _ubsan OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(PW_JAVA_SANITIZER_ENV "LD_PRELOAD=${_asan}:${_ubsan}"
      "ASAN_OPTIONS=detect_leaks=0:handle_segv=0:allow_user_segv_handler=1:use_sigaltstack=0")
endif()

# Tests that start threads carry the label "threaded"; the thread-sanitizer pass runs only those.
# REALTIME: the tests measure audio a sound server plays in real time, so they run alone
# (RUN_SERIAL): beside a full machine's other tests their streams would underrun.
function(pw_add_gtest target)
  cmake_parse_arguments(ARG "THREADED;REALTIME" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main Threads::Threads)
  pw_warnings(${target})
  set(properties "")
  if(ARG_THREADED)
    list(APPEND properties LABELS threaded)
  endif()
  if(ARG_REALTIME)
    list(APPEND properties RUN_SERIAL TRUE)
  endif()
  if(properties)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
