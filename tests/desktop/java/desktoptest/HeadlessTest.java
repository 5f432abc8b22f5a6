package desktoptest;

import static harness.Check.equal;
import static harness.Check.isTrue;
import static harness.Check.test;

import com.tarvenkolm.sablethorn.Sablethorn;
import harness.Check;
import java.awt.GraphicsEnvironment;

/**
 * The exports in a JVM that cannot show windows (headless, or no display at all): window calls
 * return and change nothing, the state kept in the process still answers, null arguments are
 * ignored. Run with -Djava.awt.headless=true and again without DISPLAY.
 */
public final class HeadlessTest {
    public static void main(String[] args) {
        System.loadLibrary("Sablethorn");
        test("the JVM is headless", () -> isTrue(GraphicsEnvironment.isHeadless(), "headless"));
        test("window calls do nothing", () -> {
            Sablethorn.SetFrameBoundsAnimated(10, 10, 800, 600);
            Sablethorn.SetFrameSizeAnimated(800, 600, true);
            Sablethorn.SetFrameSizeAnimated(800, 600, false);
            Sablethorn.ShowFullscreen(true);
            equal(false, Sablethorn.isDockHidden(), "no full screen, so the UI mode is unchanged");
            Sablethorn.ShowFullscreen(false);
            Sablethorn.ShowFullscreen(false);
        });
        test("menu bar state kept in the process", () -> {
            equal(0, Sablethorn.HideDock(true), "HideDock(true)");
            equal(true, Sablethorn.isDockHidden(), "hidden");
            equal(0, Sablethorn.HideDock(false), "HideDock(false)");
            equal(false, Sablethorn.isDockHidden(), "shown");
        });
        test("system UI modes that hide the menu bar", () -> {
            int[][] modes = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 1}, {4, 0, 1}, {4, 7, 1}, {0, 3, 0}, {-1, -1, 0}};
            for (int[] m : modes) {
                Sablethorn.SetSystemUIMode(m[0], m[1]);
                equal(m[2] == 1, Sablethorn.isDockHidden(), "mode " + m[0] + " options " + m[1]);
            }
            Sablethorn.SetSystemUIMode(0, 0);
            Sablethorn.HideDock(true);
            Sablethorn.SetSystemUIMode(4, 0);
            Sablethorn.SetSystemUIMode(0, 0);
            equal(true, Sablethorn.isDockHidden(), "HideDock still holds after a mode change");
            Sablethorn.HideDock(false);
        });
        test("null and empty paths, the feed and the GUID entry", () -> {
            Sablethorn.RevealInFinder(null);
            Sablethorn.RevealInFinder("");
            Sablethorn.ParseXML();
            System.out.println();
            Sablethorn.CreateGUID();
            isTrue(Sablethorn.GetCurrentFullUserName() != null, "a user name");
        });
        Check.finish();
    }
}
