package com.tarvenkolm.quorvalet;

import java.util.Vector;

/** The MIDI system: client and ports, endpoint labels, devices, output endpoints. */
public class MidiSYS {
    static {
        System.loadLibrary("Quorvalet");
    }

    /** Fills the two vectors with the source and destination labels; creates the client once. */
    public native void initMidiSYS(boolean unused, Vector<String> sources, Vector<String> destinations, boolean unused2);

    public native void closeMidiSYS(boolean unused);

    /** Adds a CoreMidiDevice for each device that has at least one entity with an endpoint. */
    public native void getDevices(boolean unused, Vector<CoreMidiDevice> devices);

    /** The info text of the device owning a source (isDestination 0) or destination; null when none. */
    public native String getDeviceInfo(boolean unused, int isDestination, int index);

    /** The destination reference of an index, 0 when none. */
    public native long initOUTPort(boolean unused, int destination);

    /** Disconnects the source of an index: 1, or 0 when there is no such source. */
    public native int closeIN(boolean unused, long unusedRef, int source);
}
