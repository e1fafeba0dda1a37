#include "media/viewer_geometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const int kIdentity[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};

TEST(GridLayoutPlacement, TwoByTwoGivesTheLastRowTheRemainder) {
    const ViewPlacement p = GridLayoutPlacement(0, 0, 1280, 1021, 2, kIdentity);
    EXPECT_EQ(p[0], (ViewRect{0, 0, 640, 510}));
    EXPECT_EQ(p[1], (ViewRect{640, 0, 640, 510}));
    EXPECT_EQ(p[2], (ViewRect{0, 510, 640, 511}));
    EXPECT_EQ(p[3], (ViewRect{640, 510, 640, 511}));
}

TEST(GridLayoutPlacement, OddWidthLeavesTheRightmostColumnUncovered) {
    const ViewPlacement p = GridLayoutPlacement(10, 20, 1281, 1000, 2, kIdentity);
    EXPECT_EQ(p[1], (ViewRect{650, 20, 640, 500}));
    EXPECT_EQ(p[3]->x + p[3]->width, 10 + 1280);
}

TEST(GridLayoutPlacement, SingleViewPerRowParksTheOthers) {
    const int order[9] = {2, 1, 0, 3, 4, 5, 6, 7, 8};
    const ViewPlacement p = GridLayoutPlacement(5, 6, 800, 600, 1, order);
    EXPECT_EQ(p[2], (ViewRect{5, 6, 800, 600}));
    EXPECT_EQ(p[0], kParkedViewRect);
    EXPECT_EQ(p[1], kParkedViewRect);
    EXPECT_EQ(p[3], kParkedViewRect);
}

TEST(GridLayoutPlacement, FollowsTheSlotOrder) {
    const int order[9] = {2, 1, 0, 3, 4, 5, 6, 7, 8};
    const ViewPlacement p = GridLayoutPlacement(0, 0, 100, 100, 2, order);
    EXPECT_EQ(p[2], (ViewRect{0, 0, 50, 50}));
    EXPECT_EQ(p[0], (ViewRect{0, 50, 50, 50}));
}

TEST(GridLayoutPlacement, OtherLayoutsMoveNothing) {
    for (int n : {-1, 0, 3, 9}) {
        const ViewPlacement p = GridLayoutPlacement(0, 0, 100, 100, n, kIdentity);
        for (const auto& rect : p) EXPECT_FALSE(rect.has_value()) << n;
    }
}

TEST(GridLayoutPlacement, ViewIndexBeyondTheFourIsSkippedAndTheDisplacedViewParked) {
    // Place 1 holds view 5 (a swap with place 5): no viewer 5 exists.
    const int order[9] = {0, 5, 2, 3, 4, 1, 6, 7, 8};
    const ViewPlacement p = GridLayoutPlacement(0, 0, 100, 100, 2, order);
    EXPECT_EQ(p[0], (ViewRect{0, 0, 50, 50}));
    EXPECT_EQ(p[1], kParkedViewRect);
    EXPECT_EQ(p[3], (ViewRect{50, 50, 50, 50}));
}

TEST(CheckerGridPlacement, LayoutsOverTheFixedArea) {
    struct Place {
        int view;
        ViewRect rect;
    };
    struct Case {
        int n;
        std::vector<Place> placed;  // every other view is parked
    };
    // The checker's area: 224 x 165 at (512, 40). The last column and row take the remainder.
    const Case cases[] = {
        {1, {{0, {512, 40, 224, 165}}}},
        {2, {{0, {512, 40, 112, 82}}, {1, {624, 40, 112, 82}}, {4, {512, 122, 112, 83}}, {5, {624, 122, 112, 83}}}},
        {3,
         {{0, {512, 40, 74, 55}}, {1, {586, 40, 74, 55}}, {2, {660, 40, 76, 55}}, {4, {512, 95, 74, 55}},
          {5, {586, 95, 74, 55}}, {6, {660, 95, 76, 55}}, {8, {512, 150, 74, 55}}, {9, {586, 150, 74, 55}},
          {10, {660, 150, 76, 55}}}},
        {4,
         {{0, {512, 40, 56, 41}}, {3, {680, 40, 56, 41}}, {5, {568, 81, 56, 41}}, {12, {512, 163, 56, 42}},
          {15, {680, 163, 56, 42}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        const CheckerViewPlacement p = CheckerGridPlacement(512, 40, 224, 165, c.n);
        std::vector<bool> placed(kCheckerGridViews, false);
        for (const Place& place : c.placed) {
            EXPECT_EQ(p[static_cast<size_t>(place.view)], place.rect) << place.view;
            placed[static_cast<size_t>(place.view)] = true;
        }
        int shown = 0;
        for (int v = 0; v < kCheckerGridViews; ++v) {
            ASSERT_TRUE(p[static_cast<size_t>(v)].has_value()) << v;
            if (*p[static_cast<size_t>(v)] != kParkedViewRect) ++shown;
            if (!placed[static_cast<size_t>(v)] && c.n < 4) {
                EXPECT_EQ(p[static_cast<size_t>(v)], kParkedViewRect) << v;
            }
        }
        EXPECT_EQ(shown, c.n * c.n);
    }
    for (int n : {-1, 0, 5, 9}) {
        const CheckerViewPlacement p = CheckerGridPlacement(512, 40, 224, 165, n);
        for (const auto& rect : p) EXPECT_FALSE(rect.has_value()) << n;
    }
}

TEST(SingleAndFullScreenPlacement, Rectangles) {
    const ViewPlacement single = SingleViewPlacement(3, 4, 640, 480, 2);
    EXPECT_EQ(single[2], (ViewRect{3, 4, 640, 480}));
    EXPECT_EQ(single[0], kParkedViewRect);
    EXPECT_FALSE(SingleViewPlacement(0, 0, 1, 1, 4)[0].has_value());

    const ViewPlacement one = FullScreenPlacement(1, 1920, 1080, 3, kIdentity);
    EXPECT_EQ(one[3], (ViewRect{0, 0, 1918, 1078}));
    EXPECT_FALSE(one[0].has_value());  // the others stay where they are
    EXPECT_EQ(FullScreenPlacement(1, 1920, 1080, -1, kIdentity)[0], (ViewRect{0, 0, 1918, 1078}));

    const int order[9] = {3, 1, 2, 0, 4, 5, 6, 7, 8};
    const ViewPlacement two = FullScreenPlacement(2, 1921, 1081, 0, order);
    EXPECT_EQ(two[3], (ViewRect{0, 0, 960, 540}));
    EXPECT_EQ(two[0], (ViewRect{960, 540, 960, 540}));
    for (const auto& rect : FullScreenPlacement(3, 1920, 1080, 0, kIdentity)) EXPECT_FALSE(rect.has_value());
}

TEST(Zoom, StepsOnA704x576Picture) {
    struct Case {
        int start_level;
        int steps;
        ZoomWindow expected;
    };
    const Case cases[] = {
        {0, 1, {1, 7, 6, 690, 564}},
        {0, 4, {4, 28, 24, 648, 528}},
        {0, 42, {42, 294, 252, 116, 72}},
        {0, -3, {0, 0, 0, 704, 576}},
    };
    for (const Case& c : cases) {
        ZoomWindow zoom = WholePicture(704, 576);
        ApplyZoomSteps(zoom, c.steps, 704, 576);
        EXPECT_EQ(zoom, c.expected) << c.steps;
    }
}

TEST(Zoom, BackToLevelZeroIsTheWholePictureAgain) {
    ZoomWindow zoom = WholePicture(704, 576);
    ApplyZoomSteps(zoom, 1, 704, 576);
    PanZoom(zoom, 10, 10, 7, 9, 704, 576);
    ApplyZoomSteps(zoom, -1, 704, 576);
    EXPECT_EQ(zoom, WholePicture(704, 576));
}

TEST(Zoom, OutwardKeepsTheWindowInsideThePicture) {
    ZoomWindow zoom = WholePicture(704, 576);
    ApplyZoomSteps(zoom, 8, 704, 576);
    zoom.x = 704 - zoom.width - 1;  // panned to the far edge
    ApplyZoomSteps(zoom, -4, 704, 576);
    EXPECT_EQ(zoom.level, 4);
    EXPECT_EQ(zoom.width, 648);
    EXPECT_EQ(zoom.x, 704 - 648);
    EXPECT_EQ(zoom.y, 24);
}

TEST(Zoom, LevelStopsAt43AndKeepsTheWindowOfTheStepBefore) {
    ZoomWindow zoom = WholePicture(704, 576);
    ApplyZoomSteps(zoom, 42, 704, 576);
    const ZoomWindow at42 = zoom;
    for (int i = 0; i < 3; ++i) ApplyZoomSteps(zoom, 1, 704, 576);
    EXPECT_EQ(zoom.level, kMaxZoomLevel);
    EXPECT_EQ((ZoomWindow{42, zoom.x, zoom.y, zoom.width, zoom.height}), at42);
    ApplyZoomSteps(zoom, 2147483647, 704, 576);
    EXPECT_EQ(zoom.level, kMaxZoomLevel);
    ApplyZoomSteps(zoom, -2147483647 - 1, 704, 576);
    EXPECT_EQ(zoom, WholePicture(704, 576));
}

TEST(Zoom, PanMovesOnlyWhileInside) {
    ZoomWindow zoom = WholePicture(704, 576);
    PanZoom(zoom, 100, 100, 50, 50, 704, 576);
    EXPECT_EQ(zoom, WholePicture(704, 576));  // level 0 never pans

    ApplyZoomSteps(zoom, 4, 704, 576);  // 648 x 528 at (28, 24)
    PanZoom(zoom, 100, 100, 90, 104, 704, 576);
    EXPECT_EQ(zoom.x, 38);
    EXPECT_EQ(zoom.y, 20);
    PanZoom(zoom, 0, 0, 39, -100, 704, 576);  // x would be -1, y past the bottom
    EXPECT_EQ(zoom.x, 38);
    EXPECT_EQ(zoom.y, 20);
}

TEST(PictureDestination, StretchedOrLetterboxed) {
    EXPECT_EQ(PictureDestination(640, 480, 704, 576, false), (ViewRect{1, 1, 639, 479}));
    // Wider client than picture: full height, centred horizontally.
    EXPECT_EQ(PictureDestination(1000, 480, 704, 576, true), (ViewRect{(1000 - 586) / 2, 1, 586, 479}));
    // Taller client: full width, centred vertically.
    EXPECT_EQ(PictureDestination(640, 640, 704, 576, true), (ViewRect{1, (640 - 523) / 2, 639, 523}));
    EXPECT_EQ(PictureDestination(640, 480, 0, 0, true), (ViewRect{1, 1, 639, 479}));
}

TEST(OverviewRectangles, EighthOfTheClientInTheCorner) {
    ZoomWindow zoom = WholePicture(704, 576);
    EXPECT_FALSE(OverviewRectangles(352, 288, 704, 576, zoom));
    ApplyZoomSteps(zoom, 1, 704, 576);
    EXPECT_FALSE(OverviewRectangles(352, 288, 704, 576, zoom));
    ApplyZoomSteps(zoom, 3, 704, 576);  // 648 x 528 at (28, 24); k = 16
    const auto rects = OverviewRectangles(352, 288, 704, 576, zoom);
    ASSERT_TRUE(rects);
    EXPECT_EQ(rects->outer, (ViewRect{352 - 44 - 10, 288 - 36 - 10, 44, 36}));
    EXPECT_EQ(rects->inner, (ViewRect{298 + 1, 242 + 1, 40, 33}));
    EXPECT_FALSE(OverviewRectangles(0, 288, 704, 576, zoom));
}

TEST(OsdFontHeight, ScaledByLayoutAndConnecting) {
    struct Case {
        int layout;
        bool connecting;
        int expected;
    };
    const Case cases[] = {{1, false, 50}, {2, false, 28}, {3, false, 20}, {9, false, 20},
                          {1, true, 70},  {2, true, 45},  {3, true, 32},  {0, true, 20}};
    for (const Case& c : cases) EXPECT_EQ(OsdFontHeight(20, c.layout, c.connecting), c.expected) << c.layout;
}

TEST(PrintTargetSize, WholeFactorAcrossThePage) {
    EXPECT_EQ(PrintTargetSize(4960, 7016, 352, 288), (PrintSize{4960, 4032}));
    EXPECT_EQ(PrintTargetSize(7016, 4960, 352, 288), (PrintSize{17 * 352, 4960}));
    EXPECT_EQ(PrintTargetSize(4960, 7016, 5000, 288), (PrintSize{4960, 0}));  // wider than the page
    EXPECT_EQ(PrintTargetSize(4960, 7016, 0, 288), (PrintSize{0, 0}));
    EXPECT_EQ(PrintTargetSize(7016, 4960, 352, 0), (PrintSize{0, 0}));
    EXPECT_EQ(PrintTargetSize(2000000000, 2100000000, 1, 2000000000), (PrintSize{2000000000, 4000000000000000000}));
}

}  // namespace
