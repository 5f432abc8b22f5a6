package desktoptest;

import java.awt.Rectangle;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;

/**
 * A window as the X server has it, in pixels, read with xwininfo and xprop (AWT's own idea of a
 * window's place is what the tests check, so it cannot be the reference), and polling for the
 * window manager and AWT, which both work asynchronously.
 */
final class ServerView {
    private ServerView() {}

    /** The client area of the window named `title`. */
    /** A rectangle written "x,y,width,height". */
    static Rectangle rect(String text) {
        String[] v = text.split(",");
        return new Rectangle(Integer.parseInt(v[0]), Integer.parseInt(v[1]), Integer.parseInt(v[2]),
                             Integer.parseInt(v[3]));
    }

    static Rectangle client(String title) throws Exception {
        int[] v = new int[4];
        String[] keys = {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"};
        for (String line : run("xwininfo", "-name", title)) {
            for (int i = 0; i < keys.length; i++) {
                if (line.trim().startsWith(keys[i])) v[i] = Integer.parseInt(line.trim().substring(keys[i].length()).trim());
            }
        }
        return new Rectangle(v[0], v[1], v[2], v[3]);
    }

    /** The whole frame: the client area and the window manager's _NET_FRAME_EXTENTS around it. */
    static Rectangle frame(String title) throws Exception {
        Rectangle client = client(title);
        int[] e = new int[4];  // left, right, top, bottom
        for (String line : run("xprop", "-name", title, "_NET_FRAME_EXTENTS")) {
            int eq = line.indexOf('=');
            if (eq < 0) continue;
            String[] parts = line.substring(eq + 1).split(",");
            for (int i = 0; i < 4 && i < parts.length; i++) e[i] = Integer.parseInt(parts[i].trim());
        }
        return new Rectangle(client.x - e[0], client.y - e[2], client.width + e[0] + e[1], client.height + e[2] + e[3]);
    }

    static List<String> run(String... command) throws Exception {
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        List<String> lines = new ArrayList<>();
        try (BufferedReader r = new BufferedReader(new InputStreamReader(p.getInputStream(), StandardCharsets.UTF_8))) {
            for (String line; (line = r.readLine()) != null;) lines.add(line);
        }
        p.waitFor();
        return lines;
    }

    interface Condition {
        boolean holds() throws Exception;
    }

    /** Polls until the condition holds, 4 s at most; the caller then checks what it waited for. */
    static void waitFor(String what, Condition condition) throws Exception {
        for (int i = 0; i < 400; i++) {
            if (condition.holds()) return;
            Thread.sleep(10);
        }
        System.out.println("(still waiting for " + what + " after 4 s)");
    }
}
