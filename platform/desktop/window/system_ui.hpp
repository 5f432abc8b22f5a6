// The system UI mode and the menu-bar state. This desktop has no global menu bar and no system
// UI modes, so both are kept in the process: what the application set is what it reads back.
// A mode that hides everything (all hidden, all suppressed) counts as hiding the menu bar, as
// HideDock does.
//
// Thread safety: any thread; each read and write is atomic.
#pragma once

#include <cstdint>

namespace desktop {

// The mode values the application passes.
constexpr std::uint32_t kUiModeNormal = 0;
constexpr std::uint32_t kUiModeAllHidden = 3;
constexpr std::uint32_t kUiModeAllSuppressed = 4;

struct UiMode {
    std::uint32_t mode = kUiModeNormal;
    std::uint32_t options = 0;
};

UiMode systemUiMode();
void setSystemUiMode(UiMode mode);

void setMenuBarHidden(bool hidden);
bool menuBarVisible();

}  // namespace desktop
