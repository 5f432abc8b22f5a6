package harness;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import model.PlayerNative;

/**
 * The mix-down and conversion exports from Java: each before start-up, with null strings, and with
 * ordinary arguments on a virtual card playing in real time: a master and a deck recording of a
 * playing deck, and conversions with a progress listener, a cancel from another Java thread and
 * destination names outside Latin-1.
 *
 * Argument: dir=PATH, a scratch folder (PELLWARDEN_DEVICE_TABLE names dir/devices.table).
 */
public final class MixDownExportsTest {
    private MixDownExportsTest() {}

    static final int RATE = 44100;
    static final String DESCRIPTION = "<MixdownFormats>\t  <formats>\t\t<MixdownFormat>\t\t  <id default=\"true\">1</id>"
        + "\t\t  <name>wav</name>\t\t  <bitrates/>\t\t  <defaultBitrate>-1</defaultBitrate>\t\t</MixdownFormat>"
        + "  </formats></MixdownFormats>";

    record Call(String name, Callable<Object> call, Object expected) {}

    /** Records every progress report; optionally runs something on the first. */
    public static final class Listener {
        final List<Integer> values = new ArrayList<>();
        Runnable onFirst;

        public void setValue(int percent) {
            values.add(percent);
            if (values.size() == 1 && onFirst != null) onFirst.run();
        }
    }

    public static final class ThrowingListener {
        public void setValue(int percent) {
            throw new IllegalStateException("listener refuses " + percent);
        }
    }

    static ByteBuffer cancelWord() {
        return ByteBuffer.allocateDirect(4).order(ByteOrder.nativeOrder()).putInt(0, 0);
    }

    /** Header fields of a WAV file: channels, rate, bits, data bytes, file bytes. */
    static int[] header(Path wav) throws Exception {
        ByteBuffer b = ByteBuffer.wrap(Files.readAllBytes(wav)).order(ByteOrder.LITTLE_ENDIAN);
        return new int[] {b.getShort(22), b.getInt(24), b.getShort(34), b.getInt(40), b.capacity()};
    }

    static void expectValidWav(Path wav, int channels, int rate, String what) throws Exception {
        Check.isTrue(Files.exists(wav), what + ": no file " + wav);
        if (!Files.exists(wav)) return;
        int[] h = header(wav);
        Check.equal(channels, h[0], what + ": channels");
        Check.equal(rate, h[1], what + ": rate");
        Check.equal(16, h[2], what + ": bits");
        Check.equal(h[4] - 44, h[3], what + ": data size against the file");
    }

    public static void main(String[] args) throws Exception {
        Path dir = Path.of(StartupTest.arg(args, "dir", "."));
        Files.createDirectories(dir);
        Files.writeString(Path.of(System.getenv("PELLWARDEN_DEVICE_TABLE")),
            "output name=\"Card1\" channels=2 sink=discard pacing=realtime\n");
        Path tone = dir.resolve("tone.wav");
        Wav.write16(tone, RATE, 2, RATE * 10L, Wav.sine(RATE, 440.0, 0.5));
        String src = tone.toString();
        PlayerNative p = new PlayerNative();

        Check.test("before start-up every export answers 'not started'", () -> {
            Path never = dir.resolve("never.wav");
            Call[] calls = {
                new Call("MixDownsetup", () -> p.MixDownsetup(0, 1), -1L),
                new Call("MixDownopenFile", () -> p.MixDownopenFile(never.toString(), 1, 128, 0, null, null), -1L),
                new Call("MixDownsetGain", () -> p.MixDownsetGain(1f, 1f), -1L),
                new Call("MixDownstart", () -> p.MixDownstart(), -1L),
                new Call("MixDownpause", () -> p.MixDownpause(), -1L),
                new Call("MixDownclose", () -> p.MixDownclose(), -1L),
                new Call("MixDownqueryFormats", () -> p.MixDownqueryFormats(), null),
                new Call("MixDownqueryBitrates", () -> p.MixDownqueryBitrates(), null),
                new Call("MixDownqueryXMLDescription", () -> p.MixDownqueryXMLDescription(), null),
                new Call("PlayerMixDownopenFile", () -> p.PlayerMixDownopenFile(0, never.toString(), 1, 128), -1L),
                new Call("PlayerMixDownstart", () -> p.PlayerMixDownstart(0), -1L),
                new Call("PlayerMixDownclose", () -> p.PlayerMixDownclose(0), -1L),
                new Call("ConvertFile", () -> p.ConvertFile(src, never.toString(), null, null, 1, 0), -1L),
            };
            for (Call c : calls) Check.equal(c.expected(), c.call().call(), c.name());
            Check.isTrue(!Files.exists(never), "a file was made");
        });

        Check.test("null paths raise NullPointerException and answer -4 (opening nothing)", () -> {
            Check.throwsNpe(() -> p.MixDownopenFile(null, 1, 128, 0, null, null), "MixDownopenFile");
            Check.throwsNpe(() -> p.PlayerMixDownopenFile(0, null, 1, 128), "PlayerMixDownopenFile");
            Check.throwsNpe(() -> p.ConvertFile(null, dir.resolve("x.wav").toString(), null, null, 1, 0), "ConvertFile source");
            Check.throwsNpe(() -> p.ConvertFile(src, null, null, null, 1, 0), "ConvertFile target");
        });

        Check.test("start-up on a virtual card", () -> Check.equal(1L, p.InitPlayer(), "InitPlayer"));

        Check.test("the queries give the recorder's texts", () -> {
            Check.equal("wav", p.MixDownqueryFormats(), "formats");
            Check.equal("32, 64, 128, 160, 192, 320", p.MixDownqueryBitrates(), "bitrates");
            Check.equal(DESCRIPTION, p.MixDownqueryXMLDescription(), "description");
            Check.equal(195, p.MixDownqueryXMLDescription().length(), "description length");
        });

        Check.test("master recording of a playing deck: setup, open, start, pause, start, close", () -> {
            Check.equal(1L, p.LoadUnicode(0, src, 0, 0), "LoadUnicode");
            Check.equal(1L, p.Play(0, true), "Play");
            Check.equal(-28L, p.MixDownsetup(0, -1), "MixDownsetup(0, -1)");
            Check.equal(1L, p.MixDownsetup(0, 0), "MixDownsetup(0, 0)");
            Check.equal(1L, p.MixDownsetGain(3.0f, -0.5f), "MixDownsetGain out of range");
            Check.equal(1L, p.MixDownsetGain(1.0f, 1.0f), "MixDownsetGain");
            Path wav = dir.resolve("Mitschnitt Ω 録音.wav");
            Check.equal(1L, p.MixDownopenFile(wav.toString(), 1, 128, 0, "text one", null), "MixDownopenFile");
            Check.equal(1L, p.MixDownstart(), "MixDownstart");
            Thread.sleep(600);
            Check.equal(1L, p.MixDownpause(), "MixDownpause");
            Thread.sleep(200);
            Check.equal(1L, p.MixDownstart(), "MixDownstart again");
            Thread.sleep(400);
            java.nio.ByteBuffer levels = java.nio.ByteBuffer.allocateDirect(8).order(java.nio.ByteOrder.nativeOrder());
            Check.equal(-28L, p.MixDowngetLevels(null, 2), "MixDowngetLevels(null)");
            Check.equal(-4L, p.MixDowngetLevels(java.nio.ByteBuffer.allocateDirect(4), 1), "MixDowngetLevels short buffer");
            Check.equal(1L, p.MixDowngetLevels(levels, 2), "MixDowngetLevels");
            Check.equal(1L, p.MixDownclose(), "MixDownclose");
            expectValidWav(wav, 2, RATE, "master recording");
            Check.isTrue(header(wav)[3] > RATE * 4 / 2, "less than half a second recorded: " + header(wav)[3]);
            Check.equal(-16L, p.MixDownopenFile(dir.resolve("b.wav").toString(), 2, 128, 0, null, null), "format 2");
            Check.isTrue(!Files.exists(dir.resolve("b.wav")), "format 2 made a file");
        });

        Check.test("deck recording: open, start, close; bad decks refused", () -> {
            Path wav = dir.resolve("deck 0 – Δ.wav");
            Check.equal(1L, p.PlayerMixDownopenFile(0, wav.toString(), 1, 128), "PlayerMixDownopenFile");
            Check.equal(1L, p.PlayerMixDownstart(0), "PlayerMixDownstart");
            Thread.sleep(500);
            Check.equal(1L, p.PlayerMixDownclose(0), "PlayerMixDownclose");
            expectValidWav(wav, 2, RATE, "deck recording");
            Check.isTrue(p.PlayerMixDownopenFile(-1, dir.resolve("neg.wav").toString(), 1, 128) < 0, "deck -1 accepted");
            Check.isTrue(p.PlayerMixDownstart(-1) < 0, "start on deck -1 accepted");
            Check.isTrue(!Files.exists(dir.resolve("neg.wav")), "deck -1 made a file");
            Check.equal(1L, p.Stop(0), "Stop");
        });

        Check.test("ConvertFile reports rising progress to 100 and writes a name outside Latin-1", () -> {
            Listener listener = new Listener();
            ByteBuffer cancel = cancelWord();
            Path out = dir.resolve("Konvertiert 日本語 🎵.wav");
            Check.equal(1L, p.ConvertFile(src, out.toString(), listener, cancel, 1, 128), "ConvertFile");
            expectValidWav(out, 2, RATE, "converted");
            Check.equal(Files.size(tone), Files.size(out), "size against the 16-bit source");
            Check.isTrue(listener.values.size() > 10, "reports: " + listener.values.size());
            for (int i = 1; i < listener.values.size(); i++) {
                Check.isTrue(listener.values.get(i) >= listener.values.get(i - 1), "progress fell at " + i);
            }
            Check.equal(100, listener.values.get(listener.values.size() - 1), "last report");
        });

        Check.test("a cancel from another Java thread stops ConvertFile and is reset", () -> {
            ByteBuffer cancel = cancelWord();
            Listener listener = new Listener();
            listener.onFirst = () -> {
                Thread t = new Thread(() -> cancel.putInt(0, 1));
                t.start();
                try {
                    t.join();
                } catch (InterruptedException e) {
                    throw new RuntimeException(e);
                }
            };
            Path out = dir.resolve("cancelled.wav");
            Check.equal(1L, p.ConvertFile(src, out.toString(), listener, cancel, 1, 128), "ConvertFile");
            Check.equal(0, cancel.getInt(0), "cancel word after the cancel");
            expectValidWav(out, 2, RATE, "cancelled conversion");
            Check.isTrue(Files.size(out) < Files.size(tone) / 2, "not stopped: " + Files.size(out));
            Check.isTrue(listener.values.size() <= 2, "reports after the cancel: " + listener.values);
        });

        Check.test("ConvertFile refusals and odd listeners", () -> {
            Path missing = dir.resolve("missing.mp3");
            Path noFolder = dir.resolve("no/such/folder/x.wav");
            Check.equal(-3L, p.ConvertFile(missing.toString(), dir.resolve("m.wav").toString(), null, null, 1, 0), "missing source");
            Check.isTrue(!Files.exists(dir.resolve("m.wav")), "missing source made a file");
            Check.equal(-29L, p.ConvertFile(src, noFolder.toString(), null, null, 1, 0), "unwritable destination");
            Check.equal(-16L, p.ConvertFile(src, dir.resolve("f2.wav").toString(), null, null, 2, 0), "format 2");
            Check.isTrue(!Files.exists(dir.resolve("f2.wav")), "format 2 made a file");
            // A listener without setValue, and a heap buffer as cancel word: converted all the same.
            Path plain = dir.resolve("plain.wav");
            Check.equal(1L, p.ConvertFile(src, plain.toString(), new Object(), ByteBuffer.allocate(4), 1, 0), "plain listener");
            expectValidWav(plain, 2, RATE, "plain listener");
            // A listener that throws: its exception reaches the caller; no JNI call follows it.
            try {
                p.ConvertFile(src, dir.resolve("thrown.wav").toString(), new ThrowingListener(), null, 1, 0);
                Check.fail("the listener's exception did not arrive");
            } catch (IllegalStateException e) {
                Check.isTrue(e.getMessage().startsWith("listener refuses "), "exception: " + e.getMessage());
            }
        });

        Check.test("shutdown, then the exports answer 'not started' again", () -> {
            Check.equal(1L, p.CleanupPlayer(), "CleanupPlayer");
            Check.equal(-1L, p.MixDownstart(), "MixDownstart");
            Check.equal(null, p.MixDownqueryFormats(), "MixDownqueryFormats");
            Check.equal(-1L, p.ConvertFile(src, dir.resolve("late.wav").toString(), null, null, 1, 0), "ConvertFile");
        });
        Check.finish();
    }
}
