#include "system_ui.hpp"

#include <atomic>

namespace desktop {

namespace {

// Mode in the high half, options in the low half: one word, so a reader never sees the mode of
// one call with the options of another.
std::atomic<std::uint64_t> g_uiMode{0};
std::atomic<bool> g_menuBarHidden{false};

}  // namespace

UiMode systemUiMode() {
    const std::uint64_t word = g_uiMode.load(std::memory_order_relaxed);
    return {static_cast<std::uint32_t>(word >> 32), static_cast<std::uint32_t>(word)};
}

void setSystemUiMode(UiMode mode) {
    g_uiMode.store((static_cast<std::uint64_t>(mode.mode) << 32) | mode.options,
                   std::memory_order_relaxed);
}

void setMenuBarHidden(bool hidden) { g_menuBarHidden.store(hidden, std::memory_order_relaxed); }

bool menuBarVisible() {
    const std::uint32_t mode = systemUiMode().mode;
    return !g_menuBarHidden.load(std::memory_order_relaxed) && mode != kUiModeAllHidden &&
           mode != kUiModeAllSuppressed;
}

}  // namespace desktop
