package desktoptest;

import static harness.Check.equal;
import static harness.Check.fail;
import static harness.Check.isTrue;
import static harness.Check.test;

import com.tarvenkolm.sablethorn.Sablethorn;
import harness.Check;
import java.awt.Color;
import java.awt.EventQueue;
import java.awt.Frame;
import java.awt.Panel;
import java.awt.Rectangle;
import java.awt.Robot;
import java.awt.event.ComponentAdapter;
import java.awt.event.ComponentEvent;
import java.awt.image.BufferedImage;
import java.io.File;
import java.util.ArrayList;
import java.util.List;
import javax.imageio.ImageIO;

/**
 * The window exports on a real X server with a window manager: a Frame whose content is one
 * coloured panel is resized, moved to a corner and switched to full screen. Results are read back
 * from the X server with xwininfo and xprop (AWT's own idea of a frame's location can lag behind
 * moves it did not make) and from the screen's pixels; AWT reports the sizes the content passed
 * through.
 *
 * Arguments: primary=x,y,w,h other=x,y,w,h shot=PATH, the two monitors the test's X server has
 * (the primary is not the leftmost one) and where to write the full-screen screenshot.
 */
public final class WindowTest {
    private static final String TITLE = "Sablethorn window test";
    private static final Color FILL = new Color(0x20, 0xA0, 0x60);

    private static Frame frame;
    private static Panel content;
    private static final List<Rectangle> contentSizes = new ArrayList<>();

    public static void main(String[] args) throws Exception {
        Rectangle primary = null;
        Rectangle other = null;
        File shot = null;
        for (String arg : args) {
            if (arg.startsWith("primary=")) primary = ServerView.rect(arg.substring(8));
            if (arg.startsWith("other=")) other = ServerView.rect(arg.substring(6));
            if (arg.startsWith("shot=")) shot = new File(arg.substring(5));
        }
        System.loadLibrary("Sablethorn");
        final Rectangle primaryMonitor = primary;
        final Rectangle otherMonitor = other;
        final File shotFile = shot;

        test("no window yet: calls return and change nothing", () -> {
            Sablethorn.SetFrameBoundsAnimated(0, 0, 300, 200);
            Sablethorn.ShowFullscreen(true);
            Sablethorn.ShowFullscreen(false);
            equal(false, Sablethorn.isDockHidden(), "no full screen happened, so no UI mode change");
        });

        EventQueue.invokeAndWait(() -> {
            frame = new Frame(TITLE);
            content = new Panel();
            content.setBackground(FILL);
            frame.add(content);
            content.addComponentListener(new ComponentAdapter() {
                @Override
                public void componentResized(ComponentEvent e) {
                    synchronized (contentSizes) {
                        contentSizes.add(new Rectangle(content.getSize()));
                    }
                }
            });
            frame.setBounds(primaryMonitor.x + 60, primaryMonitor.y + 90, 420, 330);
            frame.setVisible(true);
            frame.toFront();
        });
        waitFor("the frame is decorated and active", () -> frame.isShowing() && frame.isActive()
                && !frameOnScreen().equals(contentOnScreen()));

        test("content size kept at the top edge, shrinking (SetFrameBoundsAnimated)", () -> {
            Rectangle before = contentOnScreen();
            clearSizes();
            Sablethorn.SetFrameBoundsAnimated(999, 999, 300, 200);
            expectContent(new Rectangle(before.x, before.y, 300, 200));
            isTrue(distinctSizes() >= 3, "the resize went through intermediate sizes: " + sizes());
        });
        test("content size kept at the top edge, growing (SetFrameSizeAnimated keepTop)", () -> {
            Rectangle before = contentOnScreen();
            clearSizes();
            Sablethorn.SetFrameSizeAnimated(520, 430, true);
            expectContent(new Rectangle(before.x, before.y, 520, 430));
            isTrue(distinctSizes() >= 3, "the resize went through intermediate sizes: " + sizes());
        });
        test("frame size in the primary monitor's lower-left corner (keepTop false)", () -> {
            Sablethorn.SetFrameSizeAnimated(500, 400, false);
            Rectangle expected = new Rectangle(primaryMonitor.x, primaryMonitor.y + primaryMonitor.height - 400,
                                               500, 400);
            waitFor("frame at " + expected, () -> frameOnScreen().equals(expected));
            equal(expected, frameOnScreen(), "frame, decorations included");
        });

        // Full screen from a known place on the primary monitor.
        Rectangle start = new Rectangle(primaryMonitor.x + 40, primaryMonitor.y + 70, 360, 280);
        test("full screen on the primary monitor and back", () -> {
            placeContent(start);
            Sablethorn.ShowFullscreen(true);
            waitFor("full screen", () -> frameOnScreen().equals(primaryMonitor));
            equal(primaryMonitor, contentOnScreen(), "content covers the primary monitor");
            equal(primaryMonitor, frameOnScreen(), "no decorations around it");
            isTrue(xpropState().contains("_NET_WM_STATE_FULLSCREEN"), "xprop: " + xpropState());
            equal(true, Sablethorn.isDockHidden(), "everything suppressed on the primary monitor");
            if (shotFile != null) screenshot(primaryMonitor, shotFile);

            // A second switch keeps the first save: leaving returns to the window before both.
            Sablethorn.ShowFullscreen(true);
            Sablethorn.ShowFullscreen(false);
            expectContent(start);
            isTrue(!xpropState().contains("_NET_WM_STATE_FULLSCREEN"), "xprop after: " + xpropState());
            isTrue(!frameOnScreen().equals(contentOnScreen()), "decorations are back");
            equal(false, Sablethorn.isDockHidden(), "UI mode as before");

            // Leaving again without a save does nothing.
            Sablethorn.ShowFullscreen(false);
            expectContent(start);
        });
        test("the UI mode set by the application comes back after full screen", () -> {
            Sablethorn.SetSystemUIMode(3, 0);
            equal(true, Sablethorn.isDockHidden(), "all hidden");
            Sablethorn.ShowFullscreen(true);
            Sablethorn.SetSystemUIMode(0, 0);
            Sablethorn.ShowFullscreen(false);
            equal(true, Sablethorn.isDockHidden(), "all hidden again after leaving full screen");
            Sablethorn.SetSystemUIMode(0, 0);
            equal(false, Sablethorn.isDockHidden(), "normal mode");
            expectContent(start);
        });
        test("full screen on the other monitor leaves the UI mode alone", () -> {
            Rectangle there = new Rectangle(otherMonitor.x + 80, otherMonitor.y + 60, 400, 300);
            placeContent(there);
            Sablethorn.ShowFullscreen(true);
            waitFor("full screen", () -> contentOnScreen().equals(otherMonitor));
            equal(otherMonitor, contentOnScreen(), "content covers the other monitor");
            isTrue(xpropState().contains("_NET_WM_STATE_FULLSCREEN"), "xprop: " + xpropState());
            equal(false, Sablethorn.isDockHidden(), "UI mode untouched");
            Sablethorn.ShowFullscreen(false);
            expectContent(there);
        });
        test("iconified window comes back for a resize", () -> {
            Rectangle before = contentOnScreen();
            EventQueue.invokeAndWait(() -> frame.setExtendedState(Frame.ICONIFIED));
            waitFor("iconified", () -> (frame.getExtendedState() & Frame.ICONIFIED) != 0 && !frame.isActive());
            Sablethorn.SetFrameSizeAnimated(330, 250, true);
            waitFor("de-iconified", () -> (frame.getExtendedState() & Frame.ICONIFIED) == 0);
            expectContent(new Rectangle(before.x, before.y, 330, 250));
        });

        EventQueue.invokeAndWait(frame::dispose);
        test("disposed window: calls return", () -> {
            Sablethorn.SetFrameBoundsAnimated(0, 0, 300, 200);
            Sablethorn.ShowFullscreen(true);
            equal(false, Sablethorn.isDockHidden(), "nothing was made full screen");
        });
        Check.finish();
        System.exit(0);  // AWT threads would keep the JVM alive
    }

    /** The client area as the X server has it: the panel fills it. */
    private static Rectangle contentOnScreen() throws Exception {
        return ServerView.client(TITLE);
    }

    private static Rectangle frameOnScreen() throws Exception {
        return ServerView.frame(TITLE);
    }

    /** Places the frame so that its content is `target`, through AWT. */
    private static void placeContent(Rectangle target) throws Exception {
        EventQueue.invokeAndWait(() -> {
            java.awt.Insets in = frame.getInsets();
            frame.setBounds(target.x - in.left, target.y - in.top, target.width + in.left + in.right,
                            target.height + in.top + in.bottom);
        });
        waitFor("content at " + target, () -> contentOnScreen().equals(target));
    }

    private static void expectContent(Rectangle expected) throws Exception {
        waitFor("content at " + expected, () -> contentOnScreen().equals(expected));
        equal(expected, contentOnScreen(), "content on screen");
    }

    private static void clearSizes() {
        synchronized (contentSizes) {
            contentSizes.clear();
        }
    }

    private static String sizes() {
        synchronized (contentSizes) {
            return contentSizes.toString();
        }
    }

    private static long distinctSizes() {
        synchronized (contentSizes) {
            return contentSizes.stream().map(r -> r.width + "x" + r.height).distinct().count();
        }
    }

    private static String xpropState() throws Exception {
        return String.join(" ", ServerView.run("xprop", "-name", TITLE, "_NET_WM_STATE"));
    }

    /** Writes the monitor's pixels to `file` and checks that the window's colour fills it. */
    private static void screenshot(Rectangle monitor, File file) throws Exception {
        Robot robot = new Robot();
        robot.waitForIdle();
        BufferedImage image = robot.createScreenCapture(monitor);
        ImageIO.write(image, "png", file);
        System.out.println("screenshot of the full-screen window: " + file.getAbsolutePath());
        int[][] corners = {{0, 0}, {monitor.width - 1, 0}, {0, monitor.height - 1},
                           {monitor.width - 1, monitor.height - 1}, {monitor.width / 2, monitor.height / 2}};
        for (int[] c : corners) {
            int rgb = image.getRGB(c[0], c[1]) & 0xFFFFFF;
            if (rgb != (FILL.getRGB() & 0xFFFFFF)) {
                fail(String.format("pixel (%d,%d) is %06x, not the window's colour", c[0], c[1], rgb));
            }
        }
    }

    private static void waitFor(String what, ServerView.Condition condition) throws Exception {
        ServerView.waitFor(what, condition);
    }
}
