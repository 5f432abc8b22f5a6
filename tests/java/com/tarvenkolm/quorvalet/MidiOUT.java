package com.tarvenkolm.quorvalet;

/** Sending to a destination reference from MidiSYS.initOUTPort. */
public class MidiOUT {
    static {
        System.loadLibrary("Quorvalet");
    }

    public native void sendMidi(boolean unused, long destination, byte[] data, long unused2);
}
