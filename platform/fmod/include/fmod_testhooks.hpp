// Test hooks of the audio layer. They observe and step the layer; they never change what it does
// for the engine. Tests, tools and benchmarks use them; the engine never does.
#pragma once

#include <string>
#include <vector>

#include "fmod.hpp"

namespace pw::testhooks {

// Live objects of each kind in this process (created and not yet released).
enum class Kind { System, Sound, Channel, DSP };
int liveCount(Kind kind);

// Makes every System report `version` from getVersion; 0 restores the real one.
void overrideVersion(unsigned int version);

// The names of the units on a channel, head first, then each unit added with addDSP in the order
// the signal passes them (built-in units by their type name, custom units by description name).
std::vector<std::string> channelChain(FMOD::Channel* channel);

// The channel's speaker matrix: matrix[speaker][input] is input's gain into speaker.
std::vector<std::vector<float>> channelSpeakerMatrix(FMOD::Channel* channel);

// How many times the layer has asked the system for its real CD drives (a hardware probe).
unsigned cdHardwareProbes();

// Virtual devices of the device table (PELLWARDEN_DEVICE_TABLE) -----------------------------------

// Every interleaved sample that the output driver `name` received since it was opened or since
// the last call to clearReceived, for outputs with sink=memory (other sinks record nothing).
std::vector<float> received(const std::string& name);
int receivedChannels(const std::string& name);
void clearReceived(const std::string& name);

// For an output with pacing=stepped: lets `blocks` more blocks through and returns once the mixer
// has written them. false when the device is not open or the blocks did not come within 10 s.
bool step(const std::string& name, unsigned blocks);
// step(), then waits until the mixer has computed its next block (reading every channel for it)
// and waits to write it: what the channels report no longer moves until the next step.
bool stepToRest(const std::string& name, unsigned blocks);

// The PulseAudio server -------------------------------------------------------------------------

// Holds the main-loop lock of the process's connection to the server for `milliseconds`, as a
// slow call on the server would (every card, recording and stream open shares that lock). false
// when no server back-end is in use.
bool holdSoundServerLock(unsigned milliseconds);

}  // namespace pw::testhooks
