// The coefficient tables of the ReplayGain equal-loudness filter, one row per supported rate.
// These are the published values of the reference analysis and must stay bit for bit as they are:
// the 64.82 dB calibration depends on them.
#pragma once

struct ReplayGainFilterRow {
    long rate;
    double BYule[11];
    double AYule[11];
    double BButter[3];
    double AButter[3];
};

constexpr int kReplayGainRates = 9;
extern const ReplayGainFilterRow kReplayGainFilters[kReplayGainRates];
