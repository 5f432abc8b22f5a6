package harness;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.concurrent.Callable;
import model.PlayerNative;

/**
 * The deck and deck-effect exports without a sound card: every one of them before start-up (each
 * answers with its engine entry point's "not started" result, so a mixed-up forwarder shows), the
 * out-buffer rules of the value queries, levels and raw length, null strings and null byte arrays,
 * and negative deck indexes once the engine runs without outputs.
 */
public final class DeckExportsTest {
    private DeckExportsTest() {}

    static final int GARBAGE = 0x5A5A5A5A;

    /** An export called with ordinary arguments, and the answer it must give. */
    record Call(String name, Callable<Object> call, Object expected) {}

    static ByteBuffer direct(int bytes) {
        ByteBuffer b = ByteBuffer.allocateDirect(bytes).order(ByteOrder.nativeOrder());
        for (int i = 0; i + 4 <= bytes; i += 4) b.putInt(i, GARBAGE);
        return b;
    }

    /** A value query's status must be 1; the value it wrote comes back. */
    interface Query {
        long run(int deck, ByteBuffer out, int count);
    }

    static Object queryInt(Query q) {
        ByteBuffer b = direct(4);
        long r = q.run(0, b, 1);
        if (r != 1) return "status " + r;
        return b.getInt(0);
    }

    static Object queryFloat(Query q) {
        ByteBuffer b = direct(4);
        long r = q.run(0, b, 1);
        if (r != 1) return "status " + r;
        return b.getFloat(0);
    }

    public static void main(String[] args) throws Exception {
        PlayerNative p = new PlayerNative();
        byte[] path = "/nonexistent/track.wav".getBytes();

        // Before start-up. Values as the engine's entry points answer when not started.
        Call[] notStarted = {
            new Call("Load", () -> p.Load(0, path, 0, 1), -1L),
            new Call("LoadUnicode", () -> p.LoadUnicode(0, "/nonexistent/track.wav", 0, 1), -1L),
            new Call("Unload", () -> p.Unload(0), -2L),
            new Call("Play", () -> p.Play(0, true), -2L),
            new Call("Stop", () -> p.Stop(0), -2L),
            new Call("IsPlaying", () -> p.IsPlaying(0), false),
            new Call("SetPosition", () -> p.SetPosition(0, 1000), -1L),
            new Call("GetPosition", () -> queryInt(p::GetPosition), -1),
            new Call("GetLength", () -> queryInt(p::GetLength), 0),
            new Call("CalcSongLengthRaw", () -> p.CalcSongLengthRaw(0, direct(4), 1), -1L),
            new Call("SetVolume", () -> p.SetVolume(0, 5000), -2L),
            new Call("SetVolumeMonitor", () -> p.SetVolumeMonitor(0, 5000), -2L),
            new Call("GetVolume", () -> queryInt(p::GetVolume), 0),
            new Call("GetVolumeMonitor", () -> queryInt(p::GetVolumeMonitor), 0),
            new Call("SetMute", () -> p.SetMute(0, true), -2L),
            new Call("SetMuteMonitor", () -> p.SetMuteMonitor(0, true), -2L),
            new Call("SetPan", () -> p.SetPan(0, 5000), -1L),
            new Call("SetGain", () -> p.SetGain(0, 5000), -1L),
            new Call("SetFrequencyPitch", () -> p.SetFrequencyPitch(0, 5000), -2L),
            new Call("SetFrequencyPitchEx", () -> p.SetFrequencyPitchEx(0, 1.0), -2L),
            new Call("SetTimeStretcher", () -> p.SetTimeStretcher(0, 5000), 0L),
            new Call("SetReverse", () -> p.SetReverse(0, true), -1L),
            new Call("SetLoop", () -> p.SetLoop(0, true, false), -1L),
            new Call("SetLoopPoints", () -> p.SetLoopPoints(0, 1000, 2000), -1L),
            new Call("IsLooping", () -> p.IsLooping(0), false),
            new Call("AddPlaybackSnippet", () -> p.AddPlaybackSnippet(0, 1000, 2000), -1L),
            new Call("FrameSearchForward", () -> p.FrameSearchForward(0, 1), 0L),
            new Call("FrameSearchBackward", () -> p.FrameSearchBackward(0, 1), 0L),
            new Call("SetFrameSearchLength", () -> p.SetFrameSearchLength(0, 100), 0L),
            new Call("SetBufferSize", () -> p.SetBufferSize(0, 4096), -1L),
            new Call("GetChannelHandle", () -> p.GetChannelHandle(0), -1L),
            new Call("GetBPM", () -> queryFloat(p::GetBPM), 0.0f),
            new Call("GetTone", () -> p.GetTone(0), ""),
            new Call("startBeatTracking", () -> p.startBeatTracking(0, true), -2L),
            new Call("SetEqLow", () -> p.SetEqLow(0, 5000), -2L),
            new Call("SetEqMid", () -> p.SetEqMid(0, 5000), -2L),
            new Call("SetEqHigh", () -> p.SetEqHigh(0, 5000), -2L),
            new Call("SetEqBandWidth", () -> p.SetEqBandWidth(0, 1.0f), -2L),
            new Call("SetCutOff", () -> p.SetCutOff(0, 5000), -1L),
            new Call("SetResonance", () -> p.SetResonance(0, 5000), -1L),
            new Call("EnableLowPass", () -> p.EnableLowPass(0, true), -1L),
            new Call("SetHighPassCutOff", () -> p.SetHighPassCutOff(0, 5000), -1L),
            new Call("SetHighPassResonance", () -> p.SetHighPassResonance(0, 5000), -1L),
            new Call("EnableHighPass", () -> p.EnableHighPass(0, true), -1L),
            new Call("SetEcho", () -> p.SetEcho(0, true, 300.0, 0.5, 1.0, 0.5), -1L),
            new Call("SetFlanger", () -> p.SetFlanger(0, true, 0.5f, 1.0f, 0.0f, 0.25f), 0L),
            new Call("SetPitch", () -> p.SetPitch(0, 1.5f), 0L),
            new Call("SetPitchShifter", () -> p.SetPitchShifter(0, 1.5f), 0L),
            new Call("SetNormalizer", () -> p.SetNormalizer(5000f, 0.1f, 20f), -1L),
            new Call("SetNormalizerCompressor", () -> p.SetNormalizerCompressor(10f, 100f, -10f, 0f), -1L),
            new Call("EnableNormalizer", () -> p.EnableNormalizer(true), -1L),
            new Call("enableVirtualVinyl", () -> p.enableVirtualVinyl(0, true), -1L),
            new Call("setVirtualVelocity", () -> p.setVirtualVelocity(0, 5000000000L, 0.1), -1L),
            new Call("setVirtualVTMode", () -> p.setVirtualVTMode(0, 1.0), -1L),
            new Call("setVirtualVTInertia", () -> p.setVirtualVTInertia(0, 0.5), -1L),
            new Call("AGCenable", () -> p.AGCenable(0, true), -1L),
            new Call("AGCsetOutputLevel", () -> p.AGCsetOutputLevel(0, 0.5f), -1L),
            new Call("AGCsetAttackDelay", () -> p.AGCsetAttackDelay(0, 10, 20), 1L),
        };
        for (Call c : notStarted) {
            Check.test("before start-up: " + c.name, () -> Check.equal(c.expected, c.call.call(), c.name));
        }

        Check.test("before start-up: GetLevels returns 1 and leaves the buffer alone", () -> {
            ByteBuffer b = direct(8);
            Check.equal(1L, p.GetLevels(0, b, 2), "status");
            Check.equal(GARBAGE, b.getInt(0), "left untouched");
            Check.equal(GARBAGE, b.getInt(4), "right untouched");
        });

        Check.test("AGCsetAttackDelay returns 1 whatever it is given", () -> {
            Check.equal(1L, p.AGCsetAttackDelay(-1, -1, -1), "negative");
            Check.equal(1L, p.AGCsetAttackDelay(Integer.MAX_VALUE, 0, Integer.MIN_VALUE), "extremes");
        });

        Check.test("LoadUnicode with a null path: NullPointerException, nothing loaded", () -> {
            Check.throwsNpe(() -> p.LoadUnicode(0, null, 0, 1), "LoadUnicode(null)");
            Check.equal(false, p.IsPlaying(0), "still nothing playing");
        });

        // Out-buffer rules, shown on GetPosition (-1 before start-up), GetLevels and the raw length.
        record BufferCase(String name, Callable<Long> call, ByteBuffer buffer, long expected, Integer written) {}
        ByteBuffer[] b = new ByteBuffer[8];
        for (int i = 0; i < b.length; i++) b[i] = direct(8);
        ByteBuffer one = direct(1);
        ByteBuffer heap = ByteBuffer.allocate(8).order(ByteOrder.nativeOrder());
        heap.putInt(0, GARBAGE).putInt(4, GARBAGE);
        BufferCase[] buffers = {
            new BufferCase("GetPosition count 1 writes -1", () -> p.GetPosition(0, b[0], 1), b[0], 1, -1),
            new BufferCase("GetPosition count 0, capacity 8: refused", () -> p.GetPosition(0, b[1], 0), b[1], -4, GARBAGE),
            new BufferCase("GetPosition count 2: refused", () -> p.GetPosition(0, b[2], 2), b[2], -4, GARBAGE),
            new BufferCase("GetPosition count 1, one-byte buffer: too small", () -> p.GetPosition(0, one, 1), null, -4, null),
            new BufferCase("GetPosition count 1, null buffer: 1, nothing written", () -> p.GetPosition(0, null, 1), null, 1, null),
            new BufferCase("GetPosition count 0, null buffer: refused", () -> p.GetPosition(0, null, 0), null, -4, null),
            new BufferCase("GetPosition count 1, heap buffer: 1, nothing written", () -> p.GetPosition(0, heap, 1), heap, 1, GARBAGE),
            new BufferCase("GetLevels count 1, one-byte buffer: refused", () -> p.GetLevels(0, one, 1), null, -4, null),
            new BufferCase("GetLevels count 2, 4-byte buffer: too small", () -> p.GetLevels(0, direct(4), 2), null, -4, null),
            new BufferCase("GetLevels count 2, null buffer: 1", () -> p.GetLevels(0, null, 2), null, 1, null),
            new BufferCase("GetLevels count 0, null buffer: refused", () -> p.GetLevels(0, null, 0), null, -4, null),
            new BufferCase("CalcSongLengthRaw null buffer: refused", () -> p.CalcSongLengthRaw(0, null, 1), null, -4, null),
            new BufferCase("CalcSongLengthRaw heap buffer: refused", () -> p.CalcSongLengthRaw(0, heap, 1), heap, -4, GARBAGE),
            new BufferCase("CalcSongLengthRaw count 0, capacity 8: refused", () -> p.CalcSongLengthRaw(0, b[3], 0), b[3], -4, GARBAGE),
            new BufferCase("GetVolume count 3: refused", () -> p.GetVolume(0, b[4], 3), b[4], -4, GARBAGE),
            new BufferCase("GetBPM count 1, one-byte buffer: too small", () -> p.GetBPM(0, one, 1), null, -4, null),
        };
        for (BufferCase c : buffers) {
            Check.test("out-buffer: " + c.name, () -> {
                Check.equal(c.expected, c.call.call(), "status");
                if (c.buffer != null && c.written != null) Check.equal(c.written, c.buffer.getInt(0), "first value");
                if (c.buffer != null) Check.equal(GARBAGE, c.buffer.getInt(4), "nothing beyond the value");
            });
        }

        // Started without outputs: decks exist, but none can be loaded; negative indexes never
        // reach the registry.
        Check.test("started without outputs: empty byte-array path and negative decks", () -> {
            Check.equal(1L, p.InitPlayer2(2), "start-up without outputs");
            Check.equal(-16L, p.Load(0, null, 0, 1), "Load with a null byte array: the core refuses \"\"");
            Check.equal(-16L, p.Load(0, new byte[0], 0, 1), "Load with an empty byte array");
            Check.equal(-2L, p.Stop(-1), "Stop(-1)");
            Check.equal(-2L, p.startBeatTracking(-1, true), "startBeatTracking(-1)");
            Check.equal(false, p.IsPlaying(-1), "IsPlaying(-1)");
            Check.equal(0L, p.GetChannelHandle(-1), "GetChannelHandle(-1)");
            Check.equal(0L, p.GetChannelHandle(0), "an empty deck has no channel");
            Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer");
        });

        Check.finish();
    }
}
