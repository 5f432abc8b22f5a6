package harness;

import com.tarvenkolm.model.pn.BeatEvent;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.IntBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import harness.MixDownExportsTest.Listener;
import model.PlayerNative;

/**
 * The analysis, sound-file and CD exports from Java on real files: click tracks with known tempo
 * and known leading and trailing silence, pink noise measured against metaflac, a silent file, a
 * missing one. Before start-up, the argument rules, then every analysis through both of its
 * paths, progress and a cancel from another Java thread, and four files analysed at once.
 *
 * Argument: dir=PATH, a scratch folder (PELLWARDEN_DEVICE_TABLE names dir/devices.table).
 */
public final class AnalysisExportsTest {
    private AnalysisExportsTest() {}

    static final int RATE = 44100;
    static final int LEAD_MS = 2000;   // leading silence of the click tracks
    static final int CLICKS_MS = 20000;
    static final int TAIL_MS = 3000;   // trailing silence
    static final double CHUNK_MS = 2048 * 1000.0 / RATE;  // the analyzer's largest read

    /** What AnalyzeData asks for. */
    public static class Options {
        final int bits;
        final List<String> calls = new ArrayList<>();

        Options(int bits) { this.bits = bits; }

        public int getActiveCalcOptions() { calls.add("bits"); return bits; }
        public int getStartCalcPositionMs() { calls.add("start"); return 0; }
        public int getEndCalcPositionMs() { calls.add("end"); return 0; }
        public double getMsPerPixel() { calls.add("msPerPixel"); return 10.0; }
        public float getSilenceTargetDB() { calls.add("silenceDB"); return -60f; }
        public int getBPMPrecision() { calls.add("precision"); return 2; }
        public float getMinBPM() { calls.add("minBPM"); return 80f; }
        public float getMaxBPM() { calls.add("maxBPM"); return 160f; }
    }

    /** Options without getMaxBPM. */
    public static final class ShortOptions {
        public int getActiveCalcOptions() { return 15; }
        public int getStartCalcPositionMs() { return 0; }
        public int getEndCalcPositionMs() { return 0; }
        public double getMsPerPixel() { return 10.0; }
        public float getSilenceTargetDB() { return -60f; }
        public int getBPMPrecision() { return 2; }
        public float getMinBPM() { return 80f; }
    }

    /** Records every setter in call order. */
    public static final class Result {
        final ByteBuffer target;
        final List<String> order = new ArrayList<>();
        boolean wave, silence, gainDone, beatsDone;
        int silenceStart, silenceEnd;
        float gain, bpm;
        ArrayList<?> beats;

        Result(ByteBuffer target) { this.target = target; }

        public ByteBuffer getTargetBuffer() { return target; }
        public void setWaveDataCalculated(boolean v) { order.add("wave"); wave = v; }
        public void setSilenceCalculated(boolean v) { order.add("silence"); silence = v; }
        public void setSilenceStartPoint(int v) { order.add("silenceStart"); silenceStart = v; }
        public void setSilenceEndPoint(int v) { order.add("silenceEnd"); silenceEnd = v; }
        public void setReplayGainCalculated(boolean v) { order.add("gainDone"); gainDone = v; }
        public void setReplayGain(float v) { order.add("gain"); gain = v; }
        public void setBeatTrackerCalculated(boolean v) { order.add("beatsDone"); beatsDone = v; }
        public void setBPM(float v) { order.add("bpm"); bpm = v; }
        public void setBeatEvents(ArrayList<?> v) { order.add("beats"); beats = v; }
    }

    static final List<String> SETTERS =
        List.of("wave", "silence", "silenceStart", "silenceEnd", "gainDone", "gain", "beatsDone", "bpm");

    static ByteBuffer direct(int bytes) {
        return ByteBuffer.allocateDirect(bytes).order(ByteOrder.nativeOrder());
    }

    static void clickTrack(Path path, double bpm) throws Exception {
        Wav.Signal clicks = Wav.clicks(RATE, bpm);
        long lead = (long) RATE * LEAD_MS / 1000, body = (long) RATE * CLICKS_MS / 1000;
        Wav.write16(path, RATE, 2, lead + body + (long) RATE * TAIL_MS / 1000,
            (f, c) -> f >= lead && f < lead + body ? clicks.at(f - lead, c) : 0.0);
    }

    static void run(String command) throws Exception {
        Process p = new ProcessBuilder("sh", "-c", command).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (p.waitFor() != 0) throw new IllegalStateException(command + ": " + out);
    }

    static String capture(String command) throws Exception {
        Process p = new ProcessBuilder("sh", "-c", command).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        p.waitFor();
        return out.trim();
    }

    /** BPM and gain of AnalyzeData with all four tasks, silence points too. */
    record Full(long status, float bpm, float gain, int start, int end, int beats) {}

    static Full analyzeAll(PlayerNative p, Path file) {
        long sound = p.OpenFileUnicode(file.toString());
        Result r = new Result(direct(4 * 64));
        long status = p.AnalyzeData(null, null, sound, new Options(15), r, false);
        p.CloseFile(sound);
        return new Full(status, r.bpm, r.gain, r.silenceStart, r.silenceEnd, r.beats == null ? 0 : r.beats.size());
    }

    static void isNear(double expected, double actual, double tolerance, String what) {
        Check.isTrue(Math.abs(expected - actual) <= tolerance, what + ": expected " + expected + " ± " + tolerance
            + " but was " + actual);
    }

    /** What libdiscid computes for a disc of these track lengths (sectors), through ctypes: id, query. */
    static final String DISCID_ORACLE = """
        import ctypes, sys
        lib = ctypes.CDLL("libdiscid.so.0")
        lib.discid_new.restype = ctypes.c_void_p
        lib.discid_put.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_int)]
        lib.discid_get_freedb_id.argtypes = [ctypes.c_void_p]
        lib.discid_get_freedb_id.restype = ctypes.c_char_p
        lib.discid_get_track_offset.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.discid_get_sectors.argtypes = [ctypes.c_void_p]
        lib.discid_free.argtypes = [ctypes.c_void_p]
        sectors = [int(s) for s in sys.argv[1:]]
        offsets = (ctypes.c_int * 100)()
        start = 150
        for t, s in enumerate(sectors):
            offsets[t + 1] = start
            start += s
        offsets[0] = start
        disc = lib.discid_new()
        assert lib.discid_put(disc, 1, len(sectors), offsets)
        fid = lib.discid_get_freedb_id(disc).decode()
        tracks = [str(lib.discid_get_track_offset(disc, t)) for t in range(1, len(sectors) + 1)]
        print(fid)
        print(" ".join([fid, str(len(sectors))] + tracks + [str(lib.discid_get_sectors(disc) // 75)]))
        lib.discid_free(disc)
        """;
    static final int[] TRACK_SECTORS = {450, 301, 1200, 76};

    /** A cue sheet and its silent image of TRACK_SECTORS; the cue's path. */
    static Path discImage(Path dir) throws Exception {
        StringBuilder cue = new StringBuilder("FILE \"disc.bin\" BINARY\n");
        int start = 0;
        for (int t = 0; t < TRACK_SECTORS.length; t++) {
            cue.append(String.format("  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:%02d\n", t + 1, start / 4500,
                start / 75 % 60, start % 75));
            start += TRACK_SECTORS[t];
        }
        Files.write(dir.resolve("disc.bin"), new byte[start * 2352]);
        Path sheet = dir.resolve("disc.cue");
        Files.writeString(sheet, cue.toString());
        return sheet;
    }

    static String text(ByteBuffer b) {
        int n = 0;
        while (n < b.capacity() && b.get(n) != 0) n++;
        byte[] bytes = new byte[n];
        b.get(0, bytes);
        return new String(bytes, StandardCharsets.US_ASCII);
    }

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        Files.createDirectories(dir);
        Path cue = discImage(dir);
        Files.writeString(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")),
            "output name=\"Card1\" channels=2 sink=discard pacing=realtime\n"
            + "cdrom name=\"vcd\" image=\"" + cue + "\"\n" + "cdrom name=\"Empty drive\"\n");
        Files.writeString(dir.resolve("discid.py"), DISCID_ORACLE);
        StringBuilder sectors = new StringBuilder();
        for (int s : TRACK_SECTORS) sectors.append(' ').append(s);
        String[] oracle = capture("python3 '" + dir.resolve("discid.py") + "'" + sectors).split("\n");
        Path click = dir.resolve("click 120 Töne.wav");
        clickTrack(click, 120.0);
        Path silent = dir.resolve("silent.wav");
        Wav.write16(silent, RATE, 2, RATE * 5L, (f, c) -> 0.0);
        Path pink = dir.resolve("pink.flac");
        run("sox -R -n -r 44100 -c 2 -b 16 '" + dir.resolve("pink.wav") + "' synth 10 pinknoise vol 0.3 && flac -s -f '"
            + dir.resolve("pink.wav") + "' -o '" + pink + "' && metaflac --add-replay-gain '" + pink + "'");
        double metaflacGain = Double.parseDouble(
            capture("metaflac --show-tag=REPLAYGAIN_TRACK_GAIN '" + pink + "'").replaceAll(".*=", "").replace(" dB", ""));
        String missing = dir.resolve("missing.wav").toString();
        String cda = dir.resolve("Track01.cda").toString();
        PlayerNative p = new PlayerNative();

        Check.test("before start-up: -1 from every analysis, no handle", () -> {
            Check.equal(0L, p.OpenFileUnicode(click.toString()), "OpenFileUnicode");
            Check.equal(-1L, p.CloseFile(12345), "CloseFile");
            Check.equal(-1L, p.CalcBPMUnicode(click.toString(), direct(4), 1, null, null, 2, null), "CalcBPMUnicode");
            Check.equal(-1L, p.CalcReplayGainUnicode(click.toString(), direct(4), 1, null, null), "CalcReplayGainUnicode");
            Check.equal(-1L, p.CalcSilenceDBUnicode(click.toString(), direct(8), 2, -60f), "CalcSilenceDBUnicode");
            Check.equal(-1L, p.CalcWaveForm(12345, 0, direct(64), 64, 10.0), "CalcWaveForm");
            Check.equal(-1L, p.AnalyzeData(null, null, 12345, new Options(15), new Result(null), false), "AnalyzeData");
        });

        record Case(String name, Callable<Long> call, long expected) {}
        Case[] rules = {
            new Case(".cda refused by the UTF-16 BPM", () -> p.CalcBPMUnicode(cda, direct(4), 1, null, null, 2, null), -36),
            new Case(".cda refused by the UTF-16 gain", () -> p.CalcReplayGainUnicode(cda, direct(4), 1, null, null), -36),
            new Case("silence: count 1, one value", () -> p.CalcSilenceDBUnicode(click.toString(), direct(4), 1, -60f), -4),
            new Case("silence: null buffer", () -> p.CalcSilenceDBUnicode(click.toString(), null, 2, -60f), -4),
            new Case("BPM: null out-buffer", () -> p.CalcBPMUnicode(click.toString(), null, 1, null, null, 2, null), -4),
            new Case("waveform: heap target", () -> p.CalcWaveForm(12345, 0, ByteBuffer.allocate(64), 64, 10.0), -28),
            new Case("waveform: handle 0", () -> p.CalcWaveForm(0, 0, direct(64), 64, 10.0), -28),
            new Case("AnalyzeData: handle 0", () -> p.AnalyzeData(null, null, 0, new Options(15), new Result(null), false), -28),
            new Case("AnalyzeData: no result", () -> p.AnalyzeData(null, null, 1, new Options(15), null, false), -28),
            new Case("CloseFile(0)", () -> p.CloseFile(0), -28),
            new Case("GetCDInfo count2 0", () -> p.GetCDInfo(null, direct(4), 1, direct(16), 0, direct(16), 1), -4),
            new Case("GetCDInfo no id buffer", () -> p.GetCDInfo(null, direct(4), 1, null, 1, direct(16), 1), -4),
            new Case("setupBeatOptions", () -> p.setupBeatOptions(2, 10f, 300f), 1),
            new Case("DefineBeatCallback", () -> p.DefineBeatCallback(new Object()), -5),
            new Case("CalcKeyTone", () -> (long) p.CalcKeyTone(null), 0),
        };
        for (Case c : rules) Check.test("rule: " + c.name, () -> Check.equal(c.expected, c.call.call(), c.name));
        Check.test("null paths: NullPointerException", () -> {
            Check.throwsNpe(() -> p.OpenFileUnicode(null), "OpenFileUnicode");
            Check.throwsNpe(() -> p.CalcBPMUnicode(null, direct(4), 1, null, null, 2, null), "CalcBPMUnicode");
            Check.throwsNpe(() -> p.CalcSilenceDBUnicode(null, direct(8), 2, -60f), "CalcSilenceDBUnicode");
            Check.throwsNpe(() -> p.CalcReplayGainUnicode(null, direct(4), 1, null, null), "CalcReplayGainUnicode");
        });

        Check.test("start-up", () -> Check.equal(1L, p.InitPlayer(), "InitPlayer"));

        Check.test("sound handles: length of an open file; closed and forged handles", () -> {
            long sound = p.OpenFileUnicode(click.toString());
            Check.isTrue(sound != 0, "open");
            IntBuffer ms = direct(4).asIntBuffer();
            Check.equal(1L, p.GetSongLength(sound, ms), "GetSongLength");
            Check.equal(LEAD_MS + CLICKS_MS + TAIL_MS, ms.get(0), "length in ms");
            Check.equal(1L, p.CloseFile(sound), "CloseFile");
            Check.equal(-3L, p.CloseFile(sound), "closed twice");
            Check.equal(-3L, p.GetSongLength(sound, ms), "length of a closed handle");
            Check.equal(-3L, p.CalcWaveForm(sound, 0, direct(64), 64, 10.0), "waveform of a closed handle");
            Check.equal(-3L, p.AnalyzeData(null, null, 0x5eed, new Options(15), new Result(null), false), "forged handle");
            Check.equal(0L, p.OpenFileUnicode(missing), "missing file");
            ByteBuffer length = direct(4);
            Check.equal(1L, p.CalcSongLength(click.toString().getBytes(StandardCharsets.UTF_8), length, 1), "CalcSongLength");
            Check.equal(LEAD_MS + CLICKS_MS + TAIL_MS, length.getInt(0), "quick length");
        });

        float[] bpmOf = new float[1];
        List<BeatEvent> scored = new ArrayList<>();
        Check.test("BPM of a 120 BPM click track: both paths, beats half a second apart", () -> {
            ByteBuffer bpm = direct(4);
            Listener progress = new Listener();
            Check.equal(1L, p.CalcBPMUnicode(click.toString(), bpm, 1, progress, null, 2, scored), "CalcBPMUnicode");
            bpmOf[0] = bpm.getFloat(0);
            isNear(120.0, bpmOf[0], 1.0, "BPM");
            Check.isTrue(scored.size() >= 30, "beats listed: " + scored.size());
            for (int i = 1; i < scored.size(); i++) {
                if (scored.get(i).getSalience() > 0 && scored.get(i - 1).getSalience() > 0)
                    isNear(0.5, scored.get(i).getKeyDown() - scored.get(i - 1).getKeyDown(), 0.03, "beat interval " + i);
            }
            Check.isTrue(!progress.values.isEmpty() && progress.values.get(progress.values.size() - 1) >= 95,
                "progress reaches the end: " + progress.values);
            ByteBuffer bytesPath = direct(4);
            Check.equal(1L, p.CalcBPM(click.toString().getBytes(StandardCharsets.UTF_8), bytesPath, 1, null), "CalcBPM");
            isNear(bpmOf[0], bytesPath.getFloat(0), 0.01, "byte-array path, precision 2: the same BPM");
        });

        List<Double> analysedBeats = new ArrayList<>();
        Check.test("AnalyzeData, all tasks: setters in order, and the figures of the single-task paths", () -> {
            long sound = p.OpenFileUnicode(click.toString());
            int points = (LEAD_MS + CLICKS_MS + TAIL_MS) / 10;
            Result r = new Result(direct(4 * points));
            Options o = new Options(15);
            Listener progress = new Listener();
            Check.equal(1L, p.AnalyzeData(progress, null, sound, o, r, false), "AnalyzeData");
            Check.equal(List.of("bits", "start", "end", "msPerPixel", "silenceDB", "precision", "minBPM", "maxBPM"),
                o.calls, "getters in order");
            List<String> expected = new ArrayList<>(SETTERS);
            expected.add("beats");
            Check.equal(expected, r.order, "setters in order");
            Check.isTrue(r.wave && r.silence && r.beatsDone, "wave, silence and beats calculated");
            isNear(bpmOf[0], r.bpm, 0.01, "BPM as CalcBPMUnicode");
            for (Object b : r.beats) analysedBeats.add(((BeatEvent) b).getKeyDown());
            long firsts = r.beats.stream().filter(b -> ((BeatEvent) b).isFirstBeat()).count();
            Check.equal(1L, firsts, "one first beat");
            long salient = scored.stream().filter(b -> b.getSalience() > 0).count();
            Check.equal(salient, (long) r.beats.size(), "the salient beats of CalcBPMUnicode");
            isNear(LEAD_MS, r.silenceStart, 30, "silence start");
            isNear(LEAD_MS + CLICKS_MS - 490, r.silenceEnd, CHUNK_MS, "silence end: where the last click has died away");
            // Silence alone reads other chunk sizes than the four tasks together: points agree to a chunk.
            ByteBuffer silence = direct(8);
            Check.equal(1L, p.CalcSilenceDBUnicode(click.toString(), silence, 2, -60f), "CalcSilenceDBUnicode");
            isNear(r.silenceStart, silence.getInt(0), CHUNK_MS, "start as AnalyzeData");
            isNear(r.silenceEnd, silence.getInt(4), CHUNK_MS, "end as AnalyzeData");
            Check.isTrue(r.target.get(4 * (LEAD_MS / 10) + 1) > 0 && r.target.get(4 * 10 + 1) == 0,
                "waveform: clicks after the lead-in, silence before");
            ByteBuffer wave = direct(4 * points);
            Check.equal(1L, p.CalcWaveForm(sound, 0, wave, 4 * points, 10.0), "CalcWaveForm");
            Check.equal(r.target.rewind(), wave.rewind(), "the same waveform");
            for (int i = 1; i < progress.values.size(); i++)
                Check.isTrue(progress.values.get(i) >= progress.values.get(i - 1), "progress never goes back");
            p.CloseFile(sound);
        });

        Check.test("the deck beat tracker finds the beats AnalyzeData reported", () -> {
            Check.equal(1L, p.setupBeatOptions(2, 80f, 160f), "the tracker's range as the analysis's");
            Check.equal(1L, p.LoadUnicode(0, click.toString(), 0, 0), "load");
            Check.equal(1L, p.startBeatTracking(0, true), "startBeatTracking");
            PlayerNative.BeatReport last = PlayerNative.awaitFinishedReport(0, 90_000);
            Check.isTrue(last != null && last.beats() != null, "a finished report with beats");
            if (last == null || last.beats() == null) return;
            Check.equal(analysedBeats.size(), last.beats().size(), "beats");
            for (int i = 0; i < Math.min(analysedBeats.size(), last.beats().size()); i++)
                isNear(analysedBeats.get(i), ((BeatEvent) last.beats().get(i)).getKeyDown(), 0.012, "beat " + i);
            p.Unload(0);
        });

        Check.test("AnalyzeData, silence only: the other tasks reported as not run; missing member: -25", () -> {
            long sound = p.OpenFileUnicode(click.toString());
            Result r = new Result(null);
            Check.equal(1L, p.AnalyzeData(null, null, sound, new Options(2), r, false), "status");
            Check.equal(SETTERS, r.order, "every setter but setBeatEvents");
            Check.isTrue(!r.wave && r.silence && !r.gainDone && r.gain == 1.0f && !r.beatsDone && r.bpm == 0f,
                "not run: false, gain 1, BPM 0");
            ByteBuffer silence = direct(8);
            Check.equal(1L, p.CalcSilenceDBUnicode(click.toString(), silence, 2, -60f), "CalcSilenceDBUnicode");
            Check.equal(r.silenceStart, silence.getInt(0), "start as CalcSilenceDBUnicode");
            Check.equal(r.silenceEnd, silence.getInt(4), "end as CalcSilenceDBUnicode");
            Listener progress = new Listener();
            Result untouched = new Result(direct(64));
            Check.equal(-25L, p.AnalyzeData(progress, null, sound, new ShortOptions(), untouched, false), "no getMaxBPM");
            Check.isTrue(progress.values.isEmpty() && untouched.order.isEmpty(), "nothing decoded, nothing set");
            p.CloseFile(sound);
        });

        Check.test("waveform bounded by the Java buffer; a buffer larger than the sound: 0", () -> {
            long sound = p.OpenFileUnicode(click.toString());
            ByteBuffer whole = direct(96);
            for (int i = 0; i < 96; i++) whole.put(i, (byte) 0x55);
            ByteBuffer window = whole.slice(32, 32);
            Check.equal(1L, p.CalcWaveForm(sound, LEAD_MS, window, 96, 10.0), "claims 96 bytes, holds 32");
            for (int i = 64; i < 96; i++) Check.equal((byte) 0x55, whole.get(i), "byte " + i + " past the buffer");
            Check.equal(-4L, p.CalcWaveForm(sound, 0, window, -1, 10.0), "negative size");
            int more = 4 * ((LEAD_MS + CLICKS_MS + TAIL_MS) / 10 + 100);
            Check.equal(0L, p.CalcWaveForm(sound, 0, direct(more), more, 10.0), "sound ends first");
            p.CloseFile(sound);
        });

        Check.test("ReplayGain of pink noise as metaflac measures it; both paths", () -> {
            ByteBuffer gain = direct(4);
            Check.equal(1L, p.CalcReplayGainUnicode(pink.toString(), gain, 1, new Listener(), null), "Unicode");
            isNear(metaflacGain, gain.getFloat(0), 0.0100001, "gain");
            ByteBuffer bytesGain = direct(4);
            Check.equal(1L, p.CalcReplayGain(pink.toString().getBytes(StandardCharsets.UTF_8), bytesGain, 1, null), "bytes");
            Check.equal(gain.getFloat(0), bytesGain.getFloat(0), "same gain");
        });

        Check.test("an MP3 of the click track: tempo, gain and length through the same paths", () -> {
            Path mp3 = dir.resolve("click 120.mp3");
            run("lame --quiet -b 192 '" + click + "' '" + mp3 + "'");
            ByteBuffer bpm = direct(4), gain = direct(4), wavGain = direct(4);
            Check.equal(1L, p.CalcBPMUnicode(mp3.toString(), bpm, 1, null, null, 2, null), "CalcBPMUnicode");
            isNear(bpmOf[0], bpm.getFloat(0), 1.0, "BPM as of the WAV");
            Check.equal(1L, p.CalcReplayGainUnicode(mp3.toString(), gain, 1, null, null), "MP3 gain");
            Check.equal(1L, p.CalcReplayGainUnicode(click.toString(), wavGain, 1, null, null), "WAV gain");
            isNear(wavGain.getFloat(0), gain.getFloat(0), 0.5, "gain as of the WAV");
        });

        Check.test("silent and unopenable files", () -> {
            ByteBuffer bpm = direct(4).putFloat(0, 77f);
            long status = p.CalcBPMUnicode(silent.toString(), bpm, 1, null, null, 2, null);
            Check.isTrue(status == 0 || (status == 1 && bpm.getFloat(0) == 0f), "silent BPM: " + status + " " + bpm.getFloat(0));
            ByteBuffer points = direct(8);
            points.putInt(0, 7).putInt(4, 9);
            Check.equal(0L, p.CalcSilenceDBUnicode(silent.toString(), points, 2, -60f), "silent throughout");
            Check.equal(7, points.getInt(0), "start left as it was");
            Check.equal(0L, p.CalcReplayGainUnicode(missing, direct(4), 1, null, null), "gain of a missing file");
            Check.isTrue(p.CalcBPMUnicode(missing, direct(4), 1, null, null, 2, null) < 0, "BPM of a missing file");
            points.putInt(0, 7);
            Check.isTrue(p.CalcSilenceDBUnicode(missing, points, 2, -60f) < 0, "silence of a missing file");
            Check.equal(0, points.getInt(0), "start 0 for a missing file");
        });

        Check.test("a cancel from another Java thread stops the analysis; what was analysed is reported", () -> {
            ByteBuffer cancel = direct(4).putInt(0, 0);
            Listener progress = new Listener();
            progress.onFirst = () -> {
                Thread t = new Thread(() -> cancel.putInt(0, 1));
                t.start();
                try {
                    t.join();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            };
            ByteBuffer gain = direct(4);
            long status = p.CalcReplayGainUnicode(click.toString(), gain, 1, progress, cancel);
            Check.isTrue(status == 1 || status == 0, "status " + status);
            int last = progress.values.get(progress.values.size() - 1);
            Check.isTrue(last < 50, "stopped early: " + progress.values);
            Check.equal(0, cancel.getInt(0), "the cancel word reset");
        });

        Check.test("four Java threads, four files: the single-thread results", () -> {
            List<Path> files = new ArrayList<>();
            for (int bpm : new int[] {96, 110, 128, 140}) {
                Path f = dir.resolve("click " + bpm + ".wav");
                clickTrack(f, bpm);
                files.add(f);
            }
            List<Full> alone = new ArrayList<>();
            for (Path f : files) alone.add(analyzeAll(p, f));
            ExecutorService pool = Executors.newFixedThreadPool(4);
            List<Future<Full>> together = new ArrayList<>();
            for (Path f : files) together.add(pool.submit(() -> analyzeAll(p, f)));
            for (int i = 0; i < files.size(); i++) {
                Check.equal(1L, alone.get(i).status(), "status alone " + i);
                Check.equal(alone.get(i), together.get(i).get(), "file " + i);
            }
            pool.shutdown();
        });

        Check.test("GetCDInfo: libdiscid's disc id and query; texts cut to small Java buffers", () -> {
            byte[] drive = "vcd".getBytes(StandardCharsets.US_ASCII);
            ByteBuffer tracks = direct(4), id = direct(64), query = direct(256);
            Check.equal(1L, p.GetCDInfo(drive, tracks, 1, id, 1, query, 1), "GetCDInfo");
            Check.equal(TRACK_SECTORS.length, tracks.getInt(0), "tracks");
            Check.equal(oracle[0], text(id), "disc id");
            Check.equal(oracle[1], text(query), "query");
            ByteBuffer whole = direct(32);
            for (int i = 0; i < 32; i++) whole.put(i, (byte) 'Z');
            ByteBuffer smallId = whole.slice(0, 5), smallQuery = whole.slice(8, 12);
            Check.equal(1L, p.GetCDInfo(drive, direct(4), 1, smallId, 1, smallQuery, 1), "small buffers");
            Check.equal(-4L, p.GetCDInfo(drive, direct(4), 0, id, 1, query, 1), "count1 0: four bytes are not one value");
            Check.equal(oracle[0].substring(0, 4), text(smallId), "id cut to 4 characters and a terminator");
            Check.equal(oracle[1].substring(0, 11), text(smallQuery), "query cut to 11 characters");
            for (int i : new int[] {5, 6, 7, 20, 31}) Check.equal((byte) 'Z', whole.get(i), "byte " + i + " outside both");
            ByteBuffer untouched = direct(16);
            untouched.put(0, (byte) 'u');
            Check.equal(-20L, p.GetCDInfo("Empty drive".getBytes(StandardCharsets.US_ASCII), direct(4), 1, untouched, 1,
                direct(16), 1), "empty drive");
            Check.equal("u", text(untouched), "id left alone");
        });

        Check.test("shutdown", () -> Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer"));
        Check.finish();
    }
}
