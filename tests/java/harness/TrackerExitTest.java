package harness;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import model.PlayerNative;

/**
 * The deck beat tracker and the whole-file calls against the JVM's own life: each case runs in a JVM of its own (same
 * options, -Xcheck:jni included), which says "EXIT-NOW" when it leaves, and must then end within
 * 5 s; a child that hangs before saying so is killed after 90 s. Cases:
 * - exit: System.exit while a 5-minute track is being tracked (the engine's teardown at process
 *   exit must not wait for a thread the dead VM holds);
 * - return: main returns without CleanupPlayer while the tracker runs (the VM must not wait for it);
 * - handler: the beat-list handler sets the volume of its own deck and loads another deck while the
 *   main thread switches the tracker off, and again while it reloads the deck; neither may deadlock;
 * - analysis: System.exit while a conversion and a tempo analysis each wait in their progress
 *   listener (the teardown at exit must not wait for calls whose threads are in Java).
 *
 * Argument: dir=PATH, a scratch folder; PELLWARDEN_DEVICE_TABLE names dir/devices.table.
 */
public final class TrackerExitTest {
    private TrackerExitTest() {}

    static final int RATE = 44100;
    static final long REPORT_WAIT_MS = 60_000;  // hang guard only

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        String which = StartupTest.arg(args, "case", "");
        if (!which.isEmpty()) {
            child(which, dir);
            return;
        }
        Files.createDirectories(dir);
        Files.writeString(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")),
            "output name=\"Main\" channels=2 sink=discard pacing=realtime\n");
        Wav.write16(dir.resolve("long.wav"), RATE, 1, 300L * RATE, Wav.clicks(RATE, 120.0));
        Wav.write16(dir.resolve("short.wav"), RATE, 2, 5L * RATE, Wav.clicks(RATE, 120.0));
        for (String c : new String[] {"exit", "return", "handler", "analysis"}) {
            Check.test("case " + c + ": the JVM ends within 5 s of leaving", () -> runChild(c, dir));
        }
        Check.finish();
    }

    /** Starts this class in a new JVM for one case and watches it end. */
    static void runChild(String which, Path dir) throws Exception {
        List<String> command = new ArrayList<>();
        command.add(ProcessHandle.current().info().command().orElse("java"));
        command.add("-Xcheck:jni");
        command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        command.add("-cp");
        command.add(System.getProperty("java.class.path"));
        command.add(TrackerExitTest.class.getName());
        command.add("case=" + which);
        command.add("dir=" + dir);
        Process child = new ProcessBuilder(command).redirectErrorStream(true).start();
        CountDownLatch leaving = new CountDownLatch(1);
        Thread echo = new Thread(() -> {
            try (BufferedReader in = new BufferedReader(new InputStreamReader(child.getInputStream()))) {
                for (String line; (line = in.readLine()) != null;) {
                    System.out.println("[" + which + "] " + line);
                    if (line.equals("EXIT-NOW")) leaving.countDown();
                }
            } catch (Exception e) {
                System.out.println("[" + which + "] output lost: " + e);
            }
        });
        echo.start();
        boolean left = leaving.await(90, TimeUnit.SECONDS);
        boolean ended = left && child.waitFor(5, TimeUnit.SECONDS);
        if (!ended) child.destroyForcibly().waitFor();
        echo.join();
        Check.isTrue(left, "the child reached its exit");
        Check.isTrue(ended, "the child ended within 5 s of its exit");
        if (ended) Check.equal(0, child.exitValue(), "exit status");
    }

    static void child(String which, Path dir) throws Exception {
        String longTrack = dir.resolve("long.wav").toString();
        String shortTrack = dir.resolve("short.wav").toString();
        PlayerNative p = new PlayerNative();
        Check.test(which + ": start-up and load", () -> {
            Check.equal(1L, p.InitPlayer(), "InitPlayer");
            Check.equal(1L, p.LoadUnicode(0, longTrack, 0, 0), "load the long track");
        });
        if (which.equals("analysis")) {
            analysisCase(p, longTrack, dir);
            return;
        }
        if (which.equals("handler")) {
            Check.test("handler: engine calls from the handler while the tracker is stopped",
                       () -> handlerCase(p, longTrack, shortTrack));
            Check.test("handler: shut-down", () -> Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer"));
            Check.finish();
            System.out.println("EXIT-NOW");
            return;
        }
        Check.test(which + ": the tracker runs and has reported once", () -> {
            Check.equal(1L, p.startBeatTracking(0, true), "startBeatTracking");
            Check.isTrue(PlayerNative.awaitReport(0, REPORT_WAIT_MS) != null, "an interim list came");
            Check.isTrue(PlayerNative.awaitFinishedReport(0, 0) == null, "the run is still going");
        });
        Check.finish();
        System.out.println("EXIT-NOW");
        if (which.equals("exit")) System.exit(0);
        // "return": no CleanupPlayer, the tracker still runs.
    }

    /** A listener that reports its first call, then keeps the analysing thread in Java. */
    public static final class StuckListener {
        final CountDownLatch called = new CountDownLatch(1);

        public void setValue(int percent) throws InterruptedException {
            called.countDown();
            Thread.sleep(120_000);
        }
    }

    static void analysisCase(PlayerNative p, String longTrack, Path dir) throws Exception {
        StuckListener converting = new StuckListener();
        StuckListener analysing = new StuckListener();
        Thread convert = new Thread(() -> p.ConvertFile(longTrack, dir.resolve("converted.wav").toString(),
                                                        converting, null, 1, 0));
        Thread bpm = new Thread(() -> p.CalcBPMUnicode(longTrack, AnalysisExportsTest.direct(4), 1, analysing,
                                                       null, 2, null));
        convert.setDaemon(true);
        bpm.setDaemon(true);
        convert.start();
        bpm.start();
        Check.test("analysis: both calls are in their listeners", () -> {
            Check.isTrue(converting.called.await(REPORT_WAIT_MS, TimeUnit.MILLISECONDS), "conversion progress");
            Check.isTrue(analysing.called.await(REPORT_WAIT_MS, TimeUnit.MILLISECONDS), "analysis progress");
        });
        Check.finish();
        System.out.println("EXIT-NOW");
        System.exit(0);
    }

    /**
     * Twice: the handler, on the first list after tracking starts, waits a little (so the main
     * thread is inside its call on deck 0 by then) and calls the engine for deck 0 and deck 1; the
     * main thread meanwhile switches tracking off, then reloads deck 0.
     */
    static void handlerCase(PlayerNative p, String longTrack, String shortTrack) throws Exception {
        for (int round = 0; round < 2; round++) {
            CountDownLatch inHandler = new CountDownLatch(1);
            CountDownLatch handlerDone = new CountDownLatch(1);
            AtomicLong volume = new AtomicLong();
            AtomicLong load = new AtomicLong();
            PlayerNative.beatHandler = report -> {
                if (report.deck() != 0 || inHandler.getCount() == 0) return;
                inHandler.countDown();
                try {
                    Thread.sleep(300);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
                volume.set(p.SetVolume(0, 5000));
                load.set(p.LoadUnicode(1, shortTrack, 0, 0));
                handlerDone.countDown();
            };
            Check.equal(1L, p.startBeatTracking(0, true), "startBeatTracking, round " + round);
            Check.isTrue(inHandler.await(REPORT_WAIT_MS, TimeUnit.MILLISECONDS), "a list reached the handler");
            if (round == 0) {
                Check.equal(1L, p.startBeatTracking(0, false), "tracking off while the handler calls");
            } else {
                Check.equal(1L, p.LoadUnicode(0, longTrack, 0, 0), "reload while the handler loads");
            }
            handlerDone.await();
            Check.equal(1L, volume.get(), "SetVolume from the handler, round " + round);
            Check.equal(1L, load.get(), "LoadUnicode from the handler, round " + round);
            PlayerNative.beatHandler = null;
        }
    }
}
