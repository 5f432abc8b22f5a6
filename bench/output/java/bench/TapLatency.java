package bench;

import harness.Wav;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Random;
import model.PlayerNative;

/**
 * The Java side of tap_latency_bench: drives the engine as the application does, through its JNI
 * exports, and prints when each call was made (System.nanoTime, the steady clock the launcher
 * shares) and when the mixer computed the block it made audible or silent (the tap probe). The
 * launcher finds in the sink's monitor when each was heard.
 *
 * Arguments: ms=N (SetBufferSizesMS), dir=PATH (scratch folder), trials=N.
 * Lines out: "play|sample|pause CALL_NS BLOCK_NS OFFSET", "pos NS MS", lines starting with '#'.
 */
public final class TapLatency {
    private TapLatency() {}

    static final int RATE = 44100;
    static final int CLICK_EVERY = RATE / 2;  // a click every 500 ms of the track

    static native boolean installProbe(int slot);
    static native long[] probeEvents(int from);

    static String arg(String[] args, String key, String otherwise) {
        for (String a : args) if (a.startsWith(key + "=")) return a.substring(key.length() + 1);
        return otherwise;
    }

    static void check(long got, String what) {
        if (got != 1) throw new IllegalStateException(what + " answered " + got);
    }

    static int events() {
        return probeEvents(0).length / 3;
    }

    /** Waits for the probe's next block of the given kind from event `from` on; {ns, offset}. */
    static long[] waitBlock(int from, int sound) throws InterruptedException {
        long end = System.nanoTime() + 2_000_000_000L;
        while (System.nanoTime() < end) {
            long[] e = probeEvents(from);
            for (int i = 0; i + 2 < e.length; i += 3) if (e[i + 1] == sound) return new long[] {e[i], e[i + 2]};
            Thread.sleep(1);
        }
        return new long[] {0, 0};
    }

    interface Call {
        long run();
    }

    /** Makes the call and prints its time with the probe's block: the first block of `sound` after it. */
    static void timed(String name, Call call, int sound) throws InterruptedException {
        int from = events();
        long at = System.nanoTime();
        check(call.run(), name);
        long[] block = waitBlock(from, sound);
        System.out.println(name + " " + at + " " + block[0] + " " + block[1]);
    }

    public static void main(String[] args) throws Exception {
        int ms = Integer.parseInt(arg(args, "ms", "20"));
        int trials = Integer.parseInt(arg(args, "trials", "15"));
        Path dir = Path.of(arg(args, "dir", "."));
        Path track = dir.resolve("track.wav");
        Path shot = dir.resolve("shot.wav");
        // A quiet tone with a click every 500 ms (the position heard), and a 250 ms shot.
        Wav.write16(track, RATE, 2, 120L * RATE,
                    (f, c) -> f % CLICK_EVERY < 8 ? 0.9 : 0.15 * Math.sin(2 * Math.PI * 441.0 * f / RATE));
        Wav.write16(shot, RATE, 2, RATE / 4, Wav.sine(RATE, 660.0, 0.3));

        PlayerNative p = new PlayerNative();
        System.loadLibrary("PellwardenTapProbe");
        check(p.SetBufferSizesMS(16384, ms), "SetBufferSizesMS");
        check(p.InitPlayer(), "InitPlayer");
        if (!installProbe(0)) throw new IllegalStateException("no probe on slot 0");
        check(p.LoadUnicode(0, track.toString(), 0, 1), "LoadUnicode");
        check(p.SetVolume(0, 10000), "SetVolume");  // a deck starts at volume 0
        check(p.SetupSampler(0), "SetupSampler");
        check(p.LoadSampleUnicode(0, shot.toString()), "LoadSampleUnicode");
        Thread.sleep(1000);

        // Rests of random length, so that calls fall anywhere within a block.
        Random random = new Random(40);
        for (int i = 0; i < trials; i++) {
            Thread.sleep(300 + random.nextInt(40));
            timed("play", () -> p.Play(0, true), 1);
            Thread.sleep(300 + random.nextInt(40));
            timed("pause", () -> p.Play(0, false), 0);
        }
        for (int i = 0; i < trials; i++) {
            Thread.sleep(400 + random.nextInt(40));
            timed("sample", () -> p.PlaySample(0, false), 1);
        }
        // GetPosition against the clicks heard, in steady play.
        Thread.sleep(500);
        check(p.Play(0, true), "Play");
        Thread.sleep(600);
        ByteBuffer position = ByteBuffer.allocateDirect(4).order(ByteOrder.nativeOrder());
        for (long end = System.nanoTime() + 8_000_000_000L; System.nanoTime() < end; Thread.sleep(5)) {
            long before = System.nanoTime();
            check(p.GetPosition(0, position, 1), "GetPosition");
            long after = System.nanoTime();
            System.out.println("pos " + (before + after) / 2 + " " + position.getInt(0));
        }
        check(p.Play(0, false), "Play");
        Thread.sleep(500);
        check(p.CleanupPlayer(), "CleanupPlayer");
        Files.deleteIfExists(track);
        Files.deleteIfExists(shot);
        System.out.println("# done");
    }
}
