// Channel handles and the pool of channel bodies behind them.
//
// A Channel* handed to the caller is not the address of a body but a handle: the body's index in
// a process-wide table and the generation of the playback it was handed out for. A body goes
// back to the pool when its playback is over (stopped, or ended and reaped) and its generation
// moves on, so an old handle no longer resolves: it is refused instead of reaching whatever
// plays on that body next. Bodies are reused oldest-freed first and only once a few others are
// free, so a call already past resolve on a just-stopped handle finishes long before its body can
// carry a new playback. Bodies keep their buffers between playbacks; memory follows the most
// channels alive at once, not the number of plays.
//
// Thread safety: resolveChannel and channelHandle from any thread, mixer included (lock-free,
// no allocation). takeChannel and giveBackChannel run under the system's graph lock and take the
// pool's own lock, which the mixer never takes.
#pragma once

#include "fmod.hpp"

namespace pw::mix {

struct ChannelImpl;
struct SystemImpl;

// The body a handle names while that playback lasts; null for a stale handle, null or garbage.
ChannelImpl* resolveChannel(FMOD::Channel* handle);
// The handle of the body's current playback.
FMOD::Channel* channelHandle(const ChannelImpl* channel);
// A body for a new playback on `system`, with a fresh handle. Throws std::bad_alloc when the
// pool cannot grow.
ChannelImpl* takeChannel(SystemImpl* system);
// Gives a body whose playback is over back to the pool (its old handle goes stale at once).
void giveBackChannel(ChannelImpl* channel);

}  // namespace pw::mix
