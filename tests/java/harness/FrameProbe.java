package harness;

/** Natives of the frame probe library (tests/java/native/FrameProbe.cpp). */
public final class FrameProbe {
    static {
        System.loadLibrary("PellwardenFrameProbe");
    }

    private FrameProbe() {}

    public static native long outBuffer(Object buffer, int count, int values);
    public static native long takeCancelWord(Object buffer);
    public static native long directBytes(Object buffer);
    public static native byte[] byteArrayForm(byte[] array);
    public static native long utf16Form(String string, char[] out);
    public static native long utf8Form(String string, byte[] out);
    public static native String javaString(byte[] bytes);
    public static native boolean exported(String library, String symbol);
    public static native long callWithNullString(String library, String symbol, Throwable[] thrown);
    public static native long attachFromNativeThread(String className, String method, int deck);
    public static native long acquireOnJavaThread();

    public static final long GOT_ENV = 1, FOUND_CLASS = 2, FOUND_METHOD = 4, NO_PENDING = 8, CALLED = 16,
                             DETACHED = 32;
}
