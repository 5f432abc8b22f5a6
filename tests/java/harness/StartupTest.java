package harness;

import java.io.IOException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HashSet;
import java.util.Set;
import java.util.concurrent.Callable;
import java.util.regex.Pattern;
import model.PlayerNative;

/**
 * Start-up, settings and information exports of the engine library, in one JVM.
 *
 * Arguments (key=value):
 *   devices=table|emulated|none
 *                       table: write the virtual device table named by PELLWARDEN_DEVICE_TABLE
 *                       before the first start-up; emulated: the same with one hardware-emulated
 *                       card, so start-ups that list the cards answer -31 and start all the same;
 *                       none: the process has no sound devices at all
 *   aac=yes|no          whether ./plugins holds the AAC plug-in (the working directory decides)
 *   debuglog=yes|no     check the version banner in ./TKPNdebug.log (run in a scratch folder)
 *
 * Ends with the engine started, so the JVM's exit (and the library's teardown) is part of the test.
 */
public final class StartupTest {
    private StartupTest() {}

    static final String SHORT_LIST = "mp3|mp2|mp1|ogg|wav|flac|aiff|aif";
    static final String LONG_LIST = "mp3|mp2|mp1|ogg|wav|flac|aiff|aif|m4a|aac";
    static final String VERSION = "2.7.0.67-" + System.getProperty("sun.arch.data.model");
    static final String LIBRARY =
        "64".equals(System.getProperty("sun.arch.data.model")) ? "libPellwarden64.so" : "libPellwarden.so";

    /** A start-up export; enumerates: it lists the sound cards (modes 0 and 1). */
    record Variant(String name, Callable<Long> start, boolean enumerates) {}

    record Sizes(String name, Callable<Long> call, long expected) {}

    public static void main(String[] args) throws Exception {
        String devices = arg(args, "devices", "none");
        boolean aac = arg(args, "aac", "no").equals("yes");
        boolean debugLog = arg(args, "debuglog", "no").equals("yes");
        PlayerNative p = new PlayerNative();

        if (!devices.equals("none")) writeDeviceTable(devices.equals("emulated"));
        long listedStatus = devices.equals("emulated") ? -31L : 1L;

        Check.test("every native method is exported under its JNI name", () -> {
            int count = 0;
            for (Method m : PlayerNative.class.getDeclaredMethods()) {
                if (!Modifier.isNative(m.getModifiers())) continue;
                count++;
                String symbol = "Java_model_PlayerNative_" + m.getName().replace("_", "_1");
                Check.isTrue(FrameProbe.exported(LIBRARY, symbol), "missing export " + symbol);
            }
            Check.isTrue(count >= 21, "native methods declared: " + count);
        });

        Check.test("fixed answers before start-up", () -> {
            Check.equal(VERSION, p.GetVersion(), "GetVersion");
            Check.equal(SHORT_LIST, p.GetSupportedFiles(), "GetSupportedFiles");
            Check.equal(SHORT_LIST, p.GetSupportedAudioFiles(), "GetSupportedAudioFiles");
            Check.equal("", p.GetSupportedVideoFiles(), "GetSupportedVideoFiles");
            Check.equal("", p.getReg("Software"), "getReg");
            Check.equal("", p.getReg(null), "getReg(null)");
            Check.equal("", p.getRegSubKey("Software", "Key"), "getRegSubKey");
            Check.equal(false, p.IsASIOSupported(), "IsASIOSupported");
            Check.equal(-1L, p.ASIOControlPanel(), "ASIOControlPanel");
            Check.equal(-25L, p.SetMemDumpDirectory("/tmp"), "SetMemDumpDirectory");
            Check.equal(-25L, p.SetMemDumpDirectory(null), "SetMemDumpDirectory(null)");
            Check.equal(1L, p.SetPreferredASIODriver(3), "SetPreferredASIODriver");
            Check.equal(1L, p.SetPreferredASIODriver(-1), "SetPreferredASIODriver(-1)");
            Check.equal(-1L, p.SetScratchQuality(2), "SetScratchQuality before start-up");
            Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer without start-up");
        });

        Check.test("getUUID: fresh 8-4-4-4-12 lower-case identifiers", () -> {
            Pattern form = Pattern.compile("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
            Set<String> seen = new HashSet<>();
            for (int i = 0; i < 200; i++) {
                String id = p.getUUID();
                Check.equal(36, id.length(), "length of " + id);
                Check.isTrue(form.matcher(id).matches(), "form of " + id);
                Check.isTrue(seen.add(id), "repeated identifier " + id);
            }
        });

        Check.test("SetDumpFolder: any folder 1, null folder NullPointerException and -4", () -> {
            Check.equal(1L, p.SetDumpFolder("/nonexistent/dumps"), "folder");
            Check.equal(1L, p.SetDumpFolder(""), "empty folder");
            Check.throwsNpe(() -> p.SetDumpFolder(null), "from Java");
            Throwable[] thrown = new Throwable[1];
            long r = FrameProbe.callWithNullString(LIBRARY, "Java_model_PlayerNative_SetDumpFolder", thrown);
            Check.equal(-4L, r, "result beside the exception");
            Check.isTrue(thrown[0] instanceof NullPointerException, "pending exception " + thrown[0]);
            if (thrown[0] != null) Check.equal("(in C++ code)", thrown[0].getMessage(), "message");
        });

        Sizes[] sizes = {
            new Sizes("SetBufferSizes(4096, 1024, 4)", () -> p.SetBufferSizes(4096, 1024, 4), 1),
            new Sizes("SetBufferSizes(1024, 512, 2): smallest accepted", () -> p.SetBufferSizes(1024, 512, 2), 1),
            new Sizes("SetBufferSizes(4096, 511, 4): block too short", () -> p.SetBufferSizes(4096, 511, 4), -21),
            new Sizes("SetBufferSizes(4096, 1024, 1): too few blocks", () -> p.SetBufferSizes(4096, 1024, 1), -21),
            new Sizes("SetBufferSizes(1023, 1024, 4): stream too short", () -> p.SetBufferSizes(1023, 1024, 4), -21),
            new Sizes("SetBufferSizesMS(4096, 20)", () -> p.SetBufferSizesMS(4096, 20), 1),
            new Sizes("SetBufferSizesMS(4096, 0)", () -> p.SetBufferSizesMS(4096, 0), -21),
            new Sizes("SetBufferSizesMS(0, 20)", () -> p.SetBufferSizesMS(0, 20), -21),
        };
        for (Sizes s : sizes) Check.test(s.name, () -> Check.equal(s.expected, s.call.call(), "status"));
        p.SetBufferSizes(4096, 1024, 4);  // what the start-ups below run with

        if (debugLog) {
            Check.test("SetDebug: version banner in the debug log, and silence when off", () -> {
                Path log = Path.of("TKPNdebug.log");
                Check.equal(1L, p.SetDebug(true), "SetDebug(true)");
                Check.equal(1L, p.InitPlayer2(2), "start-up without outputs");
                String text = read(log);
                Check.isTrue(text.contains("Initialize Core Engine version:" + VERSION + "\n"
                                           + "========================================\n"), "banner in <" + text + ">");
                Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer");
                Check.isTrue(read(log).contains("======================\nCleanupPlayer after CleanUp\n=======================\n"),
                             "clean-up line");
                Check.equal(1L, p.SetDebug(false), "SetDebug(false)");
                long before = Files.size(log);
                Check.equal(1L, p.InitPlayer2(2), "start-up while not debugging");
                Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer while not debugging");
                Check.equal(before, Files.size(log), "log size after debugging went off");
            });
        }

        Variant[] variants = {
            new Variant("InitPlayer()", p::InitPlayer, true),
            new Variant("InitPlayer2(0)", () -> p.InitPlayer2(0), true),
            new Variant("InitPlayer2(1)", () -> p.InitPlayer2(1), true),
            new Variant("InitPlayer3(0, 2, 48000)", () -> p.InitPlayer3(0, 2, 48000), true),
            new Variant("InitPlayer4(0, 1, 44100, 0)", () -> p.InitPlayer4(0, 1, 44100, 0), true),
            new Variant("InitPlayer2(2): no outputs", () -> p.InitPlayer2(2), false),
        };
        for (Variant v : variants) {
            Check.test("start and stop with " + v.name + " (" + devices + ")", () -> {
                Check.equal(v.enumerates ? listedStatus : 1L, v.start.call(), "start-up");
                Check.equal(1L, p.SetScratchQuality(1), "engine answers as started");
                Check.equal(1L, v.start.call(), "second start-up while running");
                Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer");
                Check.equal(-1L, p.SetScratchQuality(1), "engine answers as stopped");
                Check.equal(1L, p.CleanupPlayer(), "second CleanupPlayer");
            });
        }

        Check.test("playable types after start-up with the AAC plug-in " + (aac ? "present" : "absent"), () -> {
            Check.equal(listedStatus, p.InitPlayer(), "start-up");
            Check.equal(aac ? LONG_LIST : SHORT_LIST, p.GetSupportedFiles(), "GetSupportedFiles");
            Check.equal(aac ? LONG_LIST : SHORT_LIST, p.GetSupportedAudioFiles(), "GetSupportedAudioFiles");
        });

        Check.finish();
    }

    static String arg(String[] args, String key, String fallback) {
        for (String a : args) {
            if (a.startsWith(key + "=")) return a.substring(key.length() + 1);
        }
        return fallback;
    }

    static String read(Path file) throws IOException {
        return Files.exists(file) ? Files.readString(file, StandardCharsets.ISO_8859_1) : "";
    }

    // Two stereo cards and a six-channel one (hardware-emulated when asked), a recorder, a CD drive
    // without disc. The variable is read when the engine first looks for devices, so the file must
    // exist before the first start-up.
    static void writeDeviceTable(boolean emulated) throws IOException {
        String path = System.getenv("PELLWARDEN_DEVICE_TABLE");
        if (path == null || path.isEmpty()) {
            Check.fail("PELLWARDEN_DEVICE_TABLE is not set");
            return;
        }
        String table = String.join("\n",
            "# written by harness.StartupTest",
            "output name=\"Card One\" channels=2 sink=discard pacing=stepped",
            "output name=\"Card Two\" channels=2 sink=discard pacing=stepped",
            "output name=\"Surround\" channels=6 sink=discard pacing=stepped caps=" + (emulated ? 2 : 0),
            "record name=\"Line In\" input=sine:440 channels=2 rate=44100",
            "cdrom name=\"Empty drive\"",
            "");
        Files.writeString(Path.of(path), table, StandardCharsets.UTF_8);
    }
}
