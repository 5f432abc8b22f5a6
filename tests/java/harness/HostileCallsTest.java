package harness;

import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import harness.AnalysisExportsTest.Options;
import harness.AnalysisExportsTest.Result;
import model.PlayerNative;

/**
 * Calls a Java program easily gets wrong, on a started engine and a 120 BPM click track: waveform
 * point lengths that are no usable number (infinity from a length divided by a panel width of 0).
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
            ByteBuffer target = filled(64);
            Check.equal(1L, p.CalcWaveForm(sound, AnalysisExportsTest.LEAD_MS, target, 64, 10.0), "10 ms points");
            Check.isTrue(target.get(1) > 0, "10 ms points: the first click");
            Check.equal(1L, p.CloseFile(sound), "CloseFile");
        });

        Check.test("shutdown", () -> Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer"));
        Check.finish();
    }
}
