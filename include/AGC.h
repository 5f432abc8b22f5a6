// CAutoGainControl: the per-deck automatic gain control state. It is the non-virtual first base
// of every deck (CPlayer). The application switches it on and off per deck; nothing on the
// playback path reads its gain (a deck's level comes from its gain, volume and normaliser), so
// the class is state only.
//
// Thread safety: enableAGC runs on the Java thread that drives the deck; the fields are plain and
// belong to that thread.
#pragma once

class CAutoGainControl {
public:
    CAutoGainControl();

    // Restarts the control from gain 1.0 with no measurement and no ramp, then stores the switch.
    // Returns 1.
    int enableAGC(bool on);

    unsigned int m_uiSampleCount;   // samples measured since the last gain decision
    float m_fEnergy;                // sum of squared samples since the last decision
    float m_fGain;                  // current gain factor
    float m_fGainStep;              // gain change per block while ramping
    unsigned int m_uiRampBlocks;    // blocks left in the current ramp
    bool m_bEnabled;
    float m_fTargetLevelDb;
    unsigned int m_uiAttackSamples;
    unsigned int m_uiDelaySamples;
};
