package filechooser;

import static harness.Check.equal;
import static harness.Check.isTrue;
import static harness.Check.test;

import com.tarvenkolm.macfilechooser.Gravenlisk;
import harness.Check;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;

/**
 * Default handlers against test desktop files. The run's environment points every XDG folder into
 * root=<dir> (see tests/filechooser/CMakeLists.txt); this test fills it before the library's first
 * call: the applications, and the system's MIME database linked in so that extensions have types.
 */
public final class HandlersTest {
    static final String PLAYER = "org.pellwarden.Player";
    static final String OTHER = "org.pellwarden.Other";
    static final String SPIELER = "org.pellw\u00e4rden.Spieler\u00df";

    static Path root;

    public static void main(String[] args) throws Exception {
        root = Path.of(args[0].substring("root=".length()));
        prepare();
        System.loadLibrary("Gravenlisk");

        test("known types have their applications before any default is set", () -> {
            isTrue(Gravenlisk.IsFileTypeHandled("mp3"), "mp3 handled");
            List<String> all = list(Gravenlisk.GetAllHandlersForFileType("mp3"));
            isTrue(all.contains(PLAYER) && all.contains(OTHER), "both mp3 applications listed: " + all);
            isTrue(!Gravenlisk.IsFileTypeHandled("pdf"), "a type no test application takes");
            equal(null, Gravenlisk.GetAllHandlersForFileType("pdf"), "no list for it");
        });

        test("set and query the default of a file type, any letter case", () -> {
            equal(0, Gravenlisk.SetDefaultFileTypeHandler("mp3", OTHER), "set");
            isTrue(Gravenlisk.IsApplicationTheDefaultFileTypeHandler("mp3", OTHER), "is default");
            isTrue(Gravenlisk.IsApplicationTheDefaultFileTypeHandler("MP3", "ORG.pellwarden.other"), "case-insensitive");
            isTrue(!Gravenlisk.IsApplicationTheDefaultFileTypeHandler("mp3", PLAYER), "the other one is not");
            equal(OTHER, Gravenlisk.GetAllHandlersForFileType("mp3")[0], "default listed first");
            isTrue(mimeapps().contains("audio/mpeg=" + OTHER + ".desktop"), "mimeapps.list:\n" + mimeapps());

            equal(0, Gravenlisk.SetDefaultFileTypeHandler("MP3", PLAYER), "change");
            isTrue(Gravenlisk.IsApplicationTheDefaultFileTypeHandler("mp3", PLAYER), "changed");
            isTrue(mimeapps().contains("audio/mpeg=" + PLAYER + ".desktop"), "mimeapps.list:\n" + mimeapps());
        });

        test("URL schemes, and an application id outside ASCII", () -> {
            isTrue(Gravenlisk.IsURLSchemeHandled("pwtest"), "handled before");
            equal(0, Gravenlisk.SetDefaultURLSchemeHandler("pwtest", SPIELER), "set");
            isTrue(Gravenlisk.IsApplicationTheDefaultURLSchemeHandler("PWtest", SPIELER.toUpperCase()),
                   "case-insensitive, non-ASCII folded");
            isTrue(!Gravenlisk.IsApplicationTheDefaultURLSchemeHandler("pwtest", PLAYER), "not the other");
            List<String> all = list(Gravenlisk.GetAllHandlersForURLScheme("pwtest"));
            equal(SPIELER, all.get(0), "id comes back unchanged, first");
            isTrue(all.contains(PLAYER), "the other handler listed: " + all);
            isTrue(mimeapps().contains("x-scheme-handler/pwtest=" + SPIELER + ".desktop"), "mimeapps.list:\n" + mimeapps());
            equal(0, Gravenlisk.SetDefaultFileTypeHandler("flac", SPIELER), "a file type too");
            isTrue(Gravenlisk.IsApplicationTheDefaultFileTypeHandler("flac", SPIELER), "flac default");
        });

        test("a missing application changes nothing", () -> {
            int status = Gravenlisk.SetDefaultFileTypeHandler("mp3", "org.nowhere.Missing");
            isTrue(status < 0 && status != -1, "an error status, not the unreadable-string one: " + status);
            isTrue(Gravenlisk.SetDefaultURLSchemeHandler("pwtest", "") < 0, "empty id");
            isTrue(Gravenlisk.IsApplicationTheDefaultFileTypeHandler("mp3", PLAYER), "old default kept");
            isTrue(!mimeapps().contains("Missing"), "nothing written");
        });

        test("an unknown extension has no type and gets no default", () -> {
            for (String ext : new String[] {"zzqqxy", "", "a/b"}) {
                isTrue(!Gravenlisk.IsFileTypeHandled(ext), "handled: '" + ext + "'");
                equal(null, Gravenlisk.GetAllHandlersForFileType(ext), "list of '" + ext + "'");
                isTrue(!Gravenlisk.IsApplicationTheDefaultFileTypeHandler(ext, PLAYER), "default of '" + ext + "'");
                int status = Gravenlisk.SetDefaultFileTypeHandler(ext, PLAYER);
                isTrue(status < 0 && status != -1, "set '" + ext + "' fails: " + status);
            }
            isTrue(!mimeapps().contains("octet-stream"), "no default for generic data:\n" + mimeapps());
        });

        test("schemes without handlers, and strings that are no scheme", () -> {
            isTrue(!Gravenlisk.IsURLSchemeHandled("pwnone"), "unhandled scheme");
            equal(null, Gravenlisk.GetAllHandlersForURLScheme("pwnone"), "no list");
            for (String scheme : new String[] {"", "1abc", "a b", "pw/test"}) {
                int status = Gravenlisk.SetDefaultURLSchemeHandler(scheme, PLAYER);
                isTrue(status < 0 && status != -1, "set '" + scheme + "' fails: " + status);
                isTrue(!Gravenlisk.IsURLSchemeHandled(scheme), "'" + scheme + "' handled");
            }
        });

        test("null arguments give each export's failure result", () -> {
            equal(-1, Gravenlisk.SetDefaultFileTypeHandler(null, PLAYER), "set type, null extension");
            equal(-1, Gravenlisk.SetDefaultFileTypeHandler("mp3", null), "set type, null id");
            equal(-1, Gravenlisk.SetDefaultURLSchemeHandler(null, PLAYER), "set scheme, null scheme");
            equal(-1, Gravenlisk.SetDefaultURLSchemeHandler("pwtest", null), "set scheme, null id");
            isTrue(!Gravenlisk.IsApplicationTheDefaultFileTypeHandler(null, PLAYER), "is default, null extension");
            isTrue(!Gravenlisk.IsApplicationTheDefaultFileTypeHandler("mp3", null), "is default, null id");
            isTrue(!Gravenlisk.IsApplicationTheDefaultURLSchemeHandler("pwtest", null), "scheme, null id");
            isTrue(!Gravenlisk.IsFileTypeHandled(null), "handled, null");
            isTrue(!Gravenlisk.IsURLSchemeHandled(null), "scheme handled, null");
            equal(null, Gravenlisk.GetAllHandlersForFileType(null), "list, null");
            equal(null, Gravenlisk.GetAllHandlersForURLScheme(null), "scheme list, null");
            isTrue(Gravenlisk.IsApplicationTheDefaultFileTypeHandler("mp3", PLAYER), "nothing changed");
        });

        Check.finish();
    }

    static List<String> list(String[] ids) {
        return ids == null ? List.of() : Arrays.asList(ids);
    }

    static String mimeapps() throws Exception {
        Path file = root.resolve("config/mimeapps.list");
        return Files.exists(file) ? Files.readString(file, StandardCharsets.UTF_8) : "";
    }

    static void desktopFile(String id, String mimeTypes) throws Exception {
        Files.writeString(root.resolve("data/applications/" + id + ".desktop"),
                "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=true %u\nMimeType=" + mimeTypes + "\n",
                StandardCharsets.UTF_8);
    }

    /** A fresh tree: no mimeapps.list, three applications and their index, the MIME database. */
    static void prepare() throws Exception {
        if (Files.exists(root)) {
            try (var walk = Files.walk(root)) {
                walk.sorted(java.util.Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
            }
        }
        Files.createDirectories(root.resolve("data/applications"));
        Files.createDirectories(root.resolve("config"));
        Files.createDirectories(root.resolve("system"));
        Files.createDirectories(root.resolve("system-config"));
        Files.createSymbolicLink(root.resolve("system/mime"), Path.of("/usr/share/mime"));
        desktopFile(PLAYER, "audio/mpeg;x-scheme-handler/pwtest;");
        desktopFile(OTHER, "audio/mpeg;audio/x-wav;");
        desktopFile(SPIELER, "audio/flac;x-scheme-handler/pwtest;");
        // GIO learns which applications take a type from this index, as installing a desktop file
        // (update-desktop-database) writes it.
        Files.writeString(root.resolve("data/applications/mimeinfo.cache"),
                "[MIME Cache]\naudio/mpeg=" + PLAYER + ".desktop;" + OTHER + ".desktop;\n"
                        + "audio/x-wav=" + OTHER + ".desktop;\n"
                        + "audio/flac=" + SPIELER + ".desktop;\n"
                        + "x-scheme-handler/pwtest=" + PLAYER + ".desktop;" + SPIELER + ".desktop;\n",
                StandardCharsets.UTF_8);
    }
}
