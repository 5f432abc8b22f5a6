package model;

import java.util.ArrayList;
import java.util.List;

/**
 * The engine library's native methods, as the application declares them. Every method that
 * reports a status returns it as a long (the engine's int, sign-extended); strings come back as
 * Strings. The build runs javac -h on this class and compiles the exports against the header, so a
 * declaration here and its export cannot drift apart.
 *
 * Methods marked "ignored" take no parameters the library reads; their lists here are free.
 */
public class PlayerNative {
    static {
        // libPellwarden64 in a 64-bit VM, libPellwarden in a 32-bit one.
        System.loadLibrary("64".equals(System.getProperty("sun.arch.data.model")) ? "Pellwarden64" : "Pellwarden");
    }

    // ---- Start-up and shutdown ----
    public native long InitPlayer();
    public native long InitPlayer2(int mode);
    public native long InitPlayer3(int mode, int resampler, int rate);
    public native long InitPlayer4(int mode, int resampler, int rate, int quality);
    public native long CleanupPlayer();

    // ---- Settings ----
    public native long SetBufferSizes(int stream, int dspBlock, int dspCount);
    public native long SetBufferSizesMS(int stream, int dspMs);
    public native long SetPreferredASIODriver(int driver);
    public native long ASIOControlPanel();
    public native boolean IsASIOSupported();  // ignored
    public native long SetScratchQuality(int quality);
    public native long SetDebug(boolean on);
    public native long SetDumpFolder(String folder);
    public native long SetMemDumpDirectory(String directory);  // ignored

    // ---- Information ----
    public native String GetVersion();
    public native String getUUID();
    public native String GetSupportedAudioFiles();
    public native String GetSupportedFiles();
    public native String GetSupportedVideoFiles();
    public native String getReg(String key);  // ignored
    public native String getRegSubKey(String key, String subKey);  // ignored

    // ---- Text commands ----
    // A command line, name(arg1,arg2,...), answered with the engine's text reply.
    public native String Command(String command);


    // ---- Decks ----
    // Out-buffers are direct ByteBuffers in the machine's byte order; `count` is the number of
    // 32-bit values the caller made room for (1, or 2 for GetLevels).
    public native long Load(int deck, byte[] path, int mainSlot, int cueSlot);
    public native long LoadUnicode(int deck, String path, int mainSlot, int cueSlot);
    public native long Unload(int deck);
    public native long Play(int deck, boolean play);
    public native long Stop(int deck);
    public native boolean IsPlaying(int deck);
    public native long SetPosition(int deck, int ms);
    public native long GetPosition(int deck, java.nio.ByteBuffer out, int count);
    public native long GetLength(int deck, java.nio.ByteBuffer out, int count);
    public native long CalcSongLengthRaw(int deck, java.nio.ByteBuffer out, int count);
    public native long SetVolume(int deck, int volume);
    public native long SetVolumeMonitor(int deck, int volume);
    public native long GetVolume(int deck, java.nio.ByteBuffer out, int count);
    public native long GetVolumeMonitor(int deck, java.nio.ByteBuffer out, int count);
    public native long SetMute(int deck, boolean mute);
    public native long SetMuteMonitor(int deck, boolean mute);
    public native long SetPan(int deck, int pan);
    public native long SetGain(int deck, int gain);
    public native long GetLevels(int deck, java.nio.ByteBuffer out, int count);
    public native long SetFrequencyPitch(int deck, int value);
    public native long SetFrequencyPitchEx(int deck, double value);
    public native long SetTimeStretcher(int deck, int value);
    public native long SetReverse(int deck, boolean reverse);
    public native long SetLoop(int deck, boolean on, boolean flag);
    public native long SetLoopPoints(int deck, long startMs, long endMs);
    public native boolean IsLooping(int deck);
    public native long AddPlaybackSnippet(int deck, long startMs, long endMs);
    public native long FrameSearchForward(int deck, int step);
    public native long FrameSearchBackward(int deck, int step);
    public native long SetFrameSearchLength(int deck, int ms);
    public native long SetBufferSize(int deck, int size);
    public native long GetChannelHandle(int deck);
    public native long GetBPM(int deck, java.nio.ByteBuffer out, int count);
    public native String GetTone(int deck);
    public native long startBeatTracking(int deck, boolean on);

    // ---- Deck effects, vinyl and gain control ----
    public native long SetEqLow(int deck, int value);
    public native long SetEqMid(int deck, int value);
    public native long SetEqHigh(int deck, int value);
    public native long SetEqBandWidth(int deck, float width);
    public native long SetCutOff(int deck, int value);
    public native long SetResonance(int deck, int value);
    public native long EnableLowPass(int deck, boolean on);
    public native long SetHighPassCutOff(int deck, int value);
    public native long SetHighPassResonance(int deck, int value);
    public native long EnableHighPass(int deck, boolean on);
    public native long SetEcho(int deck, boolean on, double p1, double p2, double p3, double p4);
    public native long SetFlanger(int deck, boolean on, float p1, float p2, float p3, float p4);
    public native long SetPitch(int deck, float value);
    public native long SetPitchShifter(int deck, float value);
    public native long SetNormalizer(float p1, float p2, float p3);
    public native long SetNormalizerCompressor(float p1, float p2, float p3, float p4);
    public native long EnableNormalizer(boolean on);
    public native long enableVirtualVinyl(int deck, boolean on);
    public native long setVirtualVelocity(int deck, long position, double time);
    public native long setVirtualVTMode(int deck, double mode);
    public native long setVirtualVTInertia(int deck, double inertia);
    public native long AGCenable(int deck, boolean on);
    public native long AGCsetOutputLevel(int deck, float level);
    public native long AGCsetAttackDelay(int deck, int attack, int delay);  // ignored

    // ---- Mix-down and conversion ----
    // Recording to WAV: the mix of two decks' outputs (MixDown*) or one deck (PlayerMixDown*).
    // ConvertFile writes any playable file as 16-bit WAV; `listener` is any object with a
    // setValue(int) method (progress in percent, may be null), `cancel` a direct buffer whose first
    // int, set to 1, stops the conversion (may be null).
    public native long MixDownsetup(int deckA, int deckB);
    public native long MixDownopenFile(String path, int format, int bitrate, int extra, String text1, String text2);
    public native long MixDownsetGain(float gainA, float gainB);
    public native long MixDownstart();
    public native long MixDownpause();
    public native long MixDownclose();
    public native String MixDownqueryXMLDescription();
    public native String MixDownqueryBitrates();
    public native String MixDownqueryFormats();
    public native long MixDowngetLevels(java.nio.ByteBuffer out, int count);
    public native long PlayerMixDownopenFile(int deck, String path, int format, int bitrate);
    public native long PlayerMixDownstart(int deck);
    public native long PlayerMixDownclose(int deck);
    public native long ConvertFile(String source, String target, Object listener, java.nio.ByteBuffer cancel,
                                   int format, int bitrate);

    // ---- Sampler and master bus ----
    // Sample slots 0..64. GetSampleLength has no count: its buffer must hold exactly one int (a
    // direct IntBuffer, e.g. ByteBuffer.allocateDirect(4).order(nativeOrder()).asIntBuffer()).
    // GetMasterLevels writes two ints, left then right.
    public native long LoadSample(int slot, byte[] path);
    public native long LoadSampleUnicode(int slot, String path);
    public native long LoadSampleAdvanced(int slot, String path, boolean stream);
    public native long UnloadSample(int slot);
    public native long SetupSampler(int outputSlot);
    public native long PlaySample(int slot, boolean paused);
    public native long SetSampleVolume(int slot, int volume);
    public native long SetSampleFrequencyPitch(int slot, float pitch);
    public native long SetSamplePosition(int slot, int ms);
    public native long SetSampleMode(int slot, boolean loop);
    public native long GetSampleLength(int slot, java.nio.IntBuffer out);
    public native long GetSamplePosition(int slot, java.nio.ByteBuffer out, int count);
    public static native long SetMasterEq(int band, int value, boolean enable);
    public native long AddMasterEq(float centreHz, float bandwidth);
    public native long SetMasterGain(int gain);
    public native long SetMasterVolume(int volume);
    public native long SetNormalizerGain(float gain);
    public native long GetMasterLevels(java.nio.ByteBuffer out, int count);
    public native long addVSTMasterEffect(String path);  // ignored
    public native long enableVSTMasterEffect(int index, boolean on);  // ignored
    public native boolean isVSTNativeSupported();  // ignored

    /**
     * Called by the deck beat tracker's thread with the beats found so far ("(IZLjava/util/ArrayList;D)I").
     * The harness keeps the last report and the log of all reports; its result is not used by the
     * library.
     */
    public static volatile ArrayList<Object> lastBeatList;
    public static volatile int lastBeatDeck = -1;
    public static volatile boolean lastBeatFinished;
    public static volatile double lastBeatPercent;

    /** One call of updateBeatList, as it arrived. */
    public record BeatReport(int deck, boolean finished, ArrayList<Object> beats, double percent) {}

    private static final ArrayList<BeatReport> beatReports = new ArrayList<>();

    /** Run by updateBeatList after the report is logged, on the thread that delivered it. */
    public static volatile java.util.function.Consumer<BeatReport> beatHandler;

    public static int updateBeatList(int deck, boolean finished, ArrayList<Object> beats, double percent) {
        lastBeatDeck = deck;
        lastBeatFinished = finished;
        lastBeatList = beats;
        lastBeatPercent = percent;
        BeatReport report = new BeatReport(deck, finished, beats, percent);
        synchronized (beatReports) {
            beatReports.add(report);
            beatReports.notifyAll();
        }
        java.util.function.Consumer<BeatReport> handler = beatHandler;
        if (handler != null) handler.accept(report);
        return 0;
    }

    /** Waits up to timeoutMs for any report for the deck; null when none came. */
    public static BeatReport awaitReport(int deck, long timeoutMs) throws InterruptedException {
        long end = System.nanoTime() + timeoutMs * 1_000_000L;
        synchronized (beatReports) {
            while (true) {
                for (BeatReport r : beatReports) {
                    if (r.deck() == deck) return r;
                }
                long left = (end - System.nanoTime()) / 1_000_000L;
                if (left <= 0) return null;
                beatReports.wait(left);
            }
        }
    }

    /** A copy of every report received so far, in arrival order. */
    public static List<BeatReport> beatReports() {
        synchronized (beatReports) {
            return new ArrayList<>(beatReports);
        }
    }

    /** Waits up to timeoutMs for a report with finished true for the deck; null when none came. */
    public static BeatReport awaitFinishedReport(int deck, long timeoutMs) throws InterruptedException {
        long end = System.nanoTime() + timeoutMs * 1_000_000L;
        synchronized (beatReports) {
            while (true) {
                for (BeatReport r : beatReports) {
                    if (r.deck() == deck && r.finished()) return r;
                }
                long left = (end - System.nanoTime()) / 1_000_000L;
                if (left <= 0) return null;
                beatReports.wait(left);
            }
        }
    }

    // ---- Analysis, sound files and CDs ----
    // Sound handles come from OpenFileUnicode (0 when the file cannot be opened). Out-buffers are
    // direct buffers of 32-bit values in native order: one int (lengths), one float (BPM, gain),
    // two ints (silence start and end, ms). `listener` has setValue(int); `cancel` is a direct
    // buffer whose first int, set to 1 by another thread, stops the analysis (may be null).
    // AnalyzeData's options and result objects carry the getters and setters the engine calls;
    // beat lists receive com.tarvenkolm.model.pn.BeatEvent objects. GetCDInfo writes the track
    // count (one int) and two zero-terminated texts, each cut to its buffer. GetSongLength has no
    // count: its buffer must hold exactly one int (a direct IntBuffer).
    public native long OpenFileUnicode(String path);
    public native long CloseFile(long sound);
    public native long GetSongLength(long sound, java.nio.IntBuffer out);
    public native long CalcSongLength(byte[] path, java.nio.ByteBuffer out, int count);
    public native long CalcSongLengthUnicode(String path, java.nio.ByteBuffer out, int count);
    public native long CalcBPM(byte[] path, java.nio.ByteBuffer bpm, int count, Object listener);
    public native long CalcBPMUnicode(String path, java.nio.ByteBuffer bpm, int count, Object listener,
                                      java.nio.ByteBuffer cancel, int precision, Object beatList);
    public native long CalcReplayGain(byte[] path, java.nio.ByteBuffer gain, int count, Object listener);
    public native long CalcReplayGainUnicode(String path, java.nio.ByteBuffer gain, int count, Object listener,
                                             java.nio.ByteBuffer cancel);
    public native long CalcSilenceDBUnicode(String path, java.nio.ByteBuffer out, int count, float thresholdDb);
    public native long CalcWaveForm(long sound, long startMs, java.nio.ByteBuffer target, int targetBytes,
                                    double msPerPoint);
    public native long AnalyzeData(Object listener, java.nio.ByteBuffer cancel, long sound, Object options,
                                   Object result, boolean throttle);
    public native long setupBeatOptions(int precision, float minBpm, float maxBpm);
    public native long GetCDInfo(byte[] drive, java.nio.ByteBuffer tracks, int count1, java.nio.ByteBuffer discId,
                                 int count2, java.nio.ByteBuffer query, int count3);
    public native int CalcKeyTone(String path);  // ignored
    public native long DefineBeatCallback(Object callback);  // ignored
}
