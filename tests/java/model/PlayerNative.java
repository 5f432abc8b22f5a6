package model;

import java.util.ArrayList;

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
        System.loadLibrary("Pellwarden64");
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

    /**
     * Called by the deck beat tracker's thread with the beats found so far ("(IZLjava/util/ArrayList;D)I").
     * The harness keeps the last report; its result is not used by the library.
     */
    public static volatile ArrayList<Object> lastBeatList;
    public static volatile int lastBeatDeck = -1;
    public static volatile boolean lastBeatFinished;
    public static volatile double lastBeatPercent;

    public static int updateBeatList(int deck, boolean finished, ArrayList<Object> beats, double percent) {
        lastBeatDeck = deck;
        lastBeatFinished = finished;
        lastBeatList = beats;
        lastBeatPercent = percent;
        return 0;
    }
}
