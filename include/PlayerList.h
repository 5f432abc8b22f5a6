// CPlayerList: the deck registry. Its static flag `initialized` is the engine's started state:
// start-up sets it as its very last step, shutdown and the registry's destructor clear it, and every
// entry point of every subsystem tests it first.
//
// Thread safety
// - `initialized` may be read from any thread without a lock; it is written only through
//   setInitialized, by start-up and shutdown under the engine's load lock and "Coreglobal".
#pragma once

#include <atomic>

class CPlayerList {
public:
    // True from the end of a successful start-up until shutdown.
    static std::atomic<bool> initialized;

    static void setInitialized(bool value);
};
