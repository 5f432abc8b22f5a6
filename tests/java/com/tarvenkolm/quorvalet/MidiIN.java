package com.tarvenkolm.quorvalet;

import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;

/** One input connection; the library calls midiInput with each packet on its reader thread. */
public class MidiIN {
    static {
        System.loadLibrary("Quorvalet");
    }

    /** The packets received, in order. */
    public final BlockingQueue<byte[]> packets = new LinkedBlockingQueue<>();

    /** Connects the source of an index to this object: its reference, 0 when none. */
    public native long initINPort(boolean unused, int source);

    /** Disconnects a source reference; always 1. */
    public native int closeIN(boolean unused, long source);

    public void midiInput(byte[] packet) {
        packets.add(packet);
    }
}
