package harness;

import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import harness.AnalysisExportsTest.Options;
import harness.AnalysisExportsTest.Result;
import model.PlayerNative;

/**
 * Calls a Java program easily gets wrong, on a started engine and a 120 BPM click track: waveform
 * point lengths that are no usable number (infinity from a length divided by a panel width of 0),
 * analyses started at once on one opened file handle (its decoder position is shared), and a text
 * command whose path is long in bytes but not in characters.
 *
 * Argument: dir=PATH, a scratch folder (PELLWARDEN_DEVICE_TABLE names dir/devices.table).
 */
public final class HostileCallsTest {
    private HostileCallsTest() {}

    static final int TRACK_MS = AnalysisExportsTest.LEAD_MS + AnalysisExportsTest.CLICKS_MS + AnalysisExportsTest.TAIL_MS;

    /** Options that ask for a waveform of points msPerPixel long. */
    public static final class WaveOptions extends Options {
        final double msPerPixel;

        WaveOptions(double msPerPixel) {
            super(1);
            this.msPerPixel = msPerPixel;
        }

        @Override
        public double getMsPerPixel() { return msPerPixel; }
    }

    static ByteBuffer filled(int bytes) {
        ByteBuffer b = AnalysisExportsTest.direct(bytes);
        for (int i = 0; i < bytes; i++) b.put(i, (byte) 0x55);
        return b;
    }

    static boolean untouched(ByteBuffer b) {
        for (int i = 0; i < b.capacity(); i++)
            if (b.get(i) != 0x55) return false;
        return true;
    }

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        Files.createDirectories(dir);
        Files.writeString(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")),
            "output name=\"Card1\" channels=2 sink=discard pacing=realtime\n");
        Path click = dir.resolve("click 120.wav");
        AnalysisExportsTest.clickTrack(click, 120.0);
        PlayerNative p = new PlayerNative();
        Check.test("start-up", () -> Check.equal(1L, p.InitPlayer(), "InitPlayer"));

        Check.test("waveform points of no usable length: -4 from both paths, nothing written", () -> {
            long sound = p.OpenFileUnicode(click.toString());
            Check.isTrue(sound != 0, "open");
            double width = 0;
            double[] refused = {TRACK_MS / width, -TRACK_MS / width, width / width, 4.9e7, -4.9e7, 1e300};
            for (double ms : refused) {
                ByteBuffer target = filled(64);
                Check.equal(-4L, p.CalcWaveForm(sound, 0, target, 64, ms), "CalcWaveForm " + ms);
                Check.isTrue(untouched(target), "CalcWaveForm " + ms + ": nothing written");
                Result r = new Result(filled(64));
                Check.equal(-4L, p.AnalyzeData(null, null, sound, new WaveOptions(ms), r, false), "AnalyzeData " + ms);
                Check.isTrue(untouched(r.target) && r.order.isEmpty(), "AnalyzeData " + ms + ": nothing written or set");
            }
            // Another number: in a 32-bit library one wider than an address, never cut back to the handle.
            Check.equal(-3L, p.CalcWaveForm(sound ^ (1L << 32), 0, filled(64), 64, 10.0), "the handle with bit 32 flipped");
            ByteBuffer target = filled(64);
            Check.equal(1L, p.CalcWaveForm(sound, AnalysisExportsTest.LEAD_MS, target, 64, 10.0), "10 ms points");
            Check.isTrue(target.get(1) > 0, "10 ms points: the first click");
            Check.equal(1L, p.CloseFile(sound), "CloseFile");
        });

        Check.test("two tempo analyses and a waveform at once on one handle: each as when run alone", () -> {
            long sound = p.OpenFileUnicode(click.toString());
            Check.isTrue(sound != 0, "open");
            int points = TRACK_MS / 10;
            Callable<Float> tempo = () -> {
                Result r = new Result(null);
                Check.equal(1L, p.AnalyzeData(null, null, sound, new Options(8), r, false), "AnalyzeData");
                return r.bpm;
            };
            Callable<ByteBuffer> wave = () -> {
                ByteBuffer b = AnalysisExportsTest.direct(4 * points);
                Check.equal(1L, p.CalcWaveForm(sound, 0, b, 4 * points, 10.0), "CalcWaveForm");
                return b;
            };
            float alone = tempo.call();
            AnalysisExportsTest.isNear(120.0, alone, 0.02, "tempo alone");
            ByteBuffer waveAlone = wave.call();
            for (int round = 0; round < 2; round++) {
                CyclicBarrier start = new CyclicBarrier(3);
                ExecutorService pool = Executors.newFixedThreadPool(3);
                List<Future<Float>> tempos = new ArrayList<>();
                for (int i = 0; i < 2; i++) tempos.add(pool.submit(() -> { start.await(); return tempo.call(); }));
                Future<ByteBuffer> waveTogether = pool.submit(() -> { start.await(); return wave.call(); });
                for (Future<Float> t : tempos) Check.equal(alone, t.get(), "tempo, round " + round);
                Check.equal(waveAlone.rewind(), waveTogether.get().rewind(), "waveform, round " + round);
                pool.shutdown();
            }
            Check.equal(1L, p.CloseFile(sound), "CloseFile");
        });

        Check.test("Load command with a path of 1134 characters in 2000-odd bytes: loads as LoadUnicode does", () -> {
            Path folder = dir;
            while (folder.toString().length() < 1134 - 120) folder = folder.resolve("\u00e9".repeat(100));
            String name = "\u00e9".repeat(1134 - folder.toString().length() - 5) + ".wav";
            Path track = folder.resolve(name);
            Files.createDirectories(folder);
            Files.copy(click, track, java.nio.file.StandardCopyOption.REPLACE_EXISTING);
            String path = track.toString();
            Check.equal(1134, path.length(), "characters");
            int bytes = path.getBytes(java.nio.charset.StandardCharsets.UTF_8).length;
            Check.isTrue(bytes > 2048 && bytes < 4096, "bytes beyond the bound, within a path: " + bytes);
            Check.equal("File loaded", p.Command("Load(4," + path + ",0,0)"), "Load command");
            Check.equal(Integer.toString(TRACK_MS), p.Command("GetLength(4)"), "its length");
            p.Unload(4);
            Check.equal(1L, p.LoadUnicode(4, path, 0, 0), "LoadUnicode");
            p.Unload(4);
        });

        Check.test("shutdown", () -> Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer"));
        Check.finish();
    }
}
