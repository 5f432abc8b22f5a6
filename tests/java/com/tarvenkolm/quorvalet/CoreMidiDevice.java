package com.tarvenkolm.quorvalet;

import java.util.ArrayList;
import java.util.List;

/** A MIDI device as the library describes it: its descriptor text and its entities. */
public class CoreMidiDevice {
    /** One entity: its index within the device, name, and source and destination indexes (-1: none). */
    public static final class Entity {
        public final int index;
        public final String name;
        public final int source;
        public final int destination;

        Entity(int index, String name, int source, int destination) {
            this.index = index;
            this.name = name;
            this.source = source;
            this.destination = destination;
        }

        @Override
        public String toString() {
            return index + ":" + name + ":" + source + ":" + destination;
        }
    }

    public final String descriptor;
    public final List<Entity> entities = new ArrayList<>();

    public CoreMidiDevice(String descriptor) {
        this.descriptor = descriptor;
    }

    public void addEntity(int index, String name, int source, int destination) {
        entities.add(new Entity(index, name, source, destination));
    }
}
