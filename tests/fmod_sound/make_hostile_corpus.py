#!/usr/bin/python3
"""Writes the corpus of hostile audio files into the folder given as the only argument.

Each file is small (a few KB) and lies in its header the way damaged or crafted files do: sample
rates and channel counts no mixer plays, lengths the data cannot hold, streams that change shape
part-way. The audio layer must refuse each with an error result or play it; it must never crash,
hang or size an allocation from the lie. Files that need an encoder (FLAC, MP3, AAC) are made from
generated audio with the command-line tools and then patched; a missing tool only skips its files.

The names say what each file claims; tests look some of them up by name.
"""
import math
import os
import shutil
import struct
import subprocess
import sys


def pcm16(frames, channels, freq=440.0, rate=44100):
    out = bytearray()
    for i in range(frames):
        for c in range(channels):
            v = int(12000 * math.sin(2 * math.pi * freq * (c + 1) * i / rate))
            out += struct.pack('<h', v)
    return bytes(out)


def wav(rate, channels, bits, data, data_size=None, fmt_tag=1):
    block = channels * bits // 8
    fmt = struct.pack('<HHIIHH', fmt_tag, channels, rate & 0xffffffff, (rate * block) & 0xffffffff, block & 0xffff, bits)
    size = len(data) if data_size is None else data_size
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', size) + data
    return b'RIFF' + struct.pack('<I', len(body) & 0xffffffff) + body


def extended(value):
    """An IEEE 754 80-bit extended float, as AIFF stores its sample rate."""
    if value == 0:
        return b'\0' * 10
    mantissa, exponent = math.frexp(value)  # value = mantissa * 2^exponent, 0.5 <= mantissa < 1
    mantissa = int(mantissa * (1 << 64))
    exponent -= 1
    return struct.pack('>HQ', 16383 + exponent, mantissa)


def aiff(rate, channels, bits, frames, data):
    comm = struct.pack('>hIh', channels, frames, bits) + extended(rate)
    ssnd = struct.pack('>II', 0, 0) + data
    body = (b'AIFF' + b'COMM' + struct.pack('>I', len(comm)) + comm +
            b'SSND' + struct.pack('>I', len(ssnd)) + ssnd)
    return b'FORM' + struct.pack('>I', len(body)) + body


def big_endian16(data):
    return b''.join(data[i + 1:i + 2] + data[i:i + 1] for i in range(0, len(data), 2))


def tool(*args):
    if not shutil.which(args[0]):
        return False
    return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def flac_claiming(path, source_wav, total_samples):
    """Re-encodes `source_wav` to FLAC and patches STREAMINFO's 36-bit total sample count."""
    if not tool('flac', '-s', '-f', '--no-padding', source_wav, '-o', path):
        return
    with open(path, 'r+b') as f:
        data = bytearray(f.read())
        # "fLaC", then the STREAMINFO block header (4 bytes); the count sits in bytes 13..17 of
        # the block: the low 4 bits of byte 13 and all of bytes 14..17.
        at = 8 + 13
        data[at] = (data[at] & 0xf0) | ((total_samples >> 32) & 0x0f)
        data[at + 1:at + 5] = struct.pack('>I', total_samples & 0xffffffff)
        # The MD5 signature no longer matches; zero means "not computed".
        data[8 + 18:8 + 34] = b'\0' * 16
        f.seek(0)
        f.write(data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    frames = 1000  # 4000 bytes of 16-bit stereo: a 4 KB file
    data = pcm16(frames, 2)

    def put(name, content):
        with open(os.path.join(out, name), 'wb') as f:
            f.write(content)

    # Sample rates and channel counts no mixer plays.
    put('wav-rate-2e31.wav', wav(1 << 31, 2, 16, data))
    put('wav-rate-4e9.wav', wav(0xfffffff0, 2, 16, data))
    put('wav-rate-100.wav', wav(100, 2, 16, data))
    put('wav-rate-1.wav', wav(1, 2, 16, data))
    put('wav-channels-9.wav', wav(44100, 9, 16, data[:9 * 2 * 200]))
    put('wav-channels-1000.wav', wav(44100, 1000, 16, data))
    put('wav-channels-0.wav', wav(44100, 0, 16, data))
    put('wav-bits-0.wav', wav(44100, 2, 0, data))
    put('wav-bits-7.wav', wav(44100, 2, 7, data))
    put('aiff-rate-2e31.aiff', aiff(float(1 << 31), 2, 16, frames, big_endian16(data)))
    put('aiff-rate-1e300.aiff', aiff(1e300, 2, 16, frames, big_endian16(data)))
    put('aiff-rate-0.aiff', aiff(0.0, 2, 16, frames, big_endian16(data)))
    # Lengths the data cannot hold.
    put('wav-data-4g.wav', wav(44100, 2, 16, data, data_size=0xfffffff0))
    put('aiff-frames-4g.aiff', aiff(44100.0, 2, 16, 0xfffffff0, big_endian16(data)))
    put('wav-truncated-header.wav', wav(44100, 2, 16, data)[:30])
    put('wav-rate-ok.wav', wav(44100, 2, 16, data))  # the control: plays

    # Compressed files whose header lies about the length.
    ok = os.path.join(out, 'wav-rate-ok.wav')
    flac_claiming(os.path.join(out, 'flac-frames-2e36.flac'), ok, (1 << 36) - 1)
    flac_claiming(os.path.join(out, 'flac-frames-2e30.flac'), ok, 1 << 30)

    # An MP3 that changes from stereo to mono part-way: 0.5 s of each, both at 44.1 kHz.
    tmp = os.path.join(out, 'tmp')
    os.makedirs(tmp, exist_ok=True)
    put(os.path.join('tmp', 'st.wav'), wav(44100, 2, 16, pcm16(22050, 2)))
    put(os.path.join('tmp', 'mo.wav'), wav(44100, 1, 16, pcm16(22050, 1, freq=1000.0)))
    if (tool('lame', '--quiet', '-t', '-m', 's', os.path.join(tmp, 'st.wav'), os.path.join(tmp, 'st.mp3')) and
            tool('lame', '--quiet', '-t', '-m', 'm', os.path.join(tmp, 'mo.wav'), os.path.join(tmp, 'mo.mp3'))):
        with open(os.path.join(tmp, 'st.mp3'), 'rb') as a, open(os.path.join(tmp, 'mo.mp3'), 'rb') as b:
            put('mp3-stereo-then-mono.mp3', a.read() + b.read())
    shutil.rmtree(tmp)


if __name__ == '__main__':
    main()
