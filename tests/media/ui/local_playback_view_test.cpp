// A local playback through the real windows: the engine's workers feed the
// viewers and the status panel from their threads while the window thread paints.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include "media/playback_engine.h"
#include "media/ui/info_box.h"
#include "media/ui/my_viewer.h"
#include "tests/support/playback_fakes.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"

namespace {

int argc_ = 1;
char arg0_[] = "test";
char* argv_[] = {arg0_, nullptr};

TEST(LocalPlaybackView, PicturesReachTheViewersAndTheClockThePanel) {
    QApplication app(argc_, argv_);
    TempFolder tmp;
    SmallRecording recording;
    recording.seconds = 2;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    ASSERT_FALSE(data.empty());

    CMyViewer viewers[4];
    for (CMyViewer& v : viewers) {
        v.resize(200, 160);
        v.show();
    }
    CInfoBox panel;
    panel.resize(300, 100);
    panel.show();
    FakePlaybackWindow window;
    PlaybackEngine engine(&window, &panel, {&viewers[0], &viewers[1], &viewers[2], &viewers[3]});
    RecordSource source;
    source.path = data;
    source.channel_mask = 3;
    source.start_second = recording.start_second;
    source.end_second = recording.start_second + 1;
    source.year = recording.date.year;
    source.month = recording.date.month;
    source.day = recording.date.day;
    engine.SetLocalSource(source);
    engine.StartLocalPlayback();

    QElapsedTimer timer;
    timer.start();
    while (window.Count(WM_STOP_REQUESTED) == 0 && timer.elapsed() < 6000) app.processEvents(QEventLoop::AllEvents, 20);
    ASSERT_GT(window.Count(WM_STOP_REQUESTED), 0);
    EXPECT_TRUE(viewers[0].HasVideo());
    EXPECT_TRUE(viewers[1].HasVideo());
    EXPECT_FALSE(viewers[2].HasVideo());
    EXPECT_EQ(panel.CurrentTexts().date, "2012/03/05");

    // The painted view holds the picture: not black in the middle.
    const QImage shot = viewers[1].grab().toImage();
    const QColor middle = shot.pixelColor(shot.width() / 2, shot.height() / 2);
    EXPECT_GT(middle.red() + middle.green() + middle.blue(), 30);

    engine.HandleMessage(WM_STOP_REQUESTED, window.LastParam(WM_STOP_REQUESTED), 0);
    app.processEvents();
    EXPECT_FALSE(viewers[0].HasVideo());
    EXPECT_EQ(panel.CurrentTexts().state, "STOP");
}

}  // namespace
