#include "media/view_slot_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::vector<int> Order() { return std::vector<int>(ViewSlotOrder, ViewSlotOrder + kViewSlotCount); }

class ViewSlotOrderTest : public ::testing::Test {
protected:
    void SetUp() override { ResetViewSlotOrder(); }
    void TearDown() override { ResetViewSlotOrder(); }
};

TEST_F(ViewSlotOrderTest, SwapExchangesThePlaces) {
    SwapViewSlot(2, 0);
    EXPECT_EQ(Order(), (std::vector<int>{2, 1, 0, 3, 4, 5, 6, 7, 8}));
    SwapViewSlot(0, 0);  // view 0 now sits in place 2
    EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    SwapViewSlot(3, 3);
    EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(ViewSlotOrderTest, UnknownViewOrPlaceChangesNothing) {
    for (auto [view, slot] : {std::pair{9, 0}, {-1, 0}, {1, 9}, {1, -1}, {1, 1000000}}) {
        SwapViewSlot(view, slot);
        EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8})) << view << "," << slot;
    }
}

TEST_F(ViewSlotOrderTest, StaysAPermutationAfterManySwaps) {
    for (int i = 0; i < 200; ++i) SwapViewSlot((i * 7) % 9, (i * 5) % 9);
    std::vector<int> sorted = Order();
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(ViewSlotOrderTest, ExchangeShownViewsOnlyAmongTheFirstFour) {
    EXPECT_TRUE(ExchangeShownViews(0, 3));
    EXPECT_EQ(Order(), (std::vector<int>{3, 1, 2, 0, 4, 5, 6, 7, 8}));
    SwapViewSlot(1, 6);  // view 1 leaves the first four
    EXPECT_FALSE(ExchangeShownViews(1, 2));
    EXPECT_EQ(Order(), (std::vector<int>{3, 6, 2, 0, 4, 5, 1, 7, 8}));
    ResetViewSlotOrder();
    EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace
