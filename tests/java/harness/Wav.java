package harness;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * WAV files for the deck tests: 16-bit PCM tracks written from generated signals, and the 32-bit
 * float mixes that virtual cards with a wav sink write, read back.
 */
public final class Wav {
    private Wav() {}

    public interface Signal {
        /** Sample of a frame and channel, in [-1, 1]. */
        double at(long frame, int channel);
    }

    /** Writes a 16-bit PCM WAV. */
    public static void write16(Path path, int rate, int channels, long frames, Signal signal) throws IOException {
        int dataBytes = (int) (frames * channels * 2);
        ByteBuffer b = ByteBuffer.allocate(44 + dataBytes).order(ByteOrder.LITTLE_ENDIAN);
        b.put("RIFF".getBytes()).putInt(36 + dataBytes).put("WAVE".getBytes());
        b.put("fmt ".getBytes()).putInt(16).putShort((short) 1).putShort((short) channels).putInt(rate)
            .putInt(rate * channels * 2).putShort((short) (channels * 2)).putShort((short) 16);
        b.put("data".getBytes()).putInt(dataBytes);
        for (long f = 0; f < frames; f++) {
            for (int c = 0; c < channels; c++) {
                double v = Math.max(-1.0, Math.min(1.0, signal.at(f, c)));
                b.putShort((short) Math.round(v * 32767.0));
            }
        }
        Files.write(path, b.array());
    }

    /** A sine of `hz` at `amplitude` on every channel. */
    public static Signal sine(int rate, double hz, double amplitude) {
        return (f, c) -> amplitude * Math.sin(2 * Math.PI * hz * f / rate);
    }

    /** A click track: a 10 ms decaying 1 kHz burst every 60/bpm seconds, on every channel. */
    public static Signal clicks(int rate, double bpm) {
        double period = 60.0 / bpm * rate;
        long burst = rate / 100;
        return (f, c) -> {
            long beat = (long) Math.floor(f / period);
            long inBurst = f - Math.round(beat * period);
            if (inBurst < 0 || inBurst >= burst) return 0.0;
            double t = (double) inBurst / rate;
            return 0.9 * Math.exp(-t * 400.0) * Math.sin(2 * Math.PI * 1000.0 * t);
        };
    }

    /** Interleaved samples of a WAV file: 32-bit float or 16-bit PCM. */
    public record Data(int channels, int rate, float[] samples) {
        public long frames() { return samples.length / Math.max(1, channels); }

        /** Root mean square over frames [from, to) of all channels. */
        public double rms(long from, long to) {
            double sum = 0;
            long n = 0;
            for (long i = from * channels; i < Math.min(to * channels, samples.length); i++, n++) {
                sum += (double) samples[(int) i] * samples[(int) i];
            }
            return n == 0 ? 0.0 : Math.sqrt(sum / n);
        }
    }

    public static Data read(Path path) throws IOException {
        ByteBuffer b = ByteBuffer.wrap(Files.readAllBytes(path)).order(ByteOrder.LITTLE_ENDIAN);
        if (b.remaining() < 12 || b.getInt(0) != 0x46464952 || b.getInt(8) != 0x45564157)
            throw new IOException(path + ": not a RIFF WAVE file");
        int pos = 12, format = 0, channels = 0, rate = 0, bits = 0;
        while (pos + 8 <= b.limit()) {
            int id = b.getInt(pos);
            int size = b.getInt(pos + 4);
            int body = pos + 8;
            if (id == 0x20746d66) {  // "fmt "
                format = b.getShort(body) & 0xffff;
                channels = b.getShort(body + 2);
                rate = b.getInt(body + 4);
                bits = b.getShort(body + 14);
            } else if (id == 0x61746164) {  // "data"
                int bytes = Math.min(size, b.limit() - body);
                float[] out;
                if (format == 3 && bits == 32) {
                    out = new float[bytes / 4];
                    for (int i = 0; i < out.length; i++) out[i] = b.getFloat(body + 4 * i);
                } else if (format == 1 && bits == 16) {
                    out = new float[bytes / 2];
                    for (int i = 0; i < out.length; i++) out[i] = b.getShort(body + 2 * i) / 32768f;
                } else {
                    throw new IOException(path + ": format " + format + " with " + bits + " bits");
                }
                return new Data(channels, rate, out);
            }
            pos = body + size + (size & 1);
        }
        throw new IOException(path + ": no data chunk");
    }
}
