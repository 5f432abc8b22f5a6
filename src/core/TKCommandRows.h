// The list commands' replies, for the command table (TKCommand.cpp).
//
// Thread safety: each call works on its own buffers; the engine operations take their own locks.
#pragma once

#include <string>

// The output-slot names, "," inside a name written "\,", joined into fewer than 4096 characters;
// "no sound devices." before start-up or without slots.
std::string commandSoundcards();
// As commandSoundcards over the ASIO driver table, which this platform never fills:
// "no ASIO devices.".
std::string commandASIODrivers();
// The recorder names joined into fewer than 1024 characters ("" for none); "no recorder device!"
// before start-up.
std::string commandRecorderDevices();
// The CD drive names joined into fewer than 1024 characters; "no cddrives." when the engine
// cannot list them. Prints "drives: <count>\n" to standard output when it can.
std::string commandCDDrives();
