package filechooser;

import static harness.Check.equal;
import static harness.Check.isTrue;
import static harness.Check.test;

import com.tarvenkolm.macfilechooser.Gravenlisk;
import harness.Check;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * Open and save panels on a private X server (with-xvfb.sh). The panel helper plays the script the
 * test writes to $GRAVENLISK_PANEL_SCRIPT before each panel (reporting the dialog's state, taking a
 * screenshot, choosing and pressing as a user would); one panel of each kind is driven from outside
 * with xdotool instead. Screenshots are written to <dir>/shots, and each one's path is printed.
 *
 * Argument "nodisplay" runs the panels in a second JVM without a display.
 */
public final class PanelsTest {
    static Path dir;
    static Path music;
    static Path script;
    static Path report;

    public static void main(String[] args) throws Exception {
        System.loadLibrary("Gravenlisk");
        if (args.length > 0 && args[0].equals("probe")) {
            probeWithoutDisplay();
            return;
        }
        dir = Path.of(args[0].substring("dir=".length()));
        script = Path.of(System.getenv("GRAVENLISK_PANEL_SCRIPT"));
        report = dir.resolve("report");
        prepare();

        test("save panel: title, name field and its label, the type popup in order", () -> {
            script("report " + report, "shot " + shot("save"), "popup 1", "name new mix.wav", "accept");
            String path = save("Save the mix", null, "Export as:", "mix.wav", music.toString(), true,
                               new String[] {"wav", "aiff"});
            equal(music.resolve("new mix.wav").toString(), path, "chosen path");
            equal("aiff", Gravenlisk.GetSelectedFileType(), "popup choice");
            Map<String, List<String>> state = report();
            equal("save", one(state, "kind"), "kind");
            equal("Save the mix", one(state, "title"), "title");
            equal("_Save", one(state, "accept"), "accept button without a prompt");
            equal(music.toString(), one(state, "folder"), "starts in the given folder");
            equal("mix.wav", one(state, "name"), "proposed name");
            equal("Export as:", one(state, "name-label"), "name field label");
            equal(List.of("wav", "aiff"), state.get("popup"), "popup entries in order");
            equal("wav", one(state, "popup-active"), "first entry selected at first");
            equal("1", one(state, "create-folders"), "can create folders");
        });

        test("a cancelled save panel answers null and keeps the popup's choice", () -> {
            script("popup 1", "cancel");
            equal(null, save("Save", "Keep", null, null, null, false, new String[] {"wav", "aiff"}), "cancelled");
            equal("aiff", Gravenlisk.GetSelectedFileType(), "choice kept");
        });

        test("a cancelled open panel answers null and clears the chosen type", () -> {
            script("cancel");
            String[] paths = open("Open", null, music.toString(), true, false, false, null);
            isTrue(paths == null, "null, not an empty array: " + Arrays.toString(paths));
            equal("", Gravenlisk.GetSelectedFileType(), "no type after an open panel");
        });

        test("open panel: title, prompt, folder, filters in order, several files", () -> {
            // Chosen last to first: the answer lists them in the panel's order.
            script("report " + report, "shot " + shot("open"), "select " + music.resolve("b.WAV"),
                   "add " + music.resolve("a.mp3"), "accept");
            String[] paths = Gravenlisk.OpenNativeFileDialog("Open tracks", "Load", "Ignored label", "ignored.name",
                    music.toString(), music.resolve("c.txt").toString(), true, false, true, false,
                    new String[] {"mp3", "wav"});
            equal(List.of(music.resolve("a.mp3").toString(), music.resolve("b.WAV").toString()),
                  paths == null ? null : List.of(paths), "chosen paths in order");
            Map<String, List<String>> state = report();
            equal("open", one(state, "kind"), "kind");
            equal("Open tracks", one(state, "title"), "title");
            equal("Load", one(state, "accept"), "prompt on the accept button");
            equal(music.toString(), one(state, "folder"), "starts in the given folder");
            equal("1", one(state, "multiple"), "multiple selection");
            equal(List.of("mp3, wav:*.[mM][pP]3,*.[wW][aA][vV]"), state.get("filter"), "one filter, types in order");
            isTrue(!state.containsKey("name-label") && !state.containsKey("name"), "no name field: " + state);
        });

        test("open panel for folders, without types: no filter", () -> {
            script("report " + report, "shot " + shot("open-folder"), "select " + music.resolve("sub"), "accept");
            String[] paths = open(null, null, music.toString(), false, true, false, new String[0]);
            equal(List.of(music.resolve("sub").toString()), paths == null ? null : List.of(paths), "folder chosen");
            Map<String, List<String>> state = report();
            equal("folder", one(state, "kind"), "folder chooser");
            equal("_Open", one(state, "accept"), "default accept button");
            equal("0", one(state, "multiple"), "single selection");
            equal(null, state.get("filter"), "no filter");
        });

        test("save panel whose first type is '*', or without types: no popup", () -> {
            int round = 0;
            for (String[] types : new String[][] {{"*", "wav"}, {}, null}) {
                script("report " + report, "shot " + shot("save-no-popup-" + round++), "name plain.txt", "accept");
                String path = save("Plain", null, null, null, music.toString(), false, types);
                equal(music.resolve("plain.txt").toString(), path, "chosen path");
                equal(null, report().get("popup"), "no popup for " + Arrays.toString(types));
                equal("", Gravenlisk.GetSelectedFileType(), "no type for " + Arrays.toString(types));
            }
        });

        test("texts and paths outside ASCII come back unchanged", () -> {
            Path odd = music.resolve("M\u00efx \ud83d\ude00 \u2713");
            Path track = odd.resolve("Tr\u00e4ck \u00df\ud83c\udfb5.mp3");
            script("report " + report, "shot " + shot("open-unicode"), "select " + track, "accept");
            String[] paths = open("\u00d6ffnen \ud83d\ude00", "W\u00e4hlen", odd.toString(), true, false, false, null);
            equal(List.of(track.toString()), paths == null ? null : List.of(paths), "open path");
            Map<String, List<String>> state = report();
            equal("\u00d6ffnen \ud83d\ude00", one(state, "title"), "title");
            equal("W\u00e4hlen", one(state, "accept"), "prompt");
            equal(odd.toString(), one(state, "folder"), "folder");

            String name = "\u00c4usgabe \ud83c\udfa7.wav";
            script("name " + name, "shot " + shot("save-unicode"), "accept");
            equal(odd.resolve(name).toString(), save("Sichern", null, null, null, odd.toString(), false, null),
                  "save path");
        });

        test("paths typed with xdotool into the real dialogs", () -> {
            script();
            Thread typist = typeInto("Type a path", music.resolve("c.txt").toString());
            String[] paths = open("Type a path", null, music.toString(), true, false, false, null);
            typist.join();
            equal(List.of(music.resolve("c.txt").toString()), paths == null ? null : List.of(paths), "open");

            typist = typeInto("Type a name", music.resolve("typed.wav").toString());
            String path = save("Type a name", null, null, "proposed.wav", music.toString(), false, null);
            typist.join();
            equal(music.resolve("typed.wav").toString(), path, "save");
        });

        test("without a display a panel answers as cancelled, with a line on stderr", () -> {
            ProcessBuilder child = new ProcessBuilder(Path.of(System.getProperty("java.home"), "bin", "java").toString(),
                    "-Xcheck:jni", "-Djava.library.path=" + System.getProperty("java.library.path"),
                    "-cp", System.getProperty("java.class.path"), PanelsTest.class.getName(), "probe");
            child.environment().remove("DISPLAY");
            child.environment().remove("WAYLAND_DISPLAY");
            child.redirectError(dir.resolve("probe.err").toFile()).redirectOutput(dir.resolve("probe.out").toFile());
            Process process = child.start();
            // A guard against a hang, not a measurement: the probe needs well under a second.
            if (!process.waitFor(120, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                Check.fail("the probe hung");
                return;
            }
            String out = Files.readString(dir.resolve("probe.out"));
            String err = Files.readString(dir.resolve("probe.err"));
            equal(0, process.exitValue(), "probe exit; stderr:\n" + err);
            equal("open=null save=null type=", out.strip(), "probe results");
            isTrue(err.contains("cannot open the display") && err.contains("counts as cancelled"), "stderr:\n" + err);
            isTrue(!err.contains("WARNING"), "no JNI warning:\n" + err);
        });

        Check.finish();
    }

    static void probeWithoutDisplay() {
        String[] paths = open("No display", null, null, true, false, false, null);
        String path = save("No display", null, null, "x.wav", null, false, new String[] {"wav"});
        System.out.println("open=" + (paths == null ? "null" : Arrays.toString(paths)) + " save=" + path + " type="
                + Gravenlisk.GetSelectedFileType());
    }

    static String[] open(String title, String prompt, String directory, boolean files, boolean folders,
                         boolean multiple, String[] types) {
        return Gravenlisk.OpenNativeFileDialog(title, prompt, null, null, directory, null, files, folders, multiple,
                                               false, types);
    }

    static String save(String title, String prompt, String label, String name, String directory,
                       boolean createFolders, String[] types) {
        return Gravenlisk.SaveNativeFileDialog(title, prompt, label, name, directory, null, true, false, false,
                                               createFolders, types);
    }

    /** Waits for the window titled exactly `title`, focuses it and types `text` and Return. */
    static Thread typeInto(String title, String text) {
        Thread thread = new Thread(() -> {
            try {
                String window = run("xdotool", "search", "--sync", "--name", "^" + title + "$").strip().split("\n")[0];
                run("xdotool", "windowfocus", "--sync", window);
                run("xdotool", "key", "--clearmodifiers", "ctrl+a");
                run("xdotool", "type", "--delay", "15", text);
                run("xdotool", "key", "Return");
            } catch (Exception e) {
                Check.fail("xdotool: " + e);
            }
        });
        thread.start();
        return thread;
    }

    static String run(String... command) throws Exception {
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (process.waitFor() != 0) throw new IllegalStateException(String.join(" ", command) + ": " + out);
        return out;
    }

    static void script(String... lines) throws Exception {
        Files.deleteIfExists(report);
        Files.writeString(script, String.join("\n", lines) + "\n", StandardCharsets.UTF_8);
    }

    static String shot(String name) {
        Path path = dir.resolve("shots").resolve(name + ".png");
        System.out.println("screenshot: " + path);
        return path.toString();
    }

    static Map<String, List<String>> report() throws Exception {
        Map<String, List<String>> state = new LinkedHashMap<>();
        if (!Files.exists(report)) return state;
        for (String line : Files.readAllLines(report, StandardCharsets.UTF_8)) {
            int eq = line.indexOf('=');
            state.computeIfAbsent(line.substring(0, eq), k -> new ArrayList<>()).add(line.substring(eq + 1));
        }
        return state;
    }

    static String one(Map<String, List<String>> state, String key) {
        List<String> values = state.get(key);
        return values == null || values.size() != 1 ? null : values.get(0);
    }

    /** A fresh folder of files to choose from. */
    static void prepare() throws Exception {
        if (Files.exists(dir)) {
            try (var walk = Files.walk(dir)) {
                walk.sorted(java.util.Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
            }
        }
        music = dir.resolve("music");
        Files.createDirectories(music.resolve("sub"));
        Files.createDirectories(dir.resolve("shots"));
        for (String name : new String[] {"a.mp3", "b.WAV", "c.txt"}) Files.createFile(music.resolve(name));
        Path odd = music.resolve("M\u00efx \ud83d\ude00 \u2713");
        Files.createDirectories(odd);
        Files.createFile(odd.resolve("Tr\u00e4ck \u00df\ud83c\udfb5.mp3"));
    }
}
