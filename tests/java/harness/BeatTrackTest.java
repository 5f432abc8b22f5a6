package harness;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import com.tarvenkolm.model.pn.BeatEvent;
import model.PlayerNative;

/**
 * The deck beat tracker through Java: a click track at a known tempo is loaded, tracking is
 * switched on with startBeatTracking, and the tracker's thread calls the static
 * PlayerNative.updateBeatList with lists of BeatEvent objects. A track under 30 s gets exactly one
 * report (finished, 100 %); a 70 s track gets interim reports below 100 % first. Ends with the
 * engine shut down, so the JVM must then exit on its own: a tracker thread left attached to the VM
 * would keep it from ending (ctest's timeout catches that).
 *
 * Argument: dir=PATH, a scratch folder; PELLWARDEN_DEVICE_TABLE names dir/devices.table.
 */
public final class BeatTrackTest {
    private BeatTrackTest() {}

    static final int RATE = 44100;
    static final double BPM = 120.0;
    static final long DEADLINE_MS = 90_000;  // hang guard only

    /** Beat times in seconds, in list order, after checking every element is a BeatEvent. */
    static double[] times(ArrayList<Object> beats) {
        double[] t = new double[beats.size()];
        for (int i = 0; i < t.length; i++) {
            Object o = beats.get(i);
            if (!(o instanceof BeatEvent e)) {
                Check.fail("element " + i + " is " + o);
                return new double[0];
            }
            t[i] = e.getKeyDown();
        }
        return t;
    }

    static double medianInterval(double[] t) {
        double[] sorted = t.clone();
        Arrays.sort(sorted);
        double[] d = new double[Math.max(0, sorted.length - 1)];
        for (int i = 1; i < sorted.length; i++) d[i - 1] = sorted[i] - sorted[i - 1];
        Arrays.sort(d);
        return d.length == 0 ? 0.0 : d[d.length / 2];
    }

    static List<PlayerNative.BeatReport> reportsOf(int deck) {
        List<PlayerNative.BeatReport> out = new ArrayList<>();
        for (PlayerNative.BeatReport r : PlayerNative.beatReports()) {
            if (r.deck() == deck) out.add(r);
        }
        return out;
    }

    /** The checks every final list must pass: BeatEvents at the click tempo, one first beat. */
    static void checkFinalList(PlayerNative.BeatReport last, double seconds) {
        Check.isTrue(last.beats() != null, "a list came");
        if (last.beats() == null) return;
        double[] t = times(last.beats());
        double expected = seconds * BPM / 60.0;
        Check.isTrue(t.length >= expected * 0.8 && t.length <= expected * 1.2,
                     t.length + " beats for " + expected + " clicks");
        Check.isTrue(Math.abs(medianInterval(t) - 60.0 / BPM) < 0.02, "median interval " + medianInterval(t));
        for (double v : t) Check.isTrue(v >= 0 && v <= seconds + 0.5, "beat time " + v + " inside the track");
        int firsts = 0;
        for (Object o : last.beats()) {
            if (((BeatEvent) o).isFirstBeat()) firsts++;
        }
        Check.equal(1, firsts, "beats marked first");
    }

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        Files.createDirectories(dir);
        Files.writeString(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")),
            "output name=\"Main\" channels=2 sink=discard pacing=realtime\n");
        Path shortTrack = dir.resolve("clicks-20s.wav");
        Path longTrack = dir.resolve("clicks-70s.wav");
        Wav.write16(shortTrack, RATE, 2, 20L * RATE, Wav.clicks(RATE, BPM));
        Wav.write16(longTrack, RATE, 1, 70L * RATE, Wav.clicks(RATE, BPM));

        PlayerNative p = new PlayerNative();
        Check.test("start-up and load two click tracks", () -> {
            Check.equal(1L, p.InitPlayer(), "InitPlayer");
            Check.equal(1L, p.LoadUnicode(0, shortTrack.toString(), 0, 0), "load 20 s");
            Check.equal(1L, p.LoadUnicode(1, longTrack.toString(), 0, 0), "load 70 s");
            Check.equal(1L, p.startBeatTracking(2, false), "switching off an idle tracker");
        });

        Check.test("a 20 s click track at 120 BPM: one final report of BeatEvents", () -> {
            Check.equal(1L, p.startBeatTracking(0, true), "startBeatTracking");
            PlayerNative.BeatReport last = PlayerNative.awaitFinishedReport(0, DEADLINE_MS);
            Check.isTrue(last != null, "a finished report came");
            if (last == null) return;
            Check.equal(100.0, last.percent(), "percent of the final report");
            Check.equal(1, reportsOf(0).size(), "reports for a track under 30 s");
            checkFinalList(last, 20.0);
        });

        Check.test("a 70 s mono click track: interim reports below 100 %, then the final one", () -> {
            Check.equal(1L, p.startBeatTracking(1, true), "startBeatTracking");
            PlayerNative.BeatReport last = PlayerNative.awaitFinishedReport(1, DEADLINE_MS);
            Check.isTrue(last != null, "a finished report came");
            if (last == null) return;
            List<PlayerNative.BeatReport> reports = reportsOf(1);
            Check.isTrue(reports.size() >= 2, "reports: " + reports.size());
            Check.isTrue(reports.get(reports.size() - 1).finished(), "the final report comes last");
            double previous = 0;
            for (PlayerNative.BeatReport r : reports.subList(0, reports.size() - 1)) {
                Check.isTrue(!r.finished(), "interim report marked unfinished");
                Check.isTrue(r.percent() > previous && r.percent() < 100.0, "interim percent " + r.percent());
                Check.isTrue(r.beats() != null && !r.beats().isEmpty(), "interim list has beats");
                previous = r.percent();
            }
            Check.equal(100.0, last.percent(), "percent of the final report");
            checkFinalList(last, 70.0);
        });

        Check.test("tracking can be switched off and the engine shut down with decks loaded", () -> {
            Check.equal(1L, p.startBeatTracking(0, false), "switch off after the run ended");
            Check.equal(1L, p.startBeatTracking(0, true), "a new run from the start");
            Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer while a run may still go on");
            Check.equal(-2L, p.startBeatTracking(0, true), "after shut-down");
        });

        Check.finish();
    }
}
