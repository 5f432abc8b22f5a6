import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import model.PlayerNative;

/**
 * A short mix on two decks through the engine's Java interface: the same track on both decks,
 * deck B entering a third of the way into the track, a tempo change on each, an EQ sweep on deck
 * B, a crossfade, and the decks' positions and levels printed twice a second. About 20 s.
 *
 * Usage: java Demo TRACK MAIN_SLOT CUE_SLOT
 * The cue output is silenced: everything goes to the main slot.
 */
public final class Demo {
    private Demo() {}

    static final PlayerNative P = new PlayerNative();
    static final ByteBuffer VALUE = ByteBuffer.allocateDirect(4).order(ByteOrder.nativeOrder());
    static final ByteBuffer LEVELS = ByteBuffer.allocateDirect(8).order(ByteOrder.nativeOrder());

    static int position(int deck) {
        P.GetPosition(deck, VALUE, 1);
        return VALUE.getInt(0);
    }

    static int length(int deck) {
        P.GetLength(deck, VALUE, 1);
        return VALUE.getInt(0);
    }

    static String levels(int deck) {
        LEVELS.putInt(0, 0).putInt(4, 0);
        P.GetLevels(deck, LEVELS, 2);
        return String.format("%5d/%-5d", LEVELS.getInt(0), LEVELS.getInt(4));
    }

    static void check(String what, long status) {
        if (status != 1) {
            System.err.println(what + " failed with status " + status);
            P.CleanupPlayer();
            System.exit(1);
        }
    }

    public static void main(String[] args) throws InterruptedException {
        if (args.length != 3) {
            System.err.println("usage: java Demo TRACK MAIN_SLOT CUE_SLOT");
            System.exit(2);
        }
        String track = args[0];
        int mainSlot = Integer.parseInt(args[1]);
        int cueSlot = Integer.parseInt(args[2]);
        long started = P.InitPlayer();
        if (started != 1 && started != -31) check("InitPlayer", started);
        System.out.println("engine " + P.GetVersion() + ", plays " + P.GetSupportedAudioFiles());
        for (int deck = 0; deck < 2; deck++) {
            check("LoadUnicode deck " + deck, P.LoadUnicode(deck, track, mainSlot, cueSlot));
            P.SetMuteMonitor(deck, true);
            P.SetVolumeMonitor(deck, 0);
        }
        int len = length(0);
        System.out.printf("track %s: %.1f s on decks A and B%n", track, len / 1000.0);

        P.SetVolume(0, 8000);
        P.SetVolume(1, 0);
        P.SetPosition(1, len / 3);
        check("Play A", P.Play(0, true));

        final int steps = 40;  // 20 s in half seconds
        for (int step = 0; step <= steps; step++) {
            double t = step / 2.0;
            String event = "";
            if (step == 4) {
                check("Play B", P.Play(1, true));
                event = "B starts";
            } else if (step == 8) {
                P.SetTimeStretcher(0, 4600);  // below 5000 plays faster
                P.SetTimeStretcher(1, 5400);
                event = "tempo: A faster, B slower";
            } else if (step >= 4 && step <= 12) {
                P.SetVolume(1, (step - 4) * 1000);  // B fades in
            }
            if (step >= 12 && step <= 28) {
                // EQ sweep on B: lows down and back, highs up and back.
                double phase = (step - 12) / 16.0;
                int sweep = (int) Math.round(5000 - 5000 * Math.sin(Math.PI * phase));
                P.SetEqLow(1, sweep);
                P.SetEqHigh(1, 10000 - sweep);
                if (step == 12) event = "EQ sweep on B";
            }
            if (step >= 30 && step <= 38) {
                P.SetVolume(0, 8000 - (step - 30) * 1000);  // A fades out
                if (step == 30) event = "A fades out";
            }
            System.out.printf("%5.1f s  A %6d ms %s   B %6d ms %s  %s%n", t, position(0), levels(0), position(1),
                              levels(1), event);
            Thread.sleep(500);
        }

        P.Stop(0);
        P.Stop(1);
        P.Unload(0);
        P.Unload(1);
        P.CleanupPlayer();
        System.out.println("done");
    }
}
