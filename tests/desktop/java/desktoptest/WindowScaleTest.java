package desktoptest;

import static harness.Check.equal;
import static harness.Check.isTrue;
import static harness.Check.test;

import com.tarvenkolm.sablethorn.Sablethorn;
import harness.Check;
import java.awt.EventQueue;
import java.awt.Frame;
import java.awt.Panel;
import java.awt.Point;
import java.awt.Rectangle;

/**
 * The window exports in Java's units, run with -Dsun.java2d.uiScale=1 and =2: sizes asked from
 * Java are what Java sees afterwards, the position Java reports after a move is the server's, and
 * a frame larger than its monitor is fitted to it promptly. The server's view (xwininfo, xprop) is
 * in pixels, Java's in its own units.
 *
 * Arguments: scale=N (the JVM's uiScale), home=x,y,w,h (a non-primary monitor, where the window
 * starts) and primary=x,y,w,h, in pixels.
 */
public final class WindowScaleTest {
    private static final String TITLE = "Sablethorn scale test";

    private static Frame frame;
    private static Panel content;

    public static void main(String[] args) throws Exception {
        int parsedScale = 1;
        Rectangle home = null;
        Rectangle primary = null;
        for (String arg : args) {
            if (arg.startsWith("scale=")) parsedScale = Integer.parseInt(arg.substring(6));
            if (arg.startsWith("home=")) home = ServerView.rect(arg.substring(5));
            if (arg.startsWith("primary=")) primary = ServerView.rect(arg.substring(8));
        }
        System.loadLibrary("Sablethorn");
        final int scale = parsedScale;
        final Rectangle homeMonitor = home;
        final Rectangle primaryMonitor = primary;

        EventQueue.invokeAndWait(() -> {
            frame = new Frame(TITLE);
            content = new Panel();
            frame.add(content);
            frame.setBounds((homeMonitor.x + 60) / scale, (homeMonitor.y + 90) / scale, 300, 200);
            frame.setVisible(true);
            frame.toFront();
        });
        waitFor("the frame is decorated and active", () -> frame.isShowing() && frame.isActive()
                && !frameOnScreen().equals(contentOnScreen()));
        test("the JVM runs at the scale asked", () -> equal((double) scale,
                frame.getGraphicsConfiguration().getDefaultTransform().getScaleX(), "scale"));

        int[][] sizes = {{500, 320}, {260, 180}};
        for (int[] s : sizes) {
            test("SetFrameBoundsAnimated " + s[0] + "x" + s[1] + " is that size in Java's units", () -> {
                Rectangle before = contentOnScreen();
                Sablethorn.SetFrameBoundsAnimated(0, 0, s[0], s[1]);
                Rectangle pixels = new Rectangle(before.x, before.y, s[0] * scale, s[1] * scale);
                waitFor("content at " + pixels, () -> contentOnScreen().equals(pixels));
                equal(pixels, contentOnScreen(), "content on the server, top-left kept");
                waitFor("Java sees the size", () -> content.getSize().equals(new java.awt.Dimension(s[0], s[1])));
                equal(new java.awt.Dimension(s[0], s[1]), content.getSize(), "content in Java's units");
            });
        }

        test("after a move Java reports the window where the server has it", () -> {
            Sablethorn.SetFrameSizeAnimated(340, 260, false);
            // The whole frame in the primary monitor's lower-left corner.
            Rectangle expected = new Rectangle(primaryMonitor.x, primaryMonitor.y + primaryMonitor.height
                                               - 260 * scale, 340 * scale, 260 * scale);
            waitFor("frame at " + expected, () -> frameOnScreen().equals(expected));
            equal(expected, frameOnScreen(), "frame on the server");
            Rectangle server = contentOnScreen();
            Point serverUnits = new Point(server.x / scale, server.y / scale);
            waitFor("Java's position", () -> content.getLocationOnScreen().equals(serverUnits));
            equal(serverUnits, content.getLocationOnScreen(), "content's location, Java's view");
            Point frameAt = frame.getLocation();
            java.awt.Insets in = frame.getInsets();
            equal(serverUnits, new Point(frameAt.x + in.left, frameAt.y + in.top), "frame bounds + insets");
        });

        test("a frame larger than its monitor is fitted to it, promptly", () -> {
            Sablethorn.SetFrameSizeAnimated(300, 200, true);  // somewhere on the primary monitor
            long start = System.nanoTime();
            Sablethorn.SetFrameBoundsAnimated(0, 0, 4000, 3000);
            long ms = (System.nanoTime() - start) / 1_000_000;
            System.out.println("4000x3000 on a " + primaryMonitor.width + "x" + primaryMonitor.height
                               + " monitor: " + ms + " ms");
            isTrue(ms < 1000, "the call returned in " + ms + " ms");
            waitFor("frame on the monitor", () -> frameOnScreen().equals(primaryMonitor));
            equal(primaryMonitor, frameOnScreen(), "frame fills the monitor's work area");

            start = System.nanoTime();
            Sablethorn.SetFrameSizeAnimated(4000, 3000, false);
            ms = (System.nanoTime() - start) / 1_000_000;
            isTrue(ms < 1000, "the corner move returned in " + ms + " ms");
            equal(primaryMonitor, frameOnScreen(), "still the work area");
        });

        EventQueue.invokeAndWait(frame::dispose);
        Check.finish();
        System.exit(0);  // AWT threads would keep the JVM alive
    }

    private static Rectangle contentOnScreen() throws Exception {
        return ServerView.client(TITLE);
    }

    private static Rectangle frameOnScreen() throws Exception {
        return ServerView.frame(TITLE);
    }

    private static void waitFor(String what, ServerView.Condition condition) throws Exception {
        ServerView.waitFor(what, condition);
    }
}
