// The checker's grid of sixteen viewers in a window: its fixed area, the
// layouts that move its viewers, and which viewer ends up selected.
#include <gtest/gtest.h>

#include <QWidget>

#include "checker/ui/checker_viewer.h"
#include "checker/ui/img_box.h"
#include "checker/ui/watermark_dlg.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

TEST(CheckerViewerGrid, CreateTakesTheFixedAreaAndLayoutsMoveTheViewers) {
    control_test::EnsureApplication();
    QWidget dialog;
    dialog.resize(800, 400);
    CCheckerViewerGrid grid(&dialog, QPoint(436, 37));
    // The area asked for is not the grid's.
    grid.Create(0, 0, 1280, 1024);
    EXPECT_EQ(grid.geometry(), QRect(436, 37, 224, 165));
    EXPECT_EQ(grid.layout(), 9);
    EXPECT_EQ(grid.SelectedIndex(), 0);
    EXPECT_EQ(grid.Viewer(3)->geometry(), QRect(360, 360, 100, 100));
    EXPECT_EQ(grid.Viewer(16), nullptr);
    EXPECT_EQ(grid.Viewer(-1), nullptr);

    grid.ApplyLayout(2);
    EXPECT_EQ(grid.layout(), 2);
    EXPECT_EQ(grid.Viewer(0)->geometry(), QRect(0, 0, 112, 82));
    EXPECT_EQ(grid.Viewer(5)->geometry(), QRect(112, 82, 112, 83));
    EXPECT_EQ(grid.Viewer(2)->geometry(), QRect(0, 0, 1, 1));
    // Above 4 nothing happens.
    grid.ApplyLayout(5);
    EXPECT_EQ(grid.layout(), 2);
    EXPECT_EQ(grid.Viewer(5)->geometry(), QRect(112, 82, 112, 83));
    grid.ApplyLayout(1);
    EXPECT_EQ(grid.Viewer(0)->geometry(), QRect(0, 0, 224, 165));
    EXPECT_EQ(grid.Viewer(5)->geometry(), QRect(0, 0, 1, 1));
}

TEST(CheckerViewerGrid, ALayoutThatHidesTheSelectedViewerSelectsTheFirst) {
    control_test::EnsureApplication();
    QWidget dialog;
    CCheckerViewerGrid grid(&dialog, QPoint(0, 0));
    grid.Create(0, 0, 0, 0);
    struct Case {
        int selected, layout, expected;
    };
    const Case cases[] = {
        {5, 2, 5},    // placed in 2 x 2: kept
        {5, 1, 0},    // not placed in 1 x 1
        {2, 2, 0},    // index 2 sits in the third column
        {10, 3, 10},  // third row, third column
        {15, 3, 0},
        {15, 4, 15},
    };
    for (const Case& c : cases) {
        grid.SelectViewer(c.selected);
        grid.ApplyLayout(c.layout);
        EXPECT_EQ(grid.SelectedIndex(), c.expected) << c.selected << " in " << c.layout;
        int selected = 0;
        for (int i = 0; i < CCheckerViewerGrid::kViews; ++i) selected += grid.Viewer(i)->IsSelected() ? 1 : 0;
        EXPECT_EQ(selected, 1);
    }
}

TEST(CheckerViewerGrid, TheCheckerPreviewsInOneViewOverTheImageBox) {
    control_test::EnsureApplication();
    CWatermarkDlg dlg;
    CCheckerViewerGrid* grid = dlg.viewer_grid();
    EXPECT_EQ(grid->layout(), 1);
    EXPECT_EQ(grid->geometry().size(), QSize(224, 165));
    EXPECT_EQ(grid->geometry().topLeft(), dlg.img_box()->geometry().topLeft());
    EXPECT_EQ(grid->Viewer(0)->geometry(), QRect(0, 0, 224, 165));
    EXPECT_FALSE(grid->isVisible());
}

}  // namespace
