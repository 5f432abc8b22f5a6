#include "PlayerList.h"

std::atomic<bool> CPlayerList::initialized{false};

void CPlayerList::setInitialized(bool value) {
    // Release: whatever start-up built before setting the flag is visible to a thread that reads
    // it as true.
    initialized.store(value, std::memory_order_release);
}
