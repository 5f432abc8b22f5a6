package harness;

import com.tarvenkolm.quorvalet.CoreMidiDevice;
import com.tarvenkolm.quorvalet.MidiIN;
import com.tarvenkolm.quorvalet.MidiOUT;
import com.tarvenkolm.quorvalet.MidiSYS;
import java.io.IOException;
import java.lang.ref.WeakReference;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Vector;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

/**
 * libQuorvalet in a real JVM. Modes (first argument):
 * - loopback TABLE: writes the device table the environment names, then checks labels, devices,
 *   info texts, sends and input on the loopback back-end, and 1000 open/close cycles;
 * - nodevice: the ALSA back-end on a machine without a sequencer;
 * - through: "Midi Through" of a real sequencer, skipped without /dev/snd/seq.
 */
public final class MidiBridgeTest {
    private MidiBridgeTest() {}

    static final MidiSYS sys = new MidiSYS();
    static final MidiOUT out = new MidiOUT();

    static final String LONG_NAME = "x".repeat(61) + "\u00e9yyyy";  // the cut falls inside the é

    static final String TABLE = String.join("\n",
        "# what the loopback system shows",
        "device name=\"DJ-2\" manufacturer=\"Acme\" model=\"DJ-2 MkII\" id=\"A-1\"",
        "entity name=\"Deck A\" source destination",
        "entity name=\"Lights\" destination",
        "device name=\"Bare\"",
        "entity name=\"Knobs\" source",
        "device name=\"Silent\" manufacturer=\"Acme\" model=\"Box\"",
        "entity name=\"Nothing\"",
        "entity",
        "device name=\"Twin\" manufacturer=\"Acme\" model=\"T\"",
        "entity name=\"Port\" source destination",
        "device name=\"Twin\" manufacturer=\"Acme\" model=\"T\"",
        "entity name=\"Port\" source destination",
        "device name=\"" + LONG_NAME + "\" model=\"\u00dcber\"",
        "entity name=\"Batch\" source destination batch=3",
        "");

    /** The next packet, or null after `ms` milliseconds. */
    static byte[] next(MidiIN in, long ms) throws InterruptedException {
        return in.packets.poll(ms, TimeUnit.MILLISECONDS);
    }

    static byte[] bytes(int... values) {
        byte[] b = new byte[values.length];
        for (int i = 0; i < values.length; i++) b[i] = (byte) values[i];
        return b;
    }

    static byte[] pattern(int length, int seed) {
        byte[] b = new byte[length];
        for (int i = 0; i < length; i++) b[i] = (byte) ((i * 7 + seed) & 0x7F);
        return b;
    }

    /** Threads of the MIDI layer's readers, by the name they give themselves. */
    static int readerThreads() throws IOException {
        int count = 0;
        try (Stream<Path> tasks = Files.list(Path.of("/proc/self/task"))) {
            for (Path task : (Iterable<Path>) tasks::iterator) {
                try {
                    if (Files.readString(task.resolve("comm")).trim().equals("midi-reader")) count++;
                } catch (IOException gone) {
                    // the thread ended while we looked
                }
            }
        }
        return count;
    }

    /**
     * The reader count once it has settled on `expected` (or after two seconds): a joined thread
     * can linger in /proc/self/task for a moment after its join returned.
     */
    static int readerThreads(int expected) throws Exception {
        int count = readerThreads();
        for (int i = 0; i < 100 && count != expected; i++) {
            Thread.sleep(20);
            count = readerThreads();
        }
        return count;
    }

    static int openFiles() throws IOException {
        try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
            return (int) fds.count();
        }
    }

    static Vector<String> sources = new Vector<>();
    static Vector<String> destinations = new Vector<>();

    static void init() {
        sources.clear();
        destinations.clear();
        sys.initMidiSYS(false, sources, destinations, false);
    }

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
            case "loopback" -> loopback(Path.of(args[1]));
            case "nodevice" -> noDevice();
            case "through" -> through();
            case "latency" -> latency(Path.of(args[1]));
            default -> throw new IllegalArgumentException(args[0]);
        }
        Check.finish();
    }

    static void loopback(Path table) throws Exception {
        Files.writeString(table, TABLE, StandardCharsets.UTF_8);

        Check.test("labels: model and name, '?' for a missing model, in index order", () -> {
            init();
            Check.equal(List.of("DJ-2 MkII - Deck A", "? - Knobs", "T - Port", "T - Port", "\u00dcber - Batch"),
                        sources, "source labels");
            Check.equal(List.of("DJ-2 MkII - Deck A", "DJ-2 MkII - Lights", "T - Port", "T - Port", "\u00dcber - Batch"),
                        destinations, "destination labels");
            init();
            Check.equal(5, sources.size(), "listing again gives the same labels, not more");
        });

        Check.test("devices: descriptors, entities, a device without endpoints dropped, twins apart", () -> {
            Vector<CoreMidiDevice> devices = new Vector<>();
            sys.getDevices(false, devices);
            List<String> descriptors = new ArrayList<>();
            List<String> entities = new ArrayList<>();
            for (CoreMidiDevice d : devices) {
                descriptors.add(d.descriptor);
                entities.add(d.entities.toString());
            }
            Check.equal(List.of(
                "index=0;name=DJ-2;manufacturer=Acme;model=DJ-2 MkII;id=A-1;numEnt=2",
                "index=1;name=Bare;manufacturer=?;model=?;id=?;numEnt=1",
                "index=3;name=Twin;manufacturer=Acme;model=T;id=?;numEnt=1",
                "index=4;name=Twin;manufacturer=Acme;model=T;id=?;numEnt=1",
                "index=5;name=" + "x".repeat(61) + ";manufacturer=?;model=\u00dcber;id=?;numEnt=1"), descriptors, "descriptors");
            Check.equal(List.of("[0:Deck A:0:0, 1:Lights:-1:1]", "[0:Knobs:1:-1]", "[0:Port:2:2]", "[0:Port:3:3]",
                                "[0:Batch:4:4]"), entities, "entities");
        });

        Check.test("endpoint info, and nothing for an index out of range", () -> {
            Check.equal("name=DJ-2;manufacturer=Acme;model=DJ-2 MkII;id=A-1;numEnt=2", sys.getDeviceInfo(false, 0, 0), "source 0");
            Check.equal("name=DJ-2;manufacturer=Acme;model=DJ-2 MkII;id=A-1;numEnt=2", sys.getDeviceInfo(false, 1, 1), "destination 1");
            Check.equal("name=Bare;manufacturer=?;model=?;id=?;numEnt=1", sys.getDeviceInfo(false, 0, 1), "source 1");
            Check.equal(null, sys.getDeviceInfo(false, 0, 5), "source 5");
            Check.equal(null, sys.getDeviceInfo(false, 1, -1), "destination -1");
            Check.equal(0L, new MidiIN().initINPort(false, 5), "initINPort of source 5");
            Check.equal(0, sys.closeIN(false, 0, 5), "closeIN of source 5");
            Check.equal(1, new MidiIN().closeIN(false, 0), "closeIN of reference 0");
            Check.equal(0L, sys.initOUTPort(false, 5), "initOUTPort of destination 5");
        });

        Check.test("null vectors and arrays are refused without harm", () -> {
            Vector<String> v = new Vector<>();
            sys.initMidiSYS(false, null, v, false);
            sys.initMidiSYS(false, v, null, false);
            Check.equal(0, v.size(), "no labels with a null vector");
            sys.getDevices(false, null);
            out.sendMidi(false, sys.initOUTPort(false, 0), null, 0);
        });

        MidiIN deckA = new MidiIN();
        long deckOut = sys.initOUTPort(false, 0);

        Check.test("note messages with running status come back unchanged", () -> {
            long ref = deckA.initINPort(false, 0);
            Check.isTrue(ref != 0, "source reference");
            byte[] notes = bytes(0x90, 0x3C, 0x64, 0x3E, 0x64, 0x40, 0x00);
            out.sendMidi(false, deckOut, notes, 0);
            Check.isTrue(Arrays.equals(notes, next(deckA, 5000)), "packet bytes");
        });

        Check.test("an empty array sends nothing", () -> {
            out.sendMidi(false, deckOut, new byte[0], 0);
            out.sendMidi(false, deckOut, bytes(0xF8), 0);
            Check.isTrue(Arrays.equals(bytes(0xF8), next(deckA, 5000)), "the next packet is the one after");
        });

        Check.test("65536 bytes arrive as a 65436-byte packet and a 100-byte one", () -> {
            byte[] big = pattern(65536, 3);
            out.sendMidi(false, deckOut, big, 0);
            byte[] first = next(deckA, 5000);
            byte[] second = next(deckA, 5000);
            Check.isTrue(first != null && second != null, "two packets");
            if (first == null || second == null) return;
            Check.equal(65436, first.length, "first packet");
            Check.equal(100, second.length, "second packet");
            Check.isTrue(Arrays.equals(big, 0, 65436, first, 0, 65436), "first packet bytes");
            Check.isTrue(Arrays.equals(big, 65436, 65536, second, 0, 100), "second packet bytes");
            Check.equal(null, next(deckA, 100), "nothing more");
            // The shrunken packet size holds for later sends: 65436 bytes go in one packet.
            out.sendMidi(false, deckOut, pattern(65436, 5), 0);
            byte[] whole = next(deckA, 5000);
            Check.equal(65436, whole == null ? -1 : whole.length, "a later send of 65436 bytes");
        });

        Check.test("System Exclusive longer than a packet arrives whole and in order", () -> {
            byte[] sysex = pattern(140000, 11);
            sysex[0] = (byte) 0xF0;
            sysex[sysex.length - 1] = (byte) 0xF7;
            out.sendMidi(false, deckOut, sysex, 0);
            java.io.ByteArrayOutputStream got = new java.io.ByteArrayOutputStream();
            while (got.size() < sysex.length) {
                byte[] p = next(deckA, 5000);
                if (p == null) break;
                got.write(p);
            }
            Check.isTrue(Arrays.equals(sysex, got.toByteArray()), "reassembled message");
        });

        Check.test("closeIN ends delivery to the connection", () -> {
            long again = deckA.initINPort(false, 0);  // a second connection of the same source
            Check.equal(1, deckA.closeIN(false, again), "closeIN");  // ends both
            out.sendMidi(false, deckOut, bytes(0xFA), 0);
            Check.equal(null, next(deckA, 300), "nothing arrives");
        });

        Check.test("a three-packet list gives three midiInput calls in order", () -> {
            MidiIN batch = new MidiIN();
            Check.isTrue(batch.initINPort(false, 4) != 0, "connected");
            long dest = sys.initOUTPort(false, 4);
            out.sendMidi(false, dest, bytes(0x90, 1, 2), 0);
            out.sendMidi(false, dest, bytes(0x80, 1, 0), 0);
            Check.equal(null, next(batch, 300), "held back until the list is complete");
            out.sendMidi(false, dest, bytes(0xB0, 7, 100), 0);
            Check.isTrue(Arrays.equals(bytes(0x90, 1, 2), next(batch, 5000)), "first packet");
            Check.isTrue(Arrays.equals(bytes(0x80, 1, 0), next(batch, 5000)), "second packet");
            Check.isTrue(Arrays.equals(bytes(0xB0, 7, 100), next(batch, 5000)), "third packet");
            Check.equal(1, sys.closeIN(false, 0, 4), "closeIN of the source");
        });

        Check.test("twin devices: each destination reaches its own source only", () -> {
            MidiIN first = new MidiIN();
            MidiIN second = new MidiIN();
            first.initINPort(false, 2);
            second.initINPort(false, 3);
            out.sendMidi(false, sys.initOUTPort(false, 3), bytes(0x91, 9, 9), 0);
            Check.isTrue(Arrays.equals(bytes(0x91, 9, 9), next(second, 5000)), "second twin hears it");
            Check.equal(null, next(first, 200), "first twin does not");
            sys.closeIN(false, 0, 2);
            sys.closeIN(false, 0, 3);
        });

        Check.test("closeMidiSYS ends the reader; initMidiSYS makes a fresh client that delivers", () -> {
            Check.equal(1, readerThreads(1), "one reader while open");
            sys.closeMidiSYS(false);
            Check.equal(0, readerThreads(0), "no reader after close");
            out.sendMidi(false, deckOut, bytes(0xFC), 0);  // no output port now: nothing happens
            init();
            Check.equal(1, readerThreads(1), "a fresh reader");
            MidiIN in = new MidiIN();
            in.initINPort(false, 0);
            out.sendMidi(false, sys.initOUTPort(false, 0), bytes(0xFB), 0);
            Check.isTrue(Arrays.equals(bytes(0xFB), next(in, 5000)), "input through the fresh client");
            sys.closeMidiSYS(false);
        });

        Check.test("1000 open/close cycles with input flowing leave nothing behind", () -> {
            cycle(null);  // the first cycle loads what stays loaded
            System.gc();
            int files = openFiles();
            List<WeakReference<MidiIN>> receivers = new ArrayList<>();
            for (int i = 0; i < 1000; i++) cycle(receivers);
            Check.equal(0, readerThreads(0), "reader threads");
            Check.equal(files, openFiles(), "open files");
            // Every MidiIN was held by a global reference while connected; all must be collectable.
            int alive = receivers.size();
            for (int attempt = 0; attempt < 50 && alive > 0; attempt++) {
                System.gc();
                Thread.sleep(20);
                alive = (int) receivers.stream().filter(r -> r.get() != null).count();
            }
            Check.equal(0, alive, "receivers still referenced");
        });

        Check.test("sending from another thread while closing", () -> {
            for (int round = 0; round < 50; round++) {
                init();
                MidiIN in = new MidiIN();
                in.initINPort(false, 0);
                long dest = sys.initOUTPort(false, 0);
                Thread sender = new Thread(() -> {
                    for (int i = 0; i < 200; i++) out.sendMidi(false, dest, bytes(0x90, i & 0x7F, 1), 0);
                });
                sender.start();
                next(in, 5000);
                sys.closeMidiSYS(false);
                sender.join();
            }
            Check.equal(0, readerThreads(0), "reader threads");
        });
    }

    /** One open/close cycle: connect a fresh receiver, send, close while packets may still flow. */
    static void cycle(List<WeakReference<MidiIN>> receivers) throws Exception {
        init();
        MidiIN in = new MidiIN();
        if (receivers != null) receivers.add(new WeakReference<>(in));
        in.initINPort(false, 0);
        long dest = sys.initOUTPort(false, 0);
        for (int i = 0; i < 4; i++) out.sendMidi(false, dest, bytes(0x90, i, 1), 0);
        if (next(in, 5000) == null) Check.fail("no input in a cycle");
        sys.closeMidiSYS(false);
    }

    static void noDevice() throws Exception {
        Check.test("no sequencer: no endpoints, no devices, no references", () -> {
            init();
            Check.equal(0, sources.size(), "sources");
            Check.equal(0, destinations.size(), "destinations");
            Vector<CoreMidiDevice> devices = new Vector<>();
            sys.getDevices(false, devices);
            Check.equal(0, devices.size(), "devices");
            Check.equal(null, sys.getDeviceInfo(false, 0, 0), "info of source 0");
            Check.equal(0L, sys.initOUTPort(false, 0), "destination 0");
            Check.equal(0L, new MidiIN().initINPort(false, 0), "source 0");
            Check.equal(0, sys.closeIN(false, 0, 0), "closeIN of source 0");
            out.sendMidi(false, 0x4001001L, bytes(0x90, 1, 1), 0);  // a made-up destination: nothing happens
            Check.equal(0, readerThreads(0), "no client, so no reader");
        });
        Check.test("close, then list again", () -> {
            sys.closeMidiSYS(false);
            sys.closeMidiSYS(false);
            init();
            Check.equal(0, sources.size() + destinations.size(), "still no endpoints");
            sys.closeMidiSYS(false);
        });
    }

    static void through() throws Exception {
        if (!Files.exists(Path.of("/dev/snd/seq"))) {
            System.out.println("SKIPPED: no /dev/snd/seq (load snd-seq-dummy to run this test)");
            return;
        }
        Check.test("bytes sent to Midi Through come back", () -> {
            init();
            int source = sources.indexOf("Midi Through - Midi Through Port-0");
            int dest = destinations.indexOf("Midi Through - Midi Through Port-0");
            Check.isTrue(source >= 0 && dest >= 0, "Midi Through listed: " + sources + " " + destinations);
            if (source < 0 || dest < 0) return;
            MidiIN in = new MidiIN();
            Check.isTrue(in.initINPort(false, source) != 0, "connected");
            long ref = sys.initOUTPort(false, dest);
            // Running status goes out as two note-ons; each comes back as a whole message.
            out.sendMidi(false, ref, bytes(0x90, 0x3C, 0x64, 0x3E, 0x64), 0);
            Check.isTrue(Arrays.equals(bytes(0x90, 0x3C, 0x64), next(in, 5000)), "first note");
            Check.isTrue(Arrays.equals(bytes(0x90, 0x3E, 0x64), next(in, 5000)), "second note");
            byte[] sysex = pattern(1000, 1);
            sysex[0] = (byte) 0xF0;
            sysex[999] = (byte) 0xF7;
            out.sendMidi(false, ref, sysex, 0);
            java.io.ByteArrayOutputStream got = new java.io.ByteArrayOutputStream();
            while (got.size() < sysex.length) {
                byte[] p = next(in, 5000);
                if (p == null) break;
                got.write(p);
            }
            Check.isTrue(Arrays.equals(sysex, got.toByteArray()), "System Exclusive whole and in order");
            sys.closeMidiSYS(false);
        });
    }

    /** Time from sendMidi to midiInput over 10,000 note messages on the loopback back-end. */
    static void latency(Path table) throws Exception {
        Files.writeString(table, TABLE, StandardCharsets.UTF_8);
        init();
        final long[] arrived = new long[11000];
        final int[] count = {0};
        MidiIN in = new MidiIN() {
            @Override
            public void midiInput(byte[] packet) {
                arrived[count[0]++] = System.nanoTime();
                super.midiInput(packet);
            }
        };
        in.initINPort(false, 0);
        long dest = sys.initOUTPort(false, 0);
        long[] latency = new long[10000];
        // 1000 notes first so that the measured ones run compiled code, as a running program would.
        for (int i = 0; i < 1000; i++) {
            out.sendMidi(false, dest, bytes(0x80, i & 0x7F, 0), 0);
            next(in, 5000);
        }
        count[0] = 0;
        Check.test("10,000 note messages each arrive, in order", () -> {
            for (int i = 0; i < latency.length; i++) {
                byte[] note = bytes(0x90, i & 0x7F, (i >> 7) & 0x7F);
                long sent = System.nanoTime();
                out.sendMidi(false, dest, note, 0);
                byte[] got = next(in, 5000);
                if (!Arrays.equals(note, got)) {
                    Check.fail("message " + i);
                    return;
                }
                latency[i] = arrived[i] - sent;
            }
        });
        Arrays.sort(latency);
        System.out.printf("sendMidi to midiInput: median %.1f us, 99th percentile %.1f us, max %.1f us%n",
                          latency[latency.length / 2] / 1e3, latency[latency.length * 99 / 100] / 1e3,
                          latency[latency.length - 1] / 1e3);
        sys.closeMidiSYS(false);
    }
}
