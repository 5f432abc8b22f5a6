package harness;

import java.nio.ByteBuffer;
import java.nio.IntBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.Callable;
import model.PlayerNative;

/**
 * The sampler and master-bus exports: each one before start-up (the engine's "not started",
 * "empty slot" or "no band" answers, so a mixed-up forwarder shows), bad slots, null strings and
 * out-buffers of the wrong kind or size, then on a virtual card: a sample loaded through each
 * string form, its length and position read back, master bands, gain, volume and levels, and the
 * sampler after shutdown.
 *
 * Argument: dir=PATH, a scratch folder for the sample and the device table
 * (PELLWARDEN_DEVICE_TABLE names dir/devices.table).
 */
public final class SamplerMasterExportsTest {
    private SamplerMasterExportsTest() {}

    static final int GARBAGE = DeckExportsTest.GARBAGE;
    static final int RATE = 44100;

    record Call(String name, Callable<Object> call, Object expected) {}

    static ByteBuffer direct(int bytes) {
        return DeckExportsTest.direct(bytes);
    }

    /** A direct buffer of exactly `ints` ints, as GetSampleLength wants one. */
    static IntBuffer ints(int ints) {
        IntBuffer b = direct(4 * ints).asIntBuffer();
        for (int i = 0; i < ints; i++) b.put(i, GARBAGE);
        return b;
    }

    static void run(Call[] calls, String when) {
        for (Call c : calls) Check.test(when + ": " + c.name, () -> Check.equal(c.expected, c.call.call(), c.name));
    }

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        Files.createDirectories(dir);
        Files.writeString(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")),
            "output name=\"Card1\" channels=2 sink=discard pacing=realtime\n");
        Path shot = dir.resolve("shot Töne.wav");  // not ASCII: UTF-8 bytes and UTF-16 both reach it
        Wav.write16(shot, RATE, 2, RATE / 4, Wav.sine(RATE, 441.0, 0.5));
        byte[] shotBytes = shot.toString().getBytes(StandardCharsets.UTF_8);

        PlayerNative p = new PlayerNative();
        Call[] notStarted = {
            new Call("LoadSample", () -> p.LoadSample(3, shotBytes), -1L),
            new Call("LoadSampleUnicode", () -> p.LoadSampleUnicode(3, shot.toString()), -1L),
            new Call("LoadSampleAdvanced", () -> p.LoadSampleAdvanced(3, shot.toString(), true), -1L),
            new Call("UnloadSample", () -> p.UnloadSample(3), -24L),
            new Call("PlaySample", () -> p.PlaySample(3, false), -30L),
            new Call("SetSampleVolume", () -> p.SetSampleVolume(3, 5000), -24L),
            new Call("SetSampleFrequencyPitch", () -> p.SetSampleFrequencyPitch(3, 1.5f), -24L),
            new Call("SetSamplePosition", () -> p.SetSamplePosition(3, 100), -24L),
            new Call("SetSampleMode", () -> p.SetSampleMode(3, true), -24L),
            new Call("GetSampleLength", () -> p.GetSampleLength(3, ints(1)), -24L),
            new Call("GetSamplePosition", () -> p.GetSamplePosition(3, direct(4), 1), -24L),
            new Call("SetMasterEq", () -> PlayerNative.SetMasterEq(0, 5000, true), -12L),
            new Call("AddMasterEq", () -> p.AddMasterEq(1000f, 1f), -1L),
            new Call("SetMasterGain", () -> p.SetMasterGain(7500), -1L),
            new Call("SetMasterVolume", () -> p.SetMasterVolume(5000), -1L),
            new Call("SetNormalizerGain", () -> p.SetNormalizerGain(0.5f), -1L),
            new Call("addVSTMasterEffect", () -> p.addVSTMasterEffect("plugin"), -16L),
            new Call("addVSTMasterEffect(null)", () -> p.addVSTMasterEffect(null), -16L),
            new Call("enableVSTMasterEffect", () -> p.enableVSTMasterEffect(-1, true), -16L),
            new Call("isVSTNativeSupported", () -> p.isVSTNativeSupported(), false),
            new Call("SetupSampler(65)", () -> p.SetupSampler(65), -5L),
            new Call("SetupSampler(-1)", () -> p.SetupSampler(-1), -5L),
        };
        run(notStarted, "before start-up");

        Check.test("before start-up: GetMasterLevels returns 1 and leaves the buffer alone", () -> {
            ByteBuffer b = direct(8);
            Check.equal(1L, p.GetMasterLevels(b, 2), "status");
            Check.equal(GARBAGE, b.getInt(0), "left");
            Check.equal(GARBAGE, b.getInt(4), "right");
        });

        Check.test("slots outside 0..64 answer -23 in every slot export", () -> {
            for (int slot : new int[] {-1, 65}) {
                Check.equal(-23L, p.LoadSample(slot, shotBytes), "LoadSample " + slot);
                Check.equal(-23L, p.LoadSampleUnicode(slot, shot.toString()), "LoadSampleUnicode " + slot);
                Check.equal(-23L, p.LoadSampleAdvanced(slot, shot.toString(), false), "LoadSampleAdvanced " + slot);
                Check.equal(-23L, p.UnloadSample(slot), "UnloadSample " + slot);
                Check.equal(-23L, p.PlaySample(slot, true), "PlaySample " + slot);
                Check.equal(-23L, p.SetSampleVolume(slot, 1), "SetSampleVolume " + slot);
                Check.equal(-23L, p.SetSampleFrequencyPitch(slot, 1f), "SetSampleFrequencyPitch " + slot);
                Check.equal(-23L, p.SetSamplePosition(slot, 1), "SetSamplePosition " + slot);
                Check.equal(-23L, p.SetSampleMode(slot, false), "SetSampleMode " + slot);
                Check.equal(-23L, p.GetSampleLength(slot, ints(1)), "GetSampleLength " + slot);
                Check.equal(-23L, p.GetSamplePosition(slot, direct(4), 1), "GetSamplePosition " + slot);
            }
        });

        Check.test("null strings: NullPointerException from the String forms, the empty path from LoadSample", () -> {
            Check.throwsNpe(() -> p.LoadSampleUnicode(3, null), "LoadSampleUnicode(null)");
            Check.throwsNpe(() -> p.LoadSampleAdvanced(3, null, true), "LoadSampleAdvanced(null)");
            Check.equal(-1L, p.LoadSample(3, null), "LoadSample(null) reaches the engine");
            Check.equal(-1L, p.LoadSample(3, new byte[0]), "LoadSample(empty)");
        });

        record BufferCase(String name, Callable<Long> call, long expected) {}
        IntBuffer heapInt = IntBuffer.allocate(1);
        BufferCase[] buffers = {
            new BufferCase("GetSampleLength, two ints: refused", () -> p.GetSampleLength(3, ints(2)), -4),
            new BufferCase("GetSampleLength, null: refused", () -> p.GetSampleLength(3, null), -4),
            new BufferCase("GetSampleLength, heap buffer: refused", () -> p.GetSampleLength(3, heapInt), -4),
            new BufferCase("GetSamplePosition count 2: refused", () -> p.GetSamplePosition(3, direct(8), 2), -4),
            new BufferCase("GetSamplePosition count 1, one byte: refused", () -> p.GetSamplePosition(3, direct(1), 1), -4),
            new BufferCase("GetSamplePosition count 1, null: 1", () -> p.GetSamplePosition(3, null, 1), 1),
            new BufferCase("GetSamplePosition count 0, null: refused", () -> p.GetSamplePosition(3, null, 0), -4),
            new BufferCase("GetMasterLevels count 2, 4 bytes: refused", () -> p.GetMasterLevels(direct(4), 2), -4),
            new BufferCase("GetMasterLevels count 1, 8 bytes: refused", () -> p.GetMasterLevels(direct(8), 1), -4),
            new BufferCase("GetMasterLevels count 2, null: 1", () -> p.GetMasterLevels(null, 2), 1),
            new BufferCase("GetMasterLevels count 0, null: refused", () -> p.GetMasterLevels(null, 0), -4),
        };
        for (BufferCase c : buffers) Check.test("out-buffer: " + c.name, () -> Check.equal(c.expected, c.call.call(), "status"));

        Check.test("start-up on a virtual card; the first SetupSampler", () -> {
            Check.equal(1L, p.InitPlayer(), "InitPlayer");
            Check.equal(1L, p.SetupSampler(0), "SetupSampler(0)");
        });

        Check.test("each load form on a card; length and position read back", () -> {
            Check.equal(1L, p.LoadSample(3, shotBytes), "LoadSample (UTF-8 bytes)");
            Check.equal(1L, p.LoadSampleUnicode(4, shot.toString()), "LoadSampleUnicode");
            Check.equal(1L, p.LoadSampleAdvanced(5, shot.toString(), true), "LoadSampleAdvanced as a stream");
            Check.equal(-16L, p.LoadSample(6, (dir + "/missing.wav").getBytes(StandardCharsets.UTF_8)), "missing file");
            Check.equal(-16L, p.LoadSample(6, null), "LoadSample(null): the empty path");
            for (int slot = 3; slot <= 5; slot++) {
                IntBuffer length = ints(1);
                Check.equal(1L, p.GetSampleLength(slot, length), "GetSampleLength " + slot);
                Check.equal(250, length.get(0), "length of slot " + slot);
            }
            ByteBuffer position = direct(4);
            Check.equal(-24L, p.GetSamplePosition(3, position, 1), "never played");
            Check.equal(1L, p.SetSampleMode(3, true), "SetSampleMode");
            Check.equal(1L, p.SetSampleVolume(3, 8000), "SetSampleVolume");
            Check.equal(1L, p.SetSampleFrequencyPitch(3, 1.25f), "SetSampleFrequencyPitch");
            Check.equal(1L, p.PlaySample(3, false), "PlaySample");
            Check.equal(1L, p.SetSamplePosition(3, 100), "SetSamplePosition");
            Check.equal(1L, p.GetSamplePosition(3, position, 1), "GetSamplePosition");
            Check.isTrue(position.getInt(0) >= 0 && position.getInt(0) < 250, "a looping slot is inside its sample: "
                + position.getInt(0));
            Check.equal(1L, p.UnloadSample(4), "UnloadSample");
            Check.equal(-24L, p.UnloadSample(4), "UnloadSample again");
        });

        Check.test("master bus on a card", () -> {
            Check.equal(-12L, PlayerNative.SetMasterEq(0, 10000, true), "no band yet");
            Check.equal(1L, p.AddMasterEq(1000f, 1f), "AddMasterEq");
            Check.equal(1L, PlayerNative.SetMasterEq(0, 10000, true), "SetMasterEq");
            Check.equal(-12L, PlayerNative.SetMasterEq(1, 10000, true), "band 1 does not exist");
            Check.equal(1L, p.SetMasterGain(7500), "SetMasterGain");
            Check.equal(1L, p.SetNormalizerGain(0.5f), "SetNormalizerGain");
            Check.equal(1L, p.SetMasterVolume(8000), "SetMasterVolume");
            ByteBuffer levels = direct(8);
            Check.equal(1L, p.GetMasterLevels(levels, 2), "GetMasterLevels");
            Check.isTrue(levels.getInt(0) >= 0 && levels.getInt(4) >= 0, "levels written");
        });

        Check.test("after shutdown every sampler export answers without touching released objects", () -> {
            Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer");
            Check.equal(-24L, p.UnloadSample(3), "UnloadSample");
            Check.equal(-30L, p.PlaySample(3, false), "PlaySample");
            Check.equal(-24L, p.SetSampleVolume(3, 5000), "SetSampleVolume");
            Check.equal(-24L, p.GetSampleLength(3, ints(1)), "GetSampleLength");
            Check.equal(-24L, p.GetSamplePosition(3, direct(4), 1), "GetSamplePosition");
            Check.equal(-1L, p.LoadSample(3, shotBytes), "LoadSample");
            Check.equal(1L, p.SetupSampler(0), "SetupSampler");
            Check.equal(-12L, PlayerNative.SetMasterEq(0, 5000, true), "SetMasterEq");
        });

        Check.finish();
    }
}
