package harness;

import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import model.PlayerNative;

/**
 * The text command export. Every command word once, table-driven: each row is sent before
 * start-up (the engine answers "not started", so the failure replies show) and again on virtual
 * cards with deck 1 loaded (the success replies); a second table sends rows with arguments the
 * started engine refuses. Then commands no word takes, '%' in paths and device names, null,
 * eight threads at once, and device and drive names that are not UTF-8.
 *
 * Argument: dir=PATH, a scratch folder for the track, the disc image and the device table
 * (PELLWARDEN_DEVICE_TABLE names dir/devices.table).
 */
public final class CommandTest {
    private CommandTest() {}

    static final int RATE = 44100;
    static final String VERSION = StartupTest.VERSION;
    // The words of the table up to GetFunctions, in walking order.
    static final String FUNCTIONS = String.join(",", "GetVersion", "Load", "CalcSongLength", "Play", "Stop",
        "GetVolume", "SetFrameSearchLength", "FrameSearchForward", "FrameSearchBackward", "GetVolumeRange",
        "SetVolume", "SetVolumeMonitor", "GetSoundcards", "GetASIODrivers", "GetCDDrives", "GetCDInfo",
        "GetRecorderDevices", "GetPosition", "GetEqHigh", "GetEqMid", "GetEqLow", "SetPosition", "SetReverse",
        "SetMute", "SetMuteMonitor", "SetDebug", "GetLevel", "IsPlaying", "SetEqHigh", "SetEqMid", "SetEqLow",
        "SetTimeStretcher", "SetFrequencyPitch", "SetGain", "SetCutOff", "SetResonance", "SetPan", "SetLoop",
        "SetLoopPoints", "GetFrequencyPitchRange", "GetLength", "SetEcho", "GetBPM", "CalcReplayGain",
        "CalcSilence", "SetBufferSize", "SetMasterVolume", "SetMasterGain", "PlaySample", "SetSampleMode",
        "GetSupportedFiles", "ASIOControlPanel", "GetFunctions");

    /** A command, its reply on the started engine with deck 1 loaded, and its reply before start-up. */
    record Row(String command, Callable<String> started, String beforeStart) {}

    static Row row(String command, String started, String beforeStart) {
        return new Row(command, () -> started, beforeStart);
    }

    static Row row(String command, Callable<String> started, String beforeStart) {
        return new Row(command, started, beforeStart);
    }

    static ByteBuffer direct(int bytes) {
        return DeckExportsTest.direct(bytes);
    }

    /** A typed value query writing one int into its buffer. */
    interface Query {
        long run(ByteBuffer out);
    }

    static int typedInt(Query q) {
        ByteBuffer b = direct(8);
        q.run(b);
        return b.getInt(0);
    }

    static String f6(double value) {
        return String.format(Locale.ROOT, "%f", value);
    }

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        Files.createDirectories(dir);
        Path cue = AnalysisExportsTest.discImage(dir);
        // Names with a comma, with printf conversions, and with bytes that are not UTF-8 (Latin-1
        // letters): the table is written as Latin-1, so each of those letters is one byte >= 0x80.
        Files.write(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")), String.join("\n",
            "output name=\"Main, A\" channels=2 sink=discard pacing=realtime",
            "output name=\"Carte \u00e9t\u00e9\" channels=2 sink=discard pacing=realtime",
            "output name=\"Card %s%n%d\" channels=2 sink=discard pacing=realtime",
            "record name=\"Line In\" input=sine:440 channels=2 rate=44100",
            "record name=\"Mic \u00ff%s\" input=sine:220 channels=2 rate=44100",
            "cdrom name=\"vcd\" image=\"" + cue + "\"",
            "cdrom name=\"Lecteur \u00e9%n\"", "cdrom name=\"Empty %n\"", "").getBytes(StandardCharsets.ISO_8859_1));
        String slots = "0[Main\\, A]-CoreAudio,1[Carte \ufffdt\ufffd]-CoreAudio,2[Card %s%n%d]-CoreAudio";
        String recorders = "0[Line In] 1/2-CoreAudio,1[Mic \ufffd%s] 3/4-CoreAudio";
        String drives = "vcd,Lecteur \ufffd%n,Empty %n";

        // Half a second of silence, then a tone: 10 s in all. The name holds conversions and a
        // blank but no comma (a comma would split the argument).
        Path track = dir.resolve("track %s%n 100%.wav");
        Wav.write16(track, RATE, 2, 10L * RATE, (f, c) -> f < RATE / 2 ? 0.0 : 0.5 * Math.sin(2 * Math.PI * 440.0 * f / RATE));
        String missing = dir.resolve("missing %s.wav").toString();
        byte[] trackBytes = track.toString().getBytes(StandardCharsets.UTF_8);

        PlayerNative p = new PlayerNative();
        Row[] rows = {
            row("GetVersion()", VERSION, VERSION),
            row("Load(1," + track + ",0,0)", "File loaded", "File properly not loaded!"),
            row("CalcSongLength(" + track + ")", "10000", "No song length calculated!"),
            row("Play(1,true)", "Playing!", "not Playing!"),
            row("Stop(1)", "Channel stopped!", "Channel stopped!"),
            row("GetVolume(1)", "7500", "0"),
            row("SetFrameSearchLength(1,100)", "true", "false"),
            row("FrameSearchForward(1,1)", "true", "false"),
            row("FrameSearchBackward(1,1)", "true", "false"),
            row("GetVolumeRange()", "0,1000", "0,1000"),
            row("SetVolume(1,700)", "700", "700"),
            row("SetVolumeMonitor(1,600)", "600", "600"),
            row("GetSoundcards()", slots, "no sound devices."),
            row("GetASIODrivers()", "no ASIO devices.", "no ASIO devices."),
            row("GetCDDrives()", drives, "no cddrives."),
            row("GetCDInfo(vcd)", () -> {
                ByteBuffer tracks = direct(4), id = direct(2048), query = direct(2048);
                Check.equal(1L, p.GetCDInfo("vcd".getBytes(StandardCharsets.US_ASCII), tracks, 1, id, 1, query, 1),
                    "typed GetCDInfo");
                return " vcd " + tracks.getInt(0) + " " + AnalysisExportsTest.text(id) + " " + AnalysisExportsTest.text(query);
            }, "?"),
            row("GetRecorderDevices()", recorders, "no recorder device!"),
            row("GetPosition(1)", () -> String.valueOf(typedInt(b -> p.GetPosition(1, b, 1))), "-1"),
            row("GetEqHigh(1)", "2500", "0"),
            row("GetEqMid(1)", "7500", "0"),
            row("GetEqLow(1)", "10000", "0"),
            row("SetPosition(1,1500)", "Position set!", "Position set!"),
            row("SetReverse(1,false)", "Reverse set!", ""),
            row("SetMute(1,false)", "Mute set!", "Mute set!"),
            row("SetMuteMonitor(1,false)", "Mute set!", "Mute set!"),
            row("SetDebug(false)", "Debug set!", "Debug set!"),
            row("GetLevel(1)", () -> {
                ByteBuffer b = direct(8);
                p.GetLevels(1, b, 2);
                return b.getInt(0) + "," + b.getInt(4);
            }, "0,0"),
            row("IsPlaying(1)", "false", "false"),
            row("SetEqHigh(1,5000)", "EQ High set!", "EQ High set!"),
            row("SetEqMid(1,5000)", "EQ Mid set!", "EQ Mid set!"),
            row("SetEqLow(1,5000)", "EQ Low set!", "EQ Low set!"),
            row("SetTimeStretcher(1,5000)", "SetTimeStretcher!", "SetTimeStretcher!"),
            row("SetFrequencyPitch(1,100.5)", "FrequencyPitch (100.500000) set!", "FrequencyPitch (100.500000) NOT set!"),
            row("SetGain(1,5000)", "Gain (5000) set!", "Gain (5000) NOT set!"),
            row("SetCutOff(1,4000)", "CutOff (4000) set!", "CutOff (4000) NOT set!"),
            row("SetResonance(1,3000)", "Resonance (3000) set!", "Resonance (3000) NOT set!"),
            row("SetPan(1,5000)", "Pan (5000) set!", "Pan (5000) NOT set!"),
            row("SetLoop(1,false,false)", "Loop set!", "Loop NOT set!"),
            row("SetLoopPoints(1,1000,2000)", "LoopPoints set!", "LoopPoints NOT set!"),
            row("GetFrequencyPitchRange()", "0,200", "0,200"),
            row("GetLength(1)", "10000", "0"),
            row("SetEcho(1,false,300,50,5000,5000)", "true", "false"),
            row("GetBPM(1)", () -> {
                ByteBuffer b = direct(4);
                p.GetBPM(1, b, 1);
                return f6(b.getFloat(0));
            }, f6(0.0)),
            row("CalcReplayGain(" + track + ")", () -> {
                ByteBuffer b = direct(4);
                Check.equal(1L, p.CalcReplayGain(trackBytes, b, 1, null), "typed CalcReplayGain");
                return f6(b.getFloat(0));
            }, "ERROR!"),
            row("CalcSilence(" + track + ",-60)", () -> {
                ByteBuffer b = direct(8);
                p.CalcSilenceDBUnicode(track.toString(), b, 2, -60f);
                Check.isTrue(b.getInt(0) >= 400 && b.getInt(0) <= 600, "the tone starts near 500 ms: " + b.getInt(0));
                return String.valueOf(b.getInt(0));
            }, "0"),
            row("SetBufferSize(1,4096)", "1", "-1"),
            row("SetMasterVolume(8000)", "1", "-1"),
            row("SetMasterGain(5000)", "1", "-1"),
            row("PlaySample(3)", "1", "-30"),
            row("SetSampleMode(3,true)", "1", "-24"),
            row("GetSupportedFiles()", p::GetSupportedFiles, StartupTest.SHORT_LIST),
            row("ASIOControlPanel()", "?", "?"),
            row("GetFunctions()", FUNCTIONS, FUNCTIONS),
            row("vinyl()", "?", "?"),
            row("test()", "?", "?"),
            row("SetCrashDirectory(/tmp)", "?", "?"),
        };
        Check.test("the table has every word once", () -> {
            Check.equal(56, rows.length, "rows");
            for (int i = 0; i < 53; i++) {
                Check.equal(FUNCTIONS.split(",")[i], rows[i].command.replaceAll("\\(.*", ""), "row " + (i + 1));
            }
        });

        for (Row r : rows) Check.test("before start-up: " + r.command, () -> Check.equal(r.beforeStart, p.Command(r.command), r.command));

        Check.test("start-up; deck 1 loaded with volume and EQ set through the typed exports; a sample in slot 3", () -> {
            Check.equal(1L, p.InitPlayer(), "InitPlayer");
            Check.equal(1L, p.LoadUnicode(1, track.toString(), 0, 0), "LoadUnicode");
            Check.equal(1L, p.SetVolume(1, 7500), "SetVolume");
            Check.equal(1L, p.SetEqHigh(1, 2500), "SetEqHigh");
            Check.equal(1L, p.SetEqMid(1, 7500), "SetEqMid");
            Check.equal(1L, p.SetEqLow(1, 10000), "SetEqLow");
            Check.equal(1L, p.SetupSampler(0), "SetupSampler");
            Check.equal(1L, p.LoadSample(3, trackBytes), "LoadSample");
        });

        for (Row r : rows) Check.test("started: " + r.command, () -> Check.equal(r.started.call(), p.Command(r.command), r.command));

        // Failure statuses other than "not started": a deck or slot the engine refuses, a missing
        // file, an empty drive, an empty sample slot.
        String[][] refusals = {
            {"Load(1," + missing + ",0,0)", "File properly not loaded!"},
            {"Load(70," + track + ",0,0)", "File properly not loaded!"},
            {"CalcSongLength(" + missing + ")", "No song length calculated!"},
            {"Play(70,true)", "not Playing!"},
            {"SetFrameSearchLength(70,100)", "false"},
            {"FrameSearchForward(70,1)", "false"},
            {"FrameSearchBackward(70,1)", "false"},
            {"GetCDInfo(Empty %n)", "?"},
            {"GetPosition(70)", "-2"},
            {"GetVolume(300)", "0"},
            {"SetReverse(70,true)", ""},
            {"SetFrequencyPitch(70,100)", "FrequencyPitch (100.000000) NOT set!"},
            {"SetGain(70,5000)", "Gain (5000) NOT set!"},
            {"SetCutOff(70,5000)", "CutOff (5000) NOT set!"},
            {"SetResonance(70,5000)", "Resonance (5000) NOT set!"},
            {"SetPan(70,5000)", "Pan (5000) NOT set!"},
            {"SetLoop(70,true,false)", "Loop NOT set!"},
            {"SetLoopPoints(70,1000,2000)", "LoopPoints NOT set!"},
            {"SetEcho(70,true,300,50,5000,5000)", "false"},
            {"CalcReplayGain(" + missing + ")", "ERROR!"},
            {"CalcSilence(" + missing + ",-60)", "0"},
            {"PlaySample(70)", "-23"},
            {"SetSampleMode(4,true)", "-24"},
        };
        for (String[] r : refusals) Check.test("refused: " + r[0], () -> Check.equal(r[1], p.Command(r[0]), r[0]));

        Check.test("the flag is exactly \"true\": with a blank before it Play pauses", () -> {
            Check.equal("Playing!", p.Command("Play(1,true)"), "play");
            Check.equal(true, p.IsPlaying(1), "playing");
            Check.equal("Playing!", p.Command("Play(1, true)"), "pause answers as the engine does");
            Check.equal(false, p.IsPlaying(1), "paused");
            Check.equal("Channel stopped!", p.Command("Stop(1)"), "stop");
        });

        Check.test("GetVolume reads its deck clamped to 0..255", () -> {
            Check.equal(String.valueOf(typedInt(b -> p.GetVolume(0, b, 1))), p.Command("GetVolume(-4)"), "-4 reads deck 0");
            Check.equal(String.valueOf(typedInt(b -> p.GetVolume(255, b, 1))), p.Command("GetVolume(300)"), "300 reads deck 255");
            Check.equal(String.valueOf(typedInt(b -> p.GetVolume(1, b, 1))), p.Command("GetVolume(1x)"), "1x reads deck 1");
        });

        String longText = "x".repeat(3000);
        String[] interpreted = {
            "getversion()", "GETVERSION", "GetVersion(1)", "Play(1)", "SetEcho(1,true,1,1,1)", "NoSuchWord()",
            "Load(1,/tmp/a,b.wav,0,0)", "%s%n%x(%s,%n)", longText + "()", "GetCDInfo(" + longText + ")",
            "SetVolume(" + "1,".repeat(300) + "1)", "",
        };
        for (String c : interpreted) {
            Check.test("no word takes " + (c.length() > 40 ? c.substring(0, 40) + "..." : "\"" + c + "\""),
                () -> Check.equal("", p.Command(c), "reply"));
        }

        Check.test("a null command: NullPointerException and no reply", () -> {
            try {
                String reply = p.Command(null);
                Check.fail("no exception, reply " + reply);
            } catch (NullPointerException e) {
                Check.equal("(in C++ code)", e.getMessage(), "message");
            }
        });

        Check.test("commands in characters beyond ASCII reach the engine as UTF-8", () -> {
            Path tone = dir.resolve("Töne \ud83c\udfb5.wav");
            Files.copy(track, tone, java.nio.file.StandardCopyOption.REPLACE_EXISTING);
            Check.equal("10000", p.Command("CalcSongLength(" + tone + ")"), "length");
        });

        Check.test("eight threads at once, each on its own deck, get their own replies", () -> {
            for (int d = 2; d < 10; d++) Check.equal(1L, p.LoadUnicode(d, track.toString(), 0, 0), "load deck " + d);
            int[] exact = {1250, 2500, 3750, 5000, 7500, 10000};
            ExecutorService pool = Executors.newFixedThreadPool(8);
            List<Future<List<String>>> results = new ArrayList<>();
            for (int t = 0; t < 8; t++) {
                int deck = t + 2;
                results.add(pool.submit(() -> {
                    List<String> wrong = new ArrayList<>();
                    for (int k = 0; k < 150; k++) {
                        int eq = exact[(k + deck) % exact.length];
                        int value = deck * 1000 + k;
                        String[][] pairs = {
                            {"SetEqHigh(" + deck + "," + eq + ")", "EQ High set!"},
                            {"GetEqHigh(" + deck + ")", String.valueOf(eq)},
                            {"SetVolumeMonitor(" + deck + "," + value + ")", String.valueOf(value)},
                            {"SetGain(70," + value + ")", "Gain (" + value + ") NOT set!"},
                            {"SetFrequencyPitch(70," + value + ".5)", "FrequencyPitch (" + value + ".500000) NOT set!"},
                            {"Bad(" + value + ")", ""},
                        };
                        for (String[] pair : pairs) {
                            String reply = p.Command(pair[0]);
                            if (!pair[1].equals(reply)) wrong.add(pair[0] + " -> " + reply);
                        }
                    }
                    return wrong;
                }));
            }
            for (Future<List<String>> f : results) Check.equal(List.of(), f.get(), "wrong replies");
            pool.shutdown();
        });

        Check.test("shutdown; the lists answer as before start-up", () -> {
            Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer");
            Check.equal("no sound devices.", p.Command("GetSoundcards()"), "soundcards");
            Check.equal("no recorder device!", p.Command("GetRecorderDevices()"), "recorders");
            Check.equal("no cddrives.", p.Command("GetCDDrives()"), "drives");
        });
        Check.finish();
    }
}
