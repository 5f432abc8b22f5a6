package desktoptest;

import static harness.Check.equal;
import static harness.Check.test;

import com.tarvenkolm.sablethorn.Sablethorn;
import harness.Check;
import java.nio.charset.StandardCharsets;

/**
 * GetCurrentFullUserName against a password entry the test wrote (nss_wrapper). Argument
 * expect=HEX: the UTF-8 bytes of the name Java should receive.
 */
public final class UserNameTest {
    public static void main(String[] args) {
        String expected = null;
        for (String arg : args) {
            if (arg.startsWith("expect=")) expected = fromHex(arg.substring(7));
        }
        System.loadLibrary("Sablethorn");
        final String name = expected;
        test("full name " + escaped(name), () -> equal(escaped(name), escaped(Sablethorn.GetCurrentFullUserName()), "name"));
        Check.finish();
    }

    private static String fromHex(String hex) {
        byte[] bytes = new byte[hex.length() / 2];
        for (int i = 0; i < bytes.length; i++) bytes[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        return new String(bytes, StandardCharsets.UTF_8);
    }

    /** The string with every non-ASCII UTF-16 unit spelled out, so logs stay readable in any locale. */
    private static String escaped(String s) {
        if (s == null) return "null";
        StringBuilder b = new StringBuilder();
        for (char c : s.toCharArray()) {
            if (c >= 0x20 && c < 0x7f) b.append(c);
            else b.append(String.format("\\u%04x", (int) c));
        }
        return b.toString();
    }
}
