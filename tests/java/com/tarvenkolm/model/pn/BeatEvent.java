package com.tarvenkolm.model.pn;

/**
 * One beat as the engine reports it: the beat tracker fills keyDown and firstBeat, whole-file BPM
 * analysis keyDown, scoreBeat and salience. Built by the library through the no-argument
 * constructor and the setters.
 */
public class BeatEvent {
    private double keyDown;     // beat time in seconds
    private boolean firstBeat;  // the first reported beat that is not synthetic
    private double scoreBeat;
    private double salience;

    public BeatEvent() {}

    public void setKeyDown(double seconds) { keyDown = seconds; }
    public void setFirstBeat(boolean first) { firstBeat = first; }
    public void setScoreBeat(double score) { scoreBeat = score; }
    public void setSalience(double value) { salience = value; }

    public double getKeyDown() { return keyDown; }
    public boolean isFirstBeat() { return firstBeat; }
    public double getScoreBeat() { return scoreBeat; }
    public double getSalience() { return salience; }

    @Override
    public String toString() {
        return "BeatEvent[" + keyDown + "s" + (firstBeat ? ", first" : "") + "]";
    }
}
