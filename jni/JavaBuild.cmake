# The JDK and the Java classes whose natives libPellwarden64 exports.
#
# javac -h writes one header per class with natives (model_PlayerNative.h ...) into
# ${CMAKE_BINARY_DIR}/jni-headers; the export sources include them, so every export is compiled
# against the prototype the Java declaration gives, and a mismatch in name or signature is a build
# error rather than an UnsatisfiedLinkError at run time.
#
# Included from src/ (the library) and tests/java/ (the Java tests); the second include finds the
# JDK again in its own directory scope and reuses the targets made by the first.
#
# Targets:
#   pw_java_classes  jar of the classes the libraries bind to (tests/java/model, com/tarvenkolm/model)
#   pw_java_headers  INTERFACE: the generated header folder and the JNI include folders
# Variables: PW_JAVA_CLASSES_JAR, Java_JAVA_EXECUTABLE, JNI_INCLUDE_DIRS, and PW_JAVA_RUNTIME, the
# command that runs the Java tests: the host's java, or the one a cross build's toolchain names.

# FindJNI of CMake 3.25 does not look in the JDK 17 folder, and JAVA_HOME is usually unset:
# the JDK is the one whose javac is on the path.
if(NOT JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
  find_program(JAVAC_EXE javac REQUIRED)
  file(REAL_PATH "${JAVAC_EXE}" _pw_javac)
  cmake_path(GET _pw_javac PARENT_PATH _pw_java_bin)
  cmake_path(GET _pw_java_bin PARENT_PATH JAVA_HOME)
endif()
find_package(Java 17 REQUIRED COMPONENTS Runtime Development)
find_package(JNI REQUIRED)
include(UseJava)

set(PW_JAVA_CLASSES_JAR ${CMAKE_BINARY_DIR}/java/pw_java_classes.jar)
if(NOT TARGET pw_java_classes)
  file(GLOB_RECURSE _pw_java_sources CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/tests/java/model/*.java
       ${PROJECT_SOURCE_DIR}/tests/java/com/tarvenkolm/model/*.java)
  add_jar(pw_java_classes
          SOURCES ${_pw_java_sources}
          OUTPUT_DIR ${CMAKE_BINARY_DIR}/java
          GENERATE_NATIVE_HEADERS pw_java_headers DESTINATION ${CMAKE_BINARY_DIR}/jni-headers)
endif()
if(NOT PW_JAVA_RUNTIME)
  set(PW_JAVA_RUNTIME ${Java_JAVA_EXECUTABLE})
endif()
