# Cross build for 32-bit Intel: the i686 compilers of the host against the i386 root that
# scripts/i386-sysroot.sh makes (PW_I386_ROOT, default build-i386/sysroot in the source folder).
# Java classes and JNI headers come from the host's JDK (the JNI types do not depend on the word
# size); the 32-bit programs the build makes run through the user-mode emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)

# CMake reads this file again for every compiler check (try_compile), each a project of its own
# that sees only the variables CMAKE_TRY_COMPILE_PLATFORM_VARIABLES names; the root must be among
# them. A check that falls back to the default points pkg-config's environment, which the main
# project shares, at that default, so a root kept anywhere else finds no packages. The default is
# therefore the main project's alone: a check that did not get the root uses none and fails loudly,
# also when the root is at the default place.
get_property(_pw_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT PW_I386_ROOT AND NOT _pw_in_try_compile)
  set(PW_I386_ROOT ${CMAKE_CURRENT_LIST_DIR}/../build-i386/sysroot)
endif()
get_filename_component(PW_I386_ROOT "${PW_I386_ROOT}" ABSOLUTE)
set(PW_I386_ROOT ${PW_I386_ROOT} CACHE PATH "The i386 root the 32-bit build uses")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PW_I386_ROOT)
set(CMAKE_SYSROOT ${PW_I386_ROOT})
set(CMAKE_FIND_ROOT_PATH ${PW_I386_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L ${PW_I386_ROOT})
# The root's libraries find their own dependencies at link time through it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${PW_I386_ROOT}/usr/lib/i386-linux-gnu")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${PW_I386_ROOT}/usr/lib/i386-linux-gnu")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${PW_I386_ROOT}/usr/lib/i386-linux-gnu")

set(ENV{PKG_CONFIG_SYSROOT_DIR} ${PW_I386_ROOT})
set(ENV{PKG_CONFIG_LIBDIR} "${PW_I386_ROOT}/usr/lib/i386-linux-gnu/pkgconfig:${PW_I386_ROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
# The Java VM the tests run in, interpreting only: its compilers' code patching is not reliable
# under the user-mode emulator (internal errors in relocation), and the engine is what is tested.
set(PW_JAVA_RUNTIME qemu-i386 -L ${PW_I386_ROOT} ${PW_I386_ROOT}/usr/lib/jvm/java-17-openjdk-i386/bin/java -Xint)
# The i386 JDK's JNI headers and libraries (nothing links them; FindJNI wants them all). Its
# headless build has no AWT library of its own name.
set(_pw_jdk ${PW_I386_ROOT}/usr/lib/jvm/java-17-openjdk-i386)
set(JAVA_INCLUDE_PATH ${_pw_jdk}/include CACHE PATH "")
set(JAVA_INCLUDE_PATH2 ${_pw_jdk}/include/linux CACHE PATH "")
set(JAVA_AWT_INCLUDE_PATH ${_pw_jdk}/include CACHE PATH "")
set(JAVA_JVM_LIBRARY ${_pw_jdk}/lib/server/libjvm.so CACHE FILEPATH "")
set(JAVA_AWT_LIBRARY ${_pw_jdk}/lib/libawt.so CACHE FILEPATH "")
# SSE2 arithmetic as in the 64-bit build (not the x87 unit), so that results agree bit for bit;
# every processor a Java 17 VM runs on has it.
# 64-bit file offsets everywhere (off_t, stat, fopen, ftello): a recording or a file past 2 GiB is
# written, sized and read as in the 64-bit build. Every object must agree, so it is set here for
# the whole build rather than per target.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -D_FILE_OFFSET_BITS=64")
