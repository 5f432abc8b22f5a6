package harness;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.IntBuffer;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.function.Supplier;
import model.PlayerNative;

/**
 * The JNI frame of the engine library, driven through the probe library: out-buffer rules with
 * null, heap, view and too-small buffers; the cancel word; the byte-array, UTF-16 and UTF-8 string
 * forms and the null rule; strings handed to Java from bytes that are not modified UTF-8; and a
 * native thread that attaches, calls Java and detaches.
 */
public final class FrameTest {
    private FrameTest() {}

    static ByteBuffer direct(int bytes) {
        return ByteBuffer.allocateDirect(bytes).order(ByteOrder.nativeOrder());
    }

    /** A buffer to hand over, and the bytes it writes into (null when nothing can be read back). */
    record BufferCase(String name, Supplier<Object[]> make, int count, int values, long expected) {}

    static Object[] pair(Object handed, ByteBuffer backing) {
        return new Object[] {handed, backing};
    }

    public static void main(String[] args) {
        BufferCase[] cases = {
            new BufferCase("4-byte buffer, count 1", () -> pair(direct(4), null), 1, 1, 1),
            new BufferCase("4-byte buffer, count 0: capacity 4 is not 1", () -> pair(direct(4), null), 0, 1, -4),
            new BufferCase("int view of 4 bytes, count 0", () -> { ByteBuffer b = direct(4); return pair(b.asIntBuffer(), b); }, 0, 1, 1),
            new BufferCase("int view of 8 bytes, count 0, one value", () -> { ByteBuffer b = direct(8); return pair(b.asIntBuffer(), b); }, 0, 1, -4),
            new BufferCase("int view of 8 bytes, count 0, two values", () -> { ByteBuffer b = direct(8); return pair(b.asIntBuffer(), b); }, 0, 2, 1),
            new BufferCase("float view of 8 bytes, count 2", () -> { ByteBuffer b = direct(8); return pair(b.asFloatBuffer(), b); }, 2, 2, 1),
            new BufferCase("long view of 8 bytes, count 2", () -> { ByteBuffer b = direct(8); return pair(b.asLongBuffer(), b); }, 2, 2, 1),
            new BufferCase("1-byte buffer, count 1: too small", () -> pair(direct(1), null), 1, 1, -4),
            new BufferCase("1-byte buffer, count 0: capacity 1 but too small", () -> pair(direct(1), null), 0, 1, -4),
            new BufferCase("4-byte buffer, count 2: too small for two", () -> pair(direct(4), null), 2, 2, -4),
            new BufferCase("short view of 4 bytes, capacity 2, two values", () -> { ByteBuffer b = direct(4); return pair(b.asShortBuffer(), b); }, 0, 2, -4),
            new BufferCase("heap buffer, count 1: no address", () -> pair(ByteBuffer.allocate(4), null), 1, 1, 0),
            new BufferCase("heap int buffer, count 0: no capacity", () -> pair(IntBuffer.allocate(1), null), 0, 1, -4),
            new BufferCase("null buffer, count 1: no address", () -> pair(null, null), 1, 1, 0),
            new BufferCase("null buffer, count 0: no capacity", () -> pair(null, null), 0, 1, -4),
        };
        for (BufferCase c : cases) {
            Check.test("out-buffer: " + c.name, () -> {
                Object[] made = c.make.get();
                Object handed = made[0];
                ByteBuffer bytes = made[1] != null ? (ByteBuffer) made[1] : (handed instanceof ByteBuffer b ? b : null);
                if (bytes != null && bytes.isDirect()) {
                    for (int i = 0; i < bytes.capacity(); i++) bytes.put(i, (byte) 0x5A);
                }
                long r = FrameProbe.outBuffer(handed, c.count, c.values);
                Check.equal(c.expected, r, "result");
                if (bytes == null || !bytes.isDirect()) return;
                ByteBuffer view = bytes.duplicate().order(ByteOrder.nativeOrder());
                if (r == 1) {
                    for (int i = 0; i < c.values; i++) Check.equal(1000 + i, view.getInt(4 * i), "value " + i);
                } else {
                    for (int i = 0; i < bytes.capacity(); i++) Check.equal((byte) 0x5A, bytes.get(i), "untouched byte " + i);
                }
            });
        }

        Check.test("direct buffer sizes in bytes", () -> {
            ByteBuffer b = direct(8);
            Check.equal(8L, FrameProbe.directBytes(b), "byte buffer");
            Check.equal(8L, FrameProbe.directBytes(b.asIntBuffer()), "int view");
            Check.equal(8L, FrameProbe.directBytes(b.asDoubleBuffer()), "double view");
            Check.equal(-1L, FrameProbe.directBytes(ByteBuffer.allocate(8)), "heap buffer");
            Check.equal(-1L, FrameProbe.directBytes(null), "null");
        });

        Check.test("cancel word", () -> {
            ByteBuffer b = direct(4);
            b.putInt(0, 1);
            Check.equal(1L, FrameProbe.takeCancelWord(b), "word read");
            Check.equal(0, b.getInt(0), "word reset");
            Check.equal(-1L, FrameProbe.takeCancelWord(null), "null buffer");
            Check.equal(-1L, FrameProbe.takeCancelWord(ByteBuffer.allocate(4)), "heap buffer");
            ByteBuffer small = direct(2);
            small.put(0, (byte) 1);
            Check.equal(-1L, FrameProbe.takeCancelWord(small), "2-byte buffer");
            Check.equal((byte) 1, small.get(0), "2-byte buffer untouched");
        });

        byte[][][] byteForms = {
            {null, {0}},
            {{}, {0}},
            {{'a', 'b'}, {'a', 'b', 0}},
            {{(byte) 0xFF, 'x', (byte) 0xC3}, {(byte) 0xFF, 'x', (byte) 0xC3, 0}},
            {{'a', 0, 'b'}, {'a', 0}},
        };
        for (byte[][] f : byteForms) {
            Check.test("byte-array form " + Arrays.toString(f[0]), () ->
                Check.equal(Arrays.toString(f[1]), Arrays.toString(FrameProbe.byteArrayForm(f[0])), "copy"));
        }

        String[] texts = {"", "abc", "h\u00e9llo", "\u20ac/\u00e4\u00f6", "track \uD83D\uDE00.mp3", "lone \uD800 surrogate"};
        for (String t : texts) {
            Check.test("UTF-16 form of \"" + t + "\"", () -> {
                char[] out = new char[t.length() + 1];
                Arrays.fill(out, 'Z');
                Check.equal((long) t.length(), FrameProbe.utf16Form(t, out), "units");
                Check.equal(t + "\0", new String(out), "units and terminator");
            });
        }
        String[][] utf8 = {
            {"", ""},
            {"abc", "616263"},
            {"\u00e9", "c3a9"},
            {"\u20ac", "e282ac"},
            {"\uD83D\uDE00", "f09f9880"},          // a pair becomes one 4-byte sequence
            {"a\uD83C\uDFB5b", "61f09f8eb562"},
            {"\uD800", "eda080"},                    // a lone surrogate stays as it is
            {"\u0000", "c080"},
        };
        for (String[] u : utf8) {
            Check.test("UTF-8 form of " + u[1], () -> {
                byte[] out = new byte[u[0].length() * 6 + 1];
                long n = FrameProbe.utf8Form(u[0], out);
                Check.equal((long) u[1].length() / 2, n, "bytes");
                Check.equal(u[1], hex(Arrays.copyOf(out, (int) n)), "bytes");
                Check.equal((byte) 0, out[(int) n], "terminator");
            });
        }
        Check.test("null string in the UTF-16 and UTF-8 forms", () -> {
            Check.throwsNpe(() -> FrameProbe.utf16Form(null, null), "UTF-16");
            Check.throwsNpe(() -> FrameProbe.utf8Form(null, null), "UTF-8");
        });

        Object[][] toJava = {
            {"616263", "abc"},
            {"c3a9", "\u00e9"},
            {"f09f9880", "\uD83D\uDE00"},
            {"ff61", "\uFFFDa"},
            {"e282", "\uFFFD\uFFFD"},
            {"80", "\uFFFD"},
            {"c0af", "\uFFFD\uFFFD"},
            {"eda080", "\uFFFD\uFFFD\uFFFD"},
            {"6162ff" + "63".repeat(600), "ab\uFFFD" + "c".repeat(600)},
        };
        for (Object[] j : toJava) {
            String name = ((String) j[0]).length() > 20 ? ((String) j[0]).substring(0, 20) + "..." : (String) j[0];
            Check.test("string to Java from " + name, () ->
                Check.equal(j[1], FrameProbe.javaString(unhex((String) j[0])), "text"));
        }
        Check.test("no text gives a null String", () -> Check.equal(null, FrameProbe.javaString(null), "text"));

        Check.test("native thread attaches, calls Java and detaches", () -> {
            long bits = FrameProbe.attachFromNativeThread("model/PlayerNative", "updateBeatList", 7);
            long all = FrameProbe.GOT_ENV | FrameProbe.FOUND_CLASS | FrameProbe.FOUND_METHOD | FrameProbe.NO_PENDING
                       | FrameProbe.CALLED | FrameProbe.DETACHED;
            Check.equal(all, bits, "steps");
            Check.equal(7, PlayerNative.lastBeatDeck, "deck");
            Check.isTrue(PlayerNative.lastBeatFinished, "finished");
            Check.equal(100.0, PlayerNative.lastBeatPercent, "percent");
        });
        Check.test("failed lookups on a native thread leave no exception pending", () -> {
            Check.equal(FrameProbe.GOT_ENV | FrameProbe.NO_PENDING | FrameProbe.DETACHED,
                        FrameProbe.attachFromNativeThread("no/such/Klass", "updateBeatList", 1), "missing class");
            Check.equal(FrameProbe.GOT_ENV | FrameProbe.FOUND_CLASS | FrameProbe.NO_PENDING | FrameProbe.DETACHED,
                        FrameProbe.attachFromNativeThread("model/PlayerNative", "noSuchMethod", 1), "missing method");
        });
        Check.test("a Java thread is never detached", () ->
            Check.equal(1L, FrameProbe.acquireOnJavaThread(), "same environment, still attached"));

        Check.finish();
    }

    static String hex(byte[] b) {
        StringBuilder s = new StringBuilder();
        for (byte x : b) s.append(String.format("%02x", x & 0xFF));
        return s.toString();
    }

    static byte[] unhex(String s) {
        byte[] b = new byte[s.length() / 2];
        for (int i = 0; i < b.length; i++) b[i] = (byte) Integer.parseInt(s.substring(2 * i, 2 * i + 2), 16);
        return b;
    }

    static String utf8(String s) {
        return hex(s.getBytes(StandardCharsets.UTF_8));
    }
}
