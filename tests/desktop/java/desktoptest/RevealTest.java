package desktoptest;

import static harness.Check.equal;
import static harness.Check.isTrue;
import static harness.Check.test;

import com.tarvenkolm.sablethorn.Sablethorn;
import harness.Check;
import java.io.File;
import java.net.URI;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * RevealInFinder on a private session bus. mode=service: a stand-in FileManager1 service records
 * every call in log=PATH. mode=slow: the same stand-in, answering each call only after 30 s.
 * mode=crash: the stand-in leaves the bus on its first call without answering, and the folder's
 * default handler is the recorder of mode=fallback. mode=late_crash: the same, but the stand-in
 * leaves 800 ms after taking the call.
 * mode=fallback: no such service; the folder's default handler (a
 * recorder script) writes the URI it was started with to log=PATH. Files are made in dir=DIR,
 * which is also the working directory, so relative paths resolve there.
 */
public final class RevealTest {
    public static void main(String[] args) throws Exception {
        String mode = "";
        File log = null;
        File folderArg = null;
        for (String arg : args) {
            if (arg.startsWith("mode=")) mode = arg.substring(5);
            if (arg.startsWith("log=")) log = new File(arg.substring(4));
            if (arg.startsWith("dir=")) folderArg = new File(arg.substring(4));
        }
        System.loadLibrary("Sablethorn");
        final File dir = folderArg;
        File plain = new File(dir, "plain.txt");
        File folder = new File(dir, "plain-folder");
        File spaced = new File(dir, "a folder with spaces");
        File spacedFile = new File(spaced, "file one.txt");
        File unicode = new File(dir, "Z\u00f6e \u00c5ngstr\u00f6m \uD83C\uDFA7.txt");
        folder.mkdirs();
        spaced.mkdirs();
        for (File f : new File[] {plain, spacedFile, unicode}) Files.write(f.toPath(), new byte[] {1});
        final File logFile = log;

        if (mode.equals("service")) {
            Object[][] cases = {
                {"a file", plain.getAbsolutePath(), "ShowItems", plain},
                {"a folder", folder.getAbsolutePath(), "ShowFolders", folder},
                {"a file in a folder with spaces", spacedFile.getAbsolutePath(), "ShowItems", spacedFile},
                {"a folder with spaces", spaced.getAbsolutePath(), "ShowFolders", spaced},
                {"a relative path", "plain.txt", "ShowItems", plain},
                {"a name beyond the basic plane", unicode.getAbsolutePath(), "ShowItems", unicode},
            };
            for (Object[] c : cases) {
                test("file manager shows " + c[0], () -> {
                    logFile.delete();
                    Sablethorn.RevealInFinder((String) c[1]);
                    List<String> lines = read(logFile);
                    equal(1, lines.size(), "calls " + lines);
                    if (lines.size() != 1) return;
                    String[] call = lines.get(0).split(" ", 2);
                    equal(c[2], call[0], "method");
                    expectUri(call[1], (File) c[3]);
                });
            }
            test("nothing for a missing path, an empty one or null", () -> {
                logFile.delete();
                Sablethorn.RevealInFinder(new File(dir, "no such file").getAbsolutePath());
                Sablethorn.RevealInFinder("");
                Sablethorn.RevealInFinder(null);
                equal(0, read(logFile).size(), "calls " + read(logFile));
            });
        } else if (mode.equals("slow")) {
            // The file manager takes each call at once but answers only after 30 s.
            test("a file manager that does not answer holds no caller", () -> {
                logFile.delete();
                for (File f : new File[] {plain, folder}) {
                    long start = System.nanoTime();
                    Sablethorn.RevealInFinder(f.getAbsolutePath());
                    long ms = (System.nanoTime() - start) / 1_000_000;
                    System.out.println("reveal of " + f.getName() + " returned after " + ms + " ms");
                    isTrue(ms < 1000, "returned after " + ms + " ms");
                }
                List<String> lines = read(logFile);
                for (int i = 0; i < 200 && lines.size() < 2; i++) {
                    Thread.sleep(10);
                    lines = read(logFile);
                }
                equal(2, lines.size(), "calls " + lines);
                if (lines.size() != 2) return;
                equal("ShowItems", lines.get(0).split(" ", 2)[0], "method for the file");
                expectUri(lines.get(0).split(" ", 2)[1], plain);
                equal("ShowFolders", lines.get(1).split(" ", 2)[0], "method for the folder");
                expectUri(lines.get(1).split(" ", 2)[1], folder);
            });
        } else if (mode.equals("crash") || mode.equals("late_crash")) {
            test("a file manager that crashes on the call: the folder opens with its default handler", () -> {
                logFile.delete();
                long start = System.nanoTime();
                Sablethorn.RevealInFinder(spacedFile.getAbsolutePath());
                long ms = (System.nanoTime() - start) / 1_000_000;
                System.out.println("reveal returned after " + ms + " ms");
                isTrue(ms < 1000, "returned after " + ms + " ms");
                List<String> lines = read(logFile);
                for (int i = 0; i < 500 && lines.size() < 2; i++) {
                    Thread.sleep(10);
                    lines = read(logFile);
                }
                equal(2, lines.size(), "the call, then the handler " + lines);
                if (lines.size() != 2) return;
                equal("ShowItems", lines.get(0).split(" ", 2)[0], "the file manager's call");
                String opened = lines.get(1);
                equal(spaced.getAbsolutePath(), opened.startsWith("/") ? opened : new URI(opened).getPath(), "folder opened");
            });
        } else {
            test("without a file manager the folder opens with its default handler", () -> {
                logFile.delete();
                Sablethorn.RevealInFinder(spacedFile.getAbsolutePath());  // its folder
                Sablethorn.RevealInFinder(folder.getAbsolutePath());      // the folder itself
                Sablethorn.RevealInFinder(new File(dir, "no such file").getAbsolutePath());
                // The handler starts asynchronously.
                List<String> lines = new ArrayList<>();
                for (int i = 0; i < 500 && lines.size() < 2; i++) {
                    Thread.sleep(10);
                    lines = read(logFile);
                }
                Thread.sleep(200);  // and nothing more arrives
                lines = read(logFile);
                equal(2, lines.size(), "handler starts " + lines);
                if (lines.size() != 2) return;
                Collections.sort(lines);
                List<String> paths = new ArrayList<>();
                // The handler takes URIs (%u); GIO hands local files over as plain paths.
                for (String line : lines) paths.add(line.startsWith("/") ? line : new URI(line).getPath());
                List<String> expected = new ArrayList<>(List.of(spaced.getAbsolutePath(), folder.getAbsolutePath()));
                Collections.sort(expected);
                Collections.sort(paths);
                equal(expected, paths, "folders opened");
            });
        }
        Check.finish();
    }

    private static void expectUri(String uri, File file) throws Exception {
        isTrue(uri.startsWith("file:///"), "a file URI: " + uri);
        isTrue(!uri.contains(" "), "spaces escaped: " + uri);
        equal(file.getAbsolutePath(), new URI(uri).getPath(), "path of " + uri);
    }

    private static List<String> read(File f) throws Exception {
        if (f == null || !f.exists()) return new ArrayList<>();
        List<String> lines = new ArrayList<>();
        for (String line : Files.readAllLines(f.toPath(), StandardCharsets.UTF_8)) {
            if (!line.isEmpty()) lines.add(line);
        }
        return lines;
    }

}
