#include "media/view_slot_order.h"

#include <utility>

int ViewSlotOrder[kViewSlotCount] = {0, 1, 2, 3, 4, 5, 6, 7, 8};

void ResetViewSlotOrder() {
    for (int k = 0; k < kViewSlotCount; ++k) ViewSlotOrder[k] = k;
}

void SwapViewSlot(int view, int slot) {
    if (slot < 0 || slot >= kViewSlotCount) return;
    int found = -1;
    for (int k = 0; k < kViewSlotCount; ++k) {
        if (ViewSlotOrder[k] == view) found = k;
    }
    if (found < 0) return;
    std::swap(ViewSlotOrder[slot], ViewSlotOrder[found]);
}

bool ExchangeShownViews(int view_a, int view_b) {
    constexpr int kShownPlaces = 4;
    int place_a = -1;
    int place_b = -1;
    for (int k = 0; k < kShownPlaces; ++k) {
        if (place_a < 0 && ViewSlotOrder[k] == view_a) place_a = k;
        if (place_b < 0 && ViewSlotOrder[k] == view_b) place_b = k;
    }
    if (place_a < 0 || place_b < 0) return false;
    std::swap(ViewSlotOrder[place_a], ViewSlotOrder[place_b]);
    return true;
}
