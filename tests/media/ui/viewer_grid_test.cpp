#include "media/ui/viewer_grid.h"

#include <gtest/gtest.h>

#include <QMouseEvent>

#include <filesystem>
#include <memory>

#include "mainwindow/storage_location.h"
#include "media/ui/my_viewer.h"
#include "media/view_slot_order.h"
#include "tests/media/ui/viewer_test_support.h"
#include "tests/support/program_folder_copy.h"
#include "tests/support/temp_folder.h"

namespace {

class RecordingHost : public ViewerHost {
public:
    void OnViewerDoubleClick(int view_index) override { calls.push_back("double-click " + std::to_string(view_index)); }
    void ToggleFullScreen() override { calls.push_back("full screen"); }
    void RestartRemoteStream() override { calls.push_back("restart"); }
    void ApplyViewLayout() override { calls.push_back("apply layout"); }
    std::vector<std::string> calls;
};

QRect R(int x, int y, int w, int h) { return QRect(x, y, w, h); }

class ViewerGridTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetViewSlotOrder();
        grid.SetHost(&host);
        grid.Create(0, 0, 1280, 1021, &parent);
    }
    void TearDown() override { ResetViewSlotOrder(); }

    QRect Geometry(int i) const { return grid.Viewer(i)->geometry(); }
    std::vector<int> Selected() const {
        std::vector<int> selected;
        for (int i = 0; i < 4; ++i)
            if (grid.Viewer(i)->IsSelected()) selected.push_back(i);
        return selected;
    }
    // A move is given the button held during it; Qt delivers no untracked move without one.
    void Mouse(int view, QEvent::Type type, Qt::MouseButton button, QPoint at) {
        const bool move = type == QEvent::MouseMove;
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, QPointF(at), QPointF(at), move ? Qt::NoButton : button, held, Qt::NoModifier);
        QApplication::sendEvent(grid.Viewer(view), &event);
    }

    viewer_test::UiRecorder recorder{QSize(1920, 1080)};
    RecordingHost host;
    QWidget parent;
    ViewerGrid grid;
};

TEST_F(ViewerGridTest, CreateStacksTheViewersInTheParent) {
    for (int i = 0; i < 4; ++i) {
        CMyViewer* viewer = grid.Viewer(i);
        EXPECT_EQ(viewer->parentWidget(), &parent);
        EXPECT_EQ(viewer->geometry(), R(120 * i, 120 * i, 100, 100));
        EXPECT_EQ(viewer->view_index(), i);
        EXPECT_EQ(viewer->property("controlId").toInt(), i);
        EXPECT_TRUE(viewer->isVisibleTo(&parent));
    }
    EXPECT_EQ(Selected(), std::vector<int>{0});
    EXPECT_EQ(grid.layout(), 9);
    EXPECT_EQ(grid.previous_layout(), 4);
    EXPECT_EQ(grid.Viewer(4), nullptr);
}

TEST_F(ViewerGridTest, TwoByTwoAndOneByOne) {
    grid.ApplyLayout(2);
    EXPECT_EQ(Geometry(0), R(0, 0, 640, 510));
    EXPECT_EQ(Geometry(1), R(640, 0, 640, 510));
    EXPECT_EQ(Geometry(2), R(0, 510, 640, 511));
    EXPECT_EQ(Geometry(3), R(640, 510, 640, 511));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(grid.Viewer(i)->layout(), 2);

    grid.ApplyLayout(1);
    EXPECT_EQ(Geometry(0), R(0, 0, 1280, 1021));
    for (int i = 1; i < 4; ++i) EXPECT_EQ(Geometry(i), R(0, 0, 1, 1));
}

TEST_F(ViewerGridTest, OddWidthLeavesTheLastPixelColumn) {
    grid.Create(0, 0, 1281, 1000, &parent);
    grid.ApplyLayout(2);
    EXPECT_EQ(Geometry(1), R(640, 0, 640, 500));
    EXPECT_EQ(Geometry(3).right(), 1279);
}

TEST_F(ViewerGridTest, LayoutThreeIsOnlyRecorded) {
    grid.ApplyLayout(2);
    grid.ApplyLayout(3);
    EXPECT_EQ(grid.layout(), 3);
    EXPECT_EQ(Geometry(3), R(640, 510, 640, 511));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(grid.Viewer(i)->layout(), 3);
}

TEST_F(ViewerGridTest, ChangeLayoutAndShowSingleRememberThePrevious) {
    grid.ApplyLayout(2);
    grid.ShowSingle(2);
    EXPECT_EQ(grid.layout(), 1);
    EXPECT_EQ(grid.previous_layout(), 2);
    EXPECT_EQ(Geometry(2), R(0, 0, 1280, 1021));
    EXPECT_EQ(Geometry(0), R(0, 0, 1, 1));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(grid.Viewer(i)->layout(), 1);

    grid.ChangeLayout(2);
    EXPECT_EQ(grid.previous_layout(), 1);
    EXPECT_EQ(Geometry(2), R(0, 510, 640, 511));

    grid.ShowSingle(7);  // not a place: nothing happens
    EXPECT_EQ(grid.layout(), 2);
}

TEST_F(ViewerGridTest, FullScreen) {
    grid.ApplyLayout(1);
    grid.SelectViewer(2);
    grid.LayoutFullScreen();
    EXPECT_EQ(Geometry(2), R(0, 0, 1918, 1078));

    grid.ApplyLayout(2);
    grid.LayoutFullScreen();
    EXPECT_EQ(Geometry(0), R(0, 0, 960, 540));
    EXPECT_EQ(Geometry(3), R(960, 540, 960, 540));
}

TEST_F(ViewerGridTest, SwappedSlotsMoveTheViews) {
    SwapViewSlot(2, 0);
    grid.ApplyLayout(2);
    EXPECT_EQ(Geometry(2), R(0, 0, 640, 510));
    EXPECT_EQ(Geometry(0), R(0, 510, 640, 511));

    // A view swapped out of the four places is parked, not left where it was.
    SwapViewSlot(1, 7);
    grid.ApplyLayout(2);
    EXPECT_EQ(Geometry(1), R(0, 0, 1, 1));
}

TEST_F(ViewerGridTest, SelectionIsExclusiveAndNeverEmptyAfterALayout) {
    grid.SelectViewer(3);
    EXPECT_EQ(Selected(), std::vector<int>{3});
    grid.SelectViewer(-1);
    EXPECT_TRUE(Selected().empty());
    EXPECT_EQ(grid.SelectedIndex(), -1);
    grid.ApplyLayout(2);
    EXPECT_EQ(Selected(), std::vector<int>{0});
}

TEST_F(ViewerGridTest, CloseVideoEmptiesAndTakesTheWindowsDown) {
    grid.Viewer(1)->SetFrameSize(8, 8);
    ASSERT_TRUE(grid.Viewer(1)->HasVideo());
    grid.CloseVideo();
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(grid.Viewer(i)->HasVideo());
        EXPECT_FALSE(grid.Viewer(i)->isVisibleTo(&parent));
    }
    grid.Create(0, 0, 640, 480, &parent);
    EXPECT_TRUE(grid.Viewer(1)->isVisibleTo(&parent));
}

TEST_F(ViewerGridTest, CommandsTradePlacesAndCallTheDialog) {
    EXPECT_TRUE(grid.Viewer(0)->OnCommand(15));
    EXPECT_EQ(ViewSlotOrder[0], 2);
    EXPECT_EQ(ViewSlotOrder[2], 0);
    EXPECT_EQ(Selected(), std::vector<int>{2});
    EXPECT_EQ(host.calls, (std::vector<std::string>{"restart", "apply layout"}));

    host.calls.clear();
    SwapViewSlot(3, 8);  // view 3 not shown: nothing exchanged, the rest still runs
    EXPECT_TRUE(grid.Viewer(1)->OnCommand(16));
    EXPECT_EQ(ViewSlotOrder[1], 1);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"restart", "apply layout"}));

    host.calls.clear();
    EXPECT_TRUE(grid.Viewer(1)->OnCommand(CMyViewer::kCommandFullScreen));
    EXPECT_EQ(host.calls, std::vector<std::string>{"full screen"});
}

TEST_F(ViewerGridTest, MouseSelectsPansAndDoubleClicks) {
    grid.ApplyLayout(2);
    CMyViewer* viewer = grid.Viewer(3);
    viewer->SetFrameSize(704, 576);
    viewer->Zoom(4);  // 648 x 528 at (28, 24)

    Mouse(3, QEvent::MouseButtonPress, Qt::LeftButton, {100, 100});
    EXPECT_EQ(Selected(), std::vector<int>{3});
    Mouse(3, QEvent::MouseMove, Qt::LeftButton, {90, 104});
    EXPECT_EQ(viewer->CurrentZoom().x, 38);
    EXPECT_EQ(viewer->CurrentZoom().y, 20);
    Mouse(3, QEvent::MouseButtonRelease, Qt::LeftButton, {90, 104});
    Mouse(3, QEvent::MouseMove, Qt::LeftButton, {50, 50});
    EXPECT_EQ(viewer->CurrentZoom().x, 38);  // the drag ended with the release

    Mouse(1, QEvent::MouseButtonPress, Qt::RightButton, {5, 5});
    EXPECT_EQ(Selected(), std::vector<int>{1});
    Mouse(1, QEvent::MouseButtonRelease, Qt::RightButton, {5, 5});
    Mouse(1, QEvent::MouseButtonDblClick, Qt::LeftButton, {5, 5});
    EXPECT_EQ(host.calls, std::vector<std::string>{"double-click 1"});
}

TEST_F(ViewerGridTest, SnapshotIsNamedAfterTheSelectedView) {
    ProgramFolderCopy program;
    TempFolder folder;
    ui::SetFolderChooser([&](QWidget*, const std::string&) { return std::optional<std::string>(folder.path()); });
    grid.Viewer(0)->SetFrameSize(16, 16);
    grid.SelectViewer(2);
    EXPECT_EQ(grid.Viewer(0)->Snapshot(), CMyViewer::SnapshotResult::kSaved);
    const auto entry = *std::filesystem::directory_iterator(folder.path());
    EXPECT_EQ(entry.path().filename().string().substr(0, 5), "CH03_");
}

// In 2x2 the print covers the four views as shown, whichever viewer prints.
TEST_F(ViewerGridTest, PrintIn2x2CapturesTheWholeGrid) {
    const uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};
    grid.ApplyLayout(2);
    for (int i = 0; i < 4; ++i) {
        CMyViewer* viewer = grid.Viewer(i);
        viewer->SetFrameSize(16, 16);
        const auto picture = viewer_test::SolidPicture(16, 16, colours[i]);
        ASSERT_EQ(viewer->ShowFrame(static_cast<int>(picture.size()), picture.data()), 1);
    }
    parent.resize(1280, 1021);
    parent.show();
    QRect all;
    for (int i = 0; i < 4; ++i) all |= Geometry(i);
    for (int printing : {0, 3}) {
        SCOPED_TRACE(printing);
        const QImage capture = grid.Viewer(printing)->PrintCapture();
        ASSERT_EQ(capture.size(), all.size());
        for (int i = 0; i < 4; ++i) {
            const QPoint centre = Geometry(i).center() - all.topLeft();
            EXPECT_EQ(viewer_test::Pixel(capture, centre.x(), centre.y()), colours[i]) << "view " << i;
        }
    }
    grid.ApplyLayout(1);
    EXPECT_EQ(grid.Viewer(0)->PrintCapture().size(), Geometry(0).size());
}

TEST(ViewerGridLifetime, ParentDestroyedFirst) {
    viewer_test::UiRecorder recorder;
    auto parent = std::make_unique<QWidget>();
    ViewerGrid grid;
    grid.Create(0, 0, 100, 100, parent.get());
    parent.reset();
    EXPECT_EQ(grid.Viewer(0), nullptr);
    grid.ApplyLayout(2);
    grid.SelectViewer(1);
}

}  // namespace
