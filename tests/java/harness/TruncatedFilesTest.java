package harness;

import com.tarvenkolm.model.pn.BeatEvent;
import java.nio.ByteBuffer;
import java.nio.IntBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import model.PlayerNative;

/**
 * Files cut short, as an interrupted download or copy leaves them: a click track in each format,
 * cut to 40 % of its bytes, and the same bytes decoded by the usual command-line decoder into a
 * WAV file. Everywhere a file opens (sound handle, quick length, deck, the analyses, conversion)
 * the cut file must give what the reference WAV gives: its length, its samples, its tempo and
 * beats, its silence points and its gain.
 *
 * Argument: dir=PATH, a scratch folder (PELLWARDEN_DEVICE_TABLE names dir/devices.table).
 */
public final class TruncatedFilesTest {
    private TruncatedFilesTest() {}

    static final double CHUNK_MS = AnalysisExportsTest.CHUNK_MS;

    /** One format: how the whole file is made from the click track, how the cut one is decoded. */
    record Format(String name, String encode, String reference, int sampleTolerance) {}

    // %1$s the click track, %2$s the encoded file; %3$s the cut file, %4$s the reference WAV.
    // Vorbis: the decoder tool and ours round floats to 16 bits their own way; so does the 32-bit
    // MP3 library against the 64-bit tool.
    static final Format[] FORMATS = {
        new Format("wav", "cp '%1$s' '%2$s'", "sox '%3$s' -b 16 '%4$s'", 0),
        new Format("aiff", "sox '%1$s' '%2$s'", "sox '%3$s' -b 16 '%4$s'", 0),
        new Format("flac", "flac -s -f '%1$s' -o '%2$s'",
            "flac -s -f -d -F --force-raw-format --endian=little --sign=signed '%3$s' -o '%4$s.raw';"
                + " sox -t raw -e signed -b 16 -c 2 -r 44100 -L '%4$s.raw' '%4$s'", 0),
        new Format("ogg", "oggenc -Q -q 5 '%1$s' -o '%2$s'", "oggdec -Q '%3$s' -o '%4$s'", 1),
        new Format("mp3", "lame --quiet -b 192 '%1$s' '%2$s'", "mpg123 -q -w '%4$s' '%3$s'",
            "32".equals(System.getProperty("sun.arch.data.model")) ? 1 : 0),
        // The index first, as a download that plays while it arrives has it: the cut file opens.
        new Format("m4a", "ffmpeg -loglevel error -y -i '%1$s' -c:a aac -b:a 192k -movflags +faststart '%2$s'",
            "ffmpeg -loglevel error -y -i '%3$s' -c:a pcm_s16le '%4$s'", 1),
    };

    static ByteBuffer direct(int bytes) { return AnalysisExportsTest.direct(bytes); }

    /** What one file gives through every path that opens files. */
    record Figures(int handleMs, int quickMs, long bpmStatus, float bpm, List<Double> beats, long silenceStatus,
                   int silenceStart, int silenceEnd, long gainStatus, float gain, long deckStatus, int deckMs,
                   long sampleStatus, int sampleMs) {
        String summary() {
            return String.format("length %d/%d ms, deck %d %d ms, sample %d %d ms, BPM %d %.3f, %d beats to %.3f s, silence %d %d-%d ms,"
                + " gain %d %.2f dB", handleMs, quickMs, deckStatus, deckMs, sampleStatus, sampleMs, bpmStatus, bpm, beats.size(),
                beats.isEmpty() ? 0.0 : beats.get(beats.size() - 1), silenceStatus, silenceStart, silenceEnd, gainStatus, gain);
        }
    }

    static Figures measure(PlayerNative p, Path file) {
        String path = file.toString();
        long sound = p.OpenFileUnicode(path);
        IntBuffer handleMs = direct(4).asIntBuffer();
        if (sound == 0) Check.fail(file.getFileName() + ": OpenFileUnicode gave no handle");
        else Check.equal(1L, p.GetSongLength(sound, handleMs), "GetSongLength");
        p.CloseFile(sound);
        ByteBuffer quick = direct(4).putInt(0, -1);
        Check.equal(1L, p.CalcSongLengthUnicode(path, quick, 1), file.getFileName() + ": CalcSongLengthUnicode");
        ByteBuffer bpm = direct(4);
        List<BeatEvent> beats = new ArrayList<>();
        long bpmStatus = p.CalcBPMUnicode(path, bpm, 1, null, null, 2, beats);
        List<Double> times = new ArrayList<>();
        for (BeatEvent b : beats) times.add(b.getKeyDown());
        ByteBuffer silence = direct(8).putInt(0, -1).putInt(4, -1);
        long silenceStatus = p.CalcSilenceDBUnicode(path, silence, 2, -60f);
        ByteBuffer gain = direct(4);
        long gainStatus = p.CalcReplayGainUnicode(path, gain, 1, null, null);
        long deckStatus = p.LoadUnicode(0, path, 0, 0);
        ByteBuffer deckMs = direct(4).putInt(0, -1);
        if (deckStatus == 1) {
            p.GetLength(0, deckMs, 1);
            p.Unload(0);
        }
        // A sample is decoded whole into memory when it loads.
        long sampleStatus = p.LoadSampleUnicode(3, path);
        IntBuffer sampleMs = direct(4).asIntBuffer().put(0, -1);
        if (sampleStatus == 1) {
            p.GetSampleLength(3, sampleMs);
            p.UnloadSample(3);
        }
        return new Figures(handleMs.get(0), quick.getInt(0), bpmStatus, bpm.getFloat(0), times, silenceStatus,
            silence.getInt(0), silence.getInt(4), gainStatus, gain.getFloat(0), deckStatus, deckMs.getInt(0),
            sampleStatus, sampleMs.get(0));
    }

    /** Largest difference between the samples two WAV files have in common, in 16-bit steps. */
    static int maxDifference(Wav.Data a, Wav.Data b) {
        int worst = 0;
        for (int i = 0; i < Math.min(a.samples().length, b.samples().length); i++)
            worst = Math.max(worst, Math.round(Math.abs(a.samples()[i] - b.samples()[i]) * 32768f));
        return worst;
    }

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        Files.createDirectories(dir);
        Files.writeString(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")),
            "output name=\"Card1\" channels=2 sink=discard pacing=realtime\n");
        Path click = dir.resolve("click.wav");
        AnalysisExportsTest.clickTrack(click, 120.0);
        PlayerNative p = new PlayerNative();
        Check.test("start-up", () -> {
            Check.equal(1L, p.InitPlayer(), "InitPlayer");
            Check.equal(1L, p.SetupSampler(0), "SetupSampler");
        });

        for (Format f : FORMATS) {
            Path whole = dir.resolve("whole." + f.name());
            Path cut = dir.resolve("cut." + f.name());
            Path reference = dir.resolve("reference-" + f.name() + ".wav");
            Check.test(f.name() + " cut to 40 %: every path gives what the reference decode gives", () -> {
                AnalysisExportsTest.run(String.format(f.encode(), click, whole));
                byte[] bytes = Files.readAllBytes(whole);
                Files.write(cut, Arrays.copyOf(bytes, bytes.length * 2 / 5));
                // Decoders of damaged files may exit with an error status: the output is what counts.
                AnalysisExportsTest.capture(String.format(f.reference(), click, whole, cut, reference));
                Wav.Data heard = Wav.read(reference);
                int referenceMs = (int) (heard.frames() * 1000 / heard.rate());
                Check.isTrue(referenceMs > 5000, "the reference decoder got " + referenceMs + " ms");

                Figures want = measure(p, reference);
                Figures got = measure(p, cut);
                System.out.println(f.name() + " reference: " + want.summary() + "\n" + f.name() + " cut:       " + got.summary());
                Check.equal(referenceMs, want.handleMs(), "the reference WAV's own length");
                Check.equal(referenceMs, got.handleMs(), "length of a handle");
                Check.equal(referenceMs, got.quickMs(), "quick length");
                Check.equal(1L, got.deckStatus(), "deck load");
                Check.equal(referenceMs, got.deckMs(), "deck length");
                Check.equal(1L, got.sampleStatus(), "sample load");
                Check.equal(referenceMs, got.sampleMs(), "sample length");

                Check.equal(1L, got.bpmStatus(), "CalcBPMUnicode");
                AnalysisExportsTest.isNear(want.bpm(), got.bpm(), 0.01, "BPM");
                Check.equal(want.beats().size(), got.beats().size(), "beats listed");
                for (int i = 0; i < Math.min(want.beats().size(), got.beats().size()); i++)
                    AnalysisExportsTest.isNear(want.beats().get(i), got.beats().get(i), 0.012, "beat " + i);
                double lastBeat = got.beats().isEmpty() ? 0 : got.beats().get(got.beats().size() - 1);
                Check.isTrue(lastBeat * 1000 <= referenceMs, "beat at " + lastBeat + " s, past the audio's " + referenceMs + " ms");

                Check.equal(1L, got.silenceStatus(), "CalcSilenceDBUnicode");
                Check.equal(want.silenceStatus(), got.silenceStatus(), "silence status as the reference's");
                AnalysisExportsTest.isNear(want.silenceStart(), got.silenceStart(), CHUNK_MS, "silence start");
                AnalysisExportsTest.isNear(want.silenceEnd(), got.silenceEnd(), CHUNK_MS, "silence end");
                Check.isTrue(got.silenceStart() <= got.silenceEnd() && got.silenceEnd() <= referenceMs,
                    "silence points inside the audio: " + got.silenceStart() + " " + got.silenceEnd());

                Check.equal(1L, got.gainStatus(), "CalcReplayGainUnicode");
                AnalysisExportsTest.isNear(want.gain(), got.gain(), 0.01, "ReplayGain");

                Path converted = dir.resolve("converted-" + f.name() + ".wav");
                // All the audio a cut file holds is converted; the answer says it is not the whole source.
                Check.equal(-5L,
                            p.ConvertFile(cut.toString(), converted.toString(), null, null, 1, 0), "ConvertFile");
                Wav.Data out = Wav.read(converted);
                Check.equal(heard.frames(), out.frames(), "converted frames");
                Check.isTrue(maxDifference(heard, out) <= f.sampleTolerance(),
                    "converted samples differ by " + maxDifference(heard, out) + " steps");
            });
        }

        Check.test("shutdown", () -> Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer"));
        Check.finish();
    }
}
