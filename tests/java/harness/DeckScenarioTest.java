package harness;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.Callable;
import java.util.function.IntPredicate;
import model.PlayerNative;

/**
 * Two decks driven through Java on two virtual cards that play in real time and write what they
 * receive to WAV files: load (both path forms), play, volume, tempo, seek, loop, snippets, frame
 * search, reverse, every effect export, levels and tone, stop and unload; afterwards the main
 * card's file must hold the deck's audio.
 *
 * Argument: dir=PATH, a scratch folder for the tracks, the device table and the cards' files
 * (PELLWARDEN_DEVICE_TABLE names dir/devices.table).
 *
 * Waits poll with a generous deadline that only guards against a hang; what is checked is where
 * the deck got to, never how long it took.
 */
public final class DeckScenarioTest {
    private DeckScenarioTest() {}

    static final int RATE = 44100;
    static final long FRAMES = 10L * RATE;  // 10 s tracks
    static final long LOOP_START = 1000, LOOP_END = 2000;

    static ByteBuffer direct(int bytes) {
        return ByteBuffer.allocateDirect(bytes).order(ByteOrder.nativeOrder());
    }

    static int position(PlayerNative p, int deck) {
        ByteBuffer b = direct(4);
        Check.equal(1L, p.GetPosition(deck, b, 1), "GetPosition status");
        return b.getInt(0);
    }

    static int value(PlayerNative p, int deck, Query q) {
        ByteBuffer b = direct(4);
        Check.equal(1L, q.run(deck, b, 1), "value query status");
        return b.getInt(0);
    }

    interface Query {
        long run(int deck, ByteBuffer out, int count);
    }

    /** Polls the deck's position until it satisfies `until`; false when the deadline passed. */
    static boolean waitForPosition(PlayerNative p, int deck, IntPredicate until, long deadlineMs) throws InterruptedException {
        long end = System.currentTimeMillis() + deadlineMs;
        while (System.currentTimeMillis() < end) {
            if (until.test(position(p, deck))) return true;
            Thread.sleep(20);
        }
        return false;
    }

    record Effect(String name, Callable<Long> call, long expected) {}

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        Files.createDirectories(dir);
        Path mainWav = dir.resolve("main-card.wav");
        Path cueWav = dir.resolve("cue-card.wav");
        Files.writeString(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")), String.join("\n",
            "output name=\"Main\" channels=2 sink=wav:" + mainWav + " pacing=realtime",
            "output name=\"Cue\" channels=2 sink=wav:" + cueWav + " pacing=realtime", ""));
        Path a440 = dir.resolve("a440.wav");
        Path e330 = dir.resolve("e330 Töne.wav");  // a path that is not ASCII, through the byte-array form
        Wav.write16(a440, RATE, 2, FRAMES, Wav.sine(RATE, 440.0, 0.5));
        Wav.write16(e330, RATE, 2, FRAMES, Wav.sine(RATE, 330.0, 0.5));

        PlayerNative p = new PlayerNative();
        Check.test("start-up on two virtual cards", () -> Check.equal(1L, p.InitPlayer(), "InitPlayer"));

        Check.test("LoadUnicode(0, path, -3, 1) loads with main slot 0 and cue slot 1", () -> {
            Check.equal(1L, p.LoadUnicode(0, a440.toString(), -3, 1), "LoadUnicode");
            Check.equal(10000, value(p, 0, p::GetLength), "GetLength ms");
            ByteBuffer raw = direct(4);
            Check.equal(1L, p.CalcSongLengthRaw(0, raw, 1), "CalcSongLengthRaw status");
            Check.equal((int) FRAMES * 4, raw.getInt(0), "PCM bytes of 16-bit stereo");
        });

        Check.test("Load (byte-array form) puts a second track with a non-ASCII name on deck 1", () -> {
            Check.equal(1L, p.Load(1, e330.toString().getBytes(StandardCharsets.UTF_8), 0, 1), "Load");
            Check.equal(10000, value(p, 1, p::GetLength), "GetLength ms");
            Check.equal(-3L, p.Load(2, (dir + "/missing.wav").getBytes(StandardCharsets.UTF_8), 0, 1), "missing file");
        });

        Check.test("play: the position runs, levels and tone follow the 440 Hz track", () -> {
            Check.equal(1L, p.Play(0, true), "Play");
            Check.equal(true, p.IsPlaying(0), "IsPlaying");
            // The main output plays through the time-stretched channel and holds no FMOD channel.
            Check.equal(0L, p.GetChannelHandle(0), "GetChannelHandle of a playing deck");
            Check.equal(false, p.IsPlaying(1), "deck 1 idle");
            Check.isTrue(waitForPosition(p, 0, ms -> ms >= 500, 10000), "position reached 500 ms");
            ByteBuffer levels = direct(8);
            int left = 0, right = 0;
            String tone = "";
            for (int i = 0; i < 100 && (left == 0 || right == 0 || !tone.equals("A 4")); i++) {
                Check.equal(1L, p.GetLevels(0, levels, 2), "GetLevels status");
                left = levels.getInt(0);
                right = levels.getInt(4);
                tone = p.GetTone(0);
                Thread.sleep(20);
            }
            Check.isTrue(left > 0 && right > 0, "levels " + left + ", " + right);
            Check.equal("A 4", tone, "GetTone");
            levels.putInt(0, 7).putInt(4, 7);
            Check.equal(1L, p.GetLevels(1, levels, 2), "GetLevels of the idle deck");
            Check.equal(0, levels.getInt(0), "idle deck left");
            Check.equal(0, levels.getInt(4), "idle deck right");
        });

        Check.test("volumes, mute, pan and gain", () -> {
            Check.equal(1L, p.SetVolume(0, 2500), "SetVolume");
            Check.equal(2500, value(p, 0, p::GetVolume), "GetVolume");
            Check.equal(1L, p.SetVolumeMonitor(0, 7500), "SetVolumeMonitor");
            Check.equal(7500, value(p, 0, p::GetVolumeMonitor), "GetVolumeMonitor");
            Check.equal(1L, p.SetVolume(0, 10000), "SetVolume back");
            Check.equal(1L, p.SetMuteMonitor(0, true), "SetMuteMonitor");
            Check.equal(1L, p.SetMute(0, false), "SetMute");
            Check.equal(1L, p.SetPan(0, 5000), "SetPan");
            Check.equal(-4L, p.SetPan(0, -1), "SetPan out of range");
            Check.equal(1L, p.SetGain(0, 5000), "SetGain");
            Check.equal(-4L, p.SetGain(0, 10001), "SetGain out of range");
        });

        Check.test("seek, tempo and speed", () -> {
            Check.equal(1L, p.SetPosition(0, 6000), "SetPosition");
            Check.isTrue(waitForPosition(p, 0, ms -> ms >= 6000 && ms < 7500, 5000), "position after the seek");
            Check.equal(1L, p.SetTimeStretcher(0, 6000), "SetTimeStretcher");
            Check.equal(1L, p.SetFrequencyPitch(0, 5500), "SetFrequencyPitch");
            Check.equal(1L, p.SetFrequencyPitchEx(0, 1.0), "SetFrequencyPitchEx");
            Check.equal(1L, p.SetFrequencyPitch(0, 5000), "speed back");
            Check.equal(1L, p.SetTimeStretcher(0, 5000), "tempo back");
            Check.isTrue(waitForPosition(p, 0, ms -> ms > 6300, 5000), "still running after the tempo change");
        });

        Check.test("SetLoopPoints keeps the low 32 bits: the deck loops 1000..2000", () -> {
            Check.equal(1L, p.SetLoopPoints(0, 4294967296L + LOOP_START, LOOP_END), "SetLoopPoints");
            Check.equal(1L, p.SetLoop(0, true, false), "SetLoop on");
            Check.equal(true, p.IsLooping(0), "IsLooping");
            Check.equal(1L, p.SetPosition(0, 1200), "SetPosition into the loop");
            Check.isTrue(waitForPosition(p, 0, ms -> ms >= 1200 && ms < 2000, 5000), "in the loop");
            // Two and a half rounds: every position inside the window, and at least one wrap.
            int previous = position(p, 0), wraps = 0, outside = 0;
            for (int i = 0; i < 125; i++) {
                Thread.sleep(20);
                int now = position(p, 0);
                if (now < previous) wraps++;
                if (now < LOOP_START - 50 || now > LOOP_END + 50) outside++;
                previous = now;
            }
            Check.isTrue(wraps >= 1, "the position wrapped back " + wraps + " times");
            Check.equal(0, outside, "positions outside the loop window");
            Check.equal(1L, p.SetLoop(0, false, false), "SetLoop off");
            Check.equal(false, p.IsLooping(0), "IsLooping after switching off");
        });

        Check.test("reverse play runs the position backwards", () -> {
            Check.equal(1L, p.SetPosition(0, 5000), "SetPosition");
            Check.isTrue(waitForPosition(p, 0, ms -> ms >= 5000 && ms < 6000, 5000), "after the seek");
            Check.equal(1L, p.SetReverse(0, true), "SetReverse on");
            int start = position(p, 0);
            Check.isTrue(waitForPosition(p, 0, ms -> ms < start - 300, 10000), "position fell below " + (start - 300));
            Check.equal(1L, p.SetReverse(0, false), "SetReverse off");
            int back = position(p, 0);
            Check.isTrue(waitForPosition(p, 0, ms -> ms > back + 300, 10000), "forward again");
        });

        Check.test("snippets, frame search and the buffer size on the idle deck", () -> {
            Check.equal(1L, p.AddPlaybackSnippet(1, 4294967296L + 3000, 3500), "AddPlaybackSnippet");
            Check.equal(1L, p.SetFrameSearchLength(1, 100), "SetFrameSearchLength");
            Check.equal(1L, p.FrameSearchForward(1, 2), "FrameSearchForward");
            Check.equal(1L, p.FrameSearchBackward(1, 1), "FrameSearchBackward");
            Check.equal(1L, p.SetBufferSize(1, 8192), "SetBufferSize");
            ByteBuffer bpm = direct(4).putFloat(0, -5f);
            Check.equal(1L, p.GetBPM(1, bpm, 1), "GetBPM status");
            Check.equal(0.0f, bpm.getFloat(0), "the deck keeps no BPM");
        });

        Effect[] effects = {
            new Effect("SetEqLow sweep down", () -> p.SetEqLow(0, 0), 1),
            new Effect("SetEqMid", () -> p.SetEqMid(0, 2500), 1),
            new Effect("SetEqHigh", () -> p.SetEqHigh(0, 10000), 1),
            new Effect("SetEqBandWidth", () -> p.SetEqBandWidth(0, 2.0f), 1),
            new Effect("SetCutOff", () -> p.SetCutOff(0, 5000), 1),
            new Effect("SetResonance", () -> p.SetResonance(0, 5000), 1),
            new Effect("EnableLowPass on", () -> p.EnableLowPass(0, true), 1),
            new Effect("EnableLowPass off", () -> p.EnableLowPass(0, false), 1),
            new Effect("SetHighPassCutOff", () -> p.SetHighPassCutOff(0, 100), 1),
            new Effect("SetHighPassResonance", () -> p.SetHighPassResonance(0, 2000), 1),
            new Effect("EnableHighPass on", () -> p.EnableHighPass(0, true), 1),
            new Effect("EnableHighPass off", () -> p.EnableHighPass(0, false), 1),
            new Effect("SetEcho on", () -> p.SetEcho(0, true, 250.0, 0.5, 1.0, 0.5), 1),
            new Effect("SetEcho off", () -> p.SetEcho(0, false, 250.0, 0.5, 1.0, 0.5), 1),
            new Effect("SetFlanger on", () -> p.SetFlanger(0, true, 0.5f, 1.0f, 0.0f, 0.25f), 1),
            new Effect("SetFlanger off", () -> p.SetFlanger(0, false, 0.5f, 1.0f, 0.0f, 0.25f), 1),
            new Effect("SetPitch", () -> p.SetPitch(0, 1.5f), 0),
            new Effect("SetPitchShifter", () -> p.SetPitchShifter(0, 1.5f), 0),
            new Effect("SetNormalizer", () -> p.SetNormalizer(5000f, 0.1f, 20f), 1),
            new Effect("SetNormalizerCompressor", () -> p.SetNormalizerCompressor(10f, 100f, -10f, 3f), 1),
            new Effect("EnableNormalizer on", () -> p.EnableNormalizer(true), 1),
            new Effect("EnableNormalizer off", () -> p.EnableNormalizer(false), 1),
            new Effect("enableVirtualVinyl on", () -> p.enableVirtualVinyl(0, true), 1),
            new Effect("setVirtualVTMode", () -> p.setVirtualVTMode(0, 1.0), 1),
            new Effect("setVirtualVTInertia", () -> p.setVirtualVTInertia(0, 0.5), 1),
            new Effect("setVirtualVelocity inside the track", () -> p.setVirtualVelocity(0, 5000, 0.1), 1),
            // Passed whole, 2^32 + 5000 lies beyond the track (cut to 32 bits it would be 5000).
            new Effect("setVirtualVelocity 2^32 + 5000", () -> p.setVirtualVelocity(0, 4294967296L + 5000, 0.1), -4),
            new Effect("setVirtualVelocity 5000000000", () -> p.setVirtualVelocity(0, 5000000000L, 0.1), -4),
            new Effect("enableVirtualVinyl off", () -> p.enableVirtualVinyl(0, false), 1),
            new Effect("AGCenable on", () -> p.AGCenable(0, true), 1),
            new Effect("AGCsetOutputLevel", () -> p.AGCsetOutputLevel(0, 0.5f), 1),
            new Effect("AGCenable off", () -> p.AGCenable(0, false), 1),
            new Effect("SetEqLow back", () -> p.SetEqLow(0, 5000), 1),
            new Effect("SetEqMid back", () -> p.SetEqMid(0, 5000), 1),
            new Effect("SetEqHigh back", () -> p.SetEqHigh(0, 5000), 1),
        };
        for (Effect e : effects) {
            Check.test("effect on the playing deck: " + e.name, () -> Check.equal(e.expected, e.call.call(), e.name));
        }

        Check.test("SetPitch and SetPitchShifter answer alike", () -> {
            float[] values = {0.5f, 1.0f, 2.0f, -1.0f};
            for (int deck : new int[] {0, 1, 5}) {
                for (float v : values) Check.equal(p.SetPitchShifter(deck, v), p.SetPitch(deck, v), "deck " + deck + ", " + v);
            }
        });

        Check.test("stop rewinds, unload empties the deck", () -> {
            Check.equal(1L, p.Stop(0), "Stop");
            Check.equal(false, p.IsPlaying(0), "IsPlaying after Stop");
            Check.isTrue(waitForPosition(p, 0, ms -> ms == 0, 5000), "position back at 0");
            Check.equal(1L, p.Unload(0), "Unload 0");
            Check.equal(1L, p.Unload(1), "Unload 1");
            Check.equal(0L, p.GetChannelHandle(0), "no channel after Unload");
            Check.equal(false, p.IsPlaying(0), "IsPlaying after Unload");
        });

        Check.test("the main card (slot 0) received the deck's audio", () -> {
            Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer");
            Wav.Data main = Wav.read(mainWav);
            Check.isTrue(main.frames() > RATE, "frames written: " + main.frames());
            double rms = main.rms(0, main.frames());
            Check.isTrue(rms > 0.01, "main card RMS " + rms);
        });

        Check.finish();
    }
}
