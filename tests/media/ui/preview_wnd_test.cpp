#include "media/ui/preview_wnd.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"

namespace {

int argc_ = 1;
char arg0_[] = "test";
char* argv_[] = {arg0_, nullptr};

TEST(PreviewWnd, ShowsTheEnginesPictureOnlyWithAnEngine) {
    QApplication app(argc_, argv_);
    TempFolder tmp;
    SmallRecording recording;
    recording.seconds = 1;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    ASSERT_FALSE(data.empty());

    PreviewStreamEngine engine;
    CPreviewWnd window;
    window.resize(320, 180);
    window.show();
    window.OnPreviewFrame(176, 144);  // no engine: nothing
    EXPECT_EQ(window.frame_width(), -1);

    engine.SetTarget(&window);
    window.SetEngine(&engine);
    engine.record_source.path = data;
    engine.record_source.start_second = recording.start_second;
    engine.record_source.end_second = recording.start_second;
    engine.record_source.year = recording.date.year;
    engine.record_source.month = recording.date.month;
    engine.record_source.day = recording.date.day;
    engine.preview_channel = 1;
    engine.StartLocal();
    QElapsedTimer timer;
    timer.start();
    while (window.frame_width() < 0 && timer.elapsed() < 3000) app.processEvents(QEventLoop::AllEvents, 10);
    engine.StopThreads();
    EXPECT_EQ(window.frame_width(), 176);
    EXPECT_EQ(window.frame_height(), 144);
    // The test picture is not black; the painted window shows it stretched.
    const QImage shot = window.grab().toImage();
    int lit = 0;
    for (int x = 0; x < shot.width(); x += 8) lit += qGray(shot.pixel(x, shot.height() / 2)) > 40;
    EXPECT_GT(lit, 5);
    window.SetEngine(nullptr);
    app.processEvents();
}

}  // namespace
