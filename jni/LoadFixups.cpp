// What loading the library must not change on the Java thread that loads it.
//
// A dependency built with fast-math (the distribution's time-stretch library is) sets the
// flush-to-zero and denormals-are-zero bits of MXCSR from its load-time constructor, on whichever
// thread runs dlopen: here the Java thread inside System.loadLibrary. Java code on that thread
// would then lose its denormal results (Double.MIN_VALUE * 1.0 becomes 0), and -Xcheck:jni reports
// "MXCSR changed by native JNI code". Our own constructors run after those of every dependency, on
// the same thread, so this one puts the two bits back to what the JVM runs with. Threads the engine
// starts later set their own floating-point mode where they want one.
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>

namespace {

constexpr unsigned int kFlushToZero = 0x8000;
constexpr unsigned int kDenormalsAreZero = 0x0040;

__attribute__((constructor)) void restoreJavaFloatingPointMode() {
    _mm_setcsr(_mm_getcsr() & ~(kFlushToZero | kDenormalsAreZero));
}

}  // namespace
#endif
