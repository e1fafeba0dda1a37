#pragma once
// Which view sits in which place of a split: entry k is the index of the view
// shown in place k. Process-wide, touched on the window thread only, always a
// permutation of 0..8; only the first four places matter to the viewers.
inline constexpr int kViewSlotCount = 9;

extern int ViewSlotOrder[kViewSlotCount];

void ResetViewSlotOrder();

// Exchanges place `slot` with the last place that holds `view`. Nothing when
// the view is in no place or `slot` is not a place (it comes from a message).
void SwapViewSlot(int view, int slot);

// The viewer's commands 13-16: the places of two views among the first four
// are exchanged. False, and nothing changes, when either is not there.
bool ExchangeShownViews(int view_a, int view_b);
