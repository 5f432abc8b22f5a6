package harness;

import java.util.Objects;

/**
 * A tiny assertion helper for the Java tests (no JUnit here): each test prints one line, PASS or
 * FAIL with what differed, and finish() exits non-zero when anything failed. A passing run returns
 * normally, so the JVM's own shutdown (and the libraries' teardown) is part of every test.
 */
public final class Check {
    private static int failures;
    private static int passes;
    private static String current = "?";

    private Check() {}

    public interface Body {
        void run() throws Exception;
    }

    /** Runs one named test; an exception or a failed expectation fails it. */
    public static void test(String name, Body body) {
        current = name;
        int before = failures;
        try {
            body.run();
        } catch (Throwable t) {
            fail("threw " + t);
        }
        if (failures == before) {
            passes++;
            System.out.println("PASS " + name);
        }
    }

    public static void fail(String what) {
        failures++;
        System.out.println("FAIL " + current + ": " + what);
    }

    public static void equal(Object expected, Object actual, String what) {
        if (!Objects.equals(expected, actual)) fail(what + ": expected <" + expected + "> but was <" + actual + ">");
    }

    public static void isTrue(boolean condition, String what) {
        if (!condition) fail(what);
    }

    /** Expects the body to throw NullPointerException with the message "(in C++ code)"; returns the body's result. */
    public static long throwsNpe(java.util.concurrent.Callable<Long> body, String what) {
        try {
            long r = body.call();
            fail(what + ": no NullPointerException (returned " + r + ")");
            return r;
        } catch (NullPointerException e) {
            equal("(in C++ code)", e.getMessage(), what + ": exception message");
            return -4;
        } catch (Exception e) {
            fail(what + ": threw " + e);
            return 0;
        }
    }

    public static void finish() {
        System.out.println(passes + " passed, " + failures + " failed");
        if (failures > 0) System.exit(1);
    }
}
