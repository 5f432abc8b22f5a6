package harness;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import model.PlayerNative;

/**
 * Times AnalyzeData with all four tasks from Java on the 5-minute MP3 the native whole-file
 * benchmark analyses (the same sox and lame commands), unthrottled, best of `repeats` runs,
 * opening and closing included; then runs the native benchmark in the same process run, when its
 * path is given, for the figure to compare with. A benchmark, not a test: it asserts nothing.
 *
 * Arguments: dir=PATH (scratch; PELLWARDEN_DEVICE_TABLE names dir/devices.table) repeats=N
 * native=PATH-of-wholefile_bench (optional).
 */
public final class AnalysisBench {
    private AnalysisBench() {}

    static void sh(String command) throws Exception {
        Process p = new ProcessBuilder("sh", "-c", command).inheritIO().start();
        if (p.waitFor() != 0) throw new IllegalStateException(command);
    }

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        int repeats = Integer.parseInt(StartupTest.arg(args, "repeats", "3"));
        String nativeBench = StartupTest.arg(args, "native", "");
        Files.createDirectories(dir);
        Files.writeString(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")),
            "output name=\"Card1\" channels=2 sink=discard pacing=realtime\n");
        String d = dir.toString(), sox = "sox -D -R -r 44100 -n -c 2 -b 16 ";
        sh(sox + d + "/k.wav synth 0.12 sine 150:45 fade 0 0.12 0.1 vol 0.8 pad 0 15380s");
        sh(sox + d + "/h.wav synth 0.03 whitenoise highpass 5000 fade 0 0.03 0.025 vol 0.3 pad 10336s 9013s");
        sh(sox + d + "/b.wav synth 20672s pinknoise vol 0.05");
        sh("sox -D -m " + d + "/k.wav " + d + "/h.wav " + d + "/b.wav " + d + "/beat.wav");
        sh("sox -D " + d + "/beat.wav " + d + "/track.wav repeat 639");
        sh("lame --quiet -b 192 " + d + "/track.wav " + d + "/track.mp3");

        PlayerNative p = new PlayerNative();
        if (p.InitPlayer() != 1) throw new IllegalStateException("InitPlayer");
        String mp3 = d + "/track.mp3";
        double best = 1e9;
        AnalysisExportsTest.Result last = null;
        for (int r = 0; r < repeats; r++) {
            AnalysisExportsTest.Result result =
                new AnalysisExportsTest.Result(ByteBuffer.allocateDirect(4 * 3000).order(ByteOrder.nativeOrder()));
            AnalysisExportsTest.Options options = new AnalysisExportsTest.Options(15) {
                @Override
                public double getMsPerPixel() { return 100.0; }
            };
            long start = System.nanoTime();
            long sound = p.OpenFileUnicode(mp3);
            long status = p.AnalyzeData(null, null, sound, options, result, false);
            p.CloseFile(sound);
            double seconds = (System.nanoTime() - start) / 1e9;
            if (status != 1) throw new IllegalStateException("AnalyzeData " + status);
            best = Math.min(best, seconds);
            last = result;
        }
        System.out.printf("Java AnalyzeData, all four tasks, best of %d: %.3f s (BPM %.2f, gain %.2f dB, silence %d..%d ms, "
            + "%d beats)%n", repeats, best, last.bpm, last.gain, last.silenceStart, last.silenceEnd, last.beats.size());
        p.CleanupPlayer();
        if (!nativeBench.isEmpty()) sh(nativeBench + " " + repeats);
    }
}
