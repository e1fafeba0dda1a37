// Drawing a picture from a widget's paint event, as a viewer does: the
// picture lands at the widget's place in its window and nowhere outside the
// part being repainted or the painter's clip.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QWidget>

#include <cstdint>
#include <vector>

#include "media/vedio_player.h"
#include "tests/media/ui/viewer_test_support.h"

namespace {

constexpr QRgb kRed = 0xFFFF0000, kGreen = 0xFF00FF00;

// Paints the whole picture over the whole widget.
class PictureWidget : public QWidget {
public:
    PictureWidget(VedioPlayer* player, QWidget* parent) : QWidget(parent), player_(player) {}
    QRect clip;  // the painter's clip, when not empty
    int drawn = -1;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (!clip.isEmpty()) painter.setClipRect(clip);
        drawn = player_->Draw(&painter, 0, 0, width(), height(), 0, 0, 0, 0);
    }

private:
    VedioPlayer* player_;
};

TEST(VedioPlayerWidgetTest, PictureOnlyWhereTheWidgetIsRepainted) {
    viewer_test::EnsureApplication();
    VedioPlayer player;
    ASSERT_TRUE(player.SetFrameSize(16, 12));
    std::vector<uint8_t> green(16 * 12 * 3);
    for (size_t i = 1; i < green.size(); i += 3) green[i] = 255;
    ASSERT_TRUE(player.CopyFrame(green.data(), green.size()));

    QWidget window;
    window.resize(60, 40);
    const QRect place(10, 5, 32, 24);
    PictureWidget widget(&player, &window);
    widget.setGeometry(place);

    struct Case {
        const char* what;
        QRegion repainted;  // in the widget's coordinates; empty: all of it
        QRect clip;
        QRegion green;  // in the window's coordinates
    };
    const QRegion corner = QRegion(0, 0, 32, 4) + QRegion(0, 0, 4, 24);
    const Case cases[] = {
        {"whole widget", QRegion(), QRect(), QRegion(place)},
        {"left half repainted", QRegion(0, 0, 16, 24), QRect(), QRegion(10, 5, 16, 24)},
        {"two edges repainted", corner, QRect(), corner.translated(place.topLeft())},
        {"clipped by the painter", QRegion(), QRect(4, 4, 8, 8), QRegion(14, 9, 8, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        widget.clip = c.clip;
        widget.drawn = -1;
        QImage image(60, 40, QImage::Format_RGB32);
        image.fill(kRed);
        const QRegion region = c.repainted.isEmpty() ? QRegion() : c.repainted.translated(place.topLeft());
        // The repainted part's corner goes where it is in the window.
        window.render(&image, region.boundingRect().topLeft(), region, QWidget::DrawChildren);
        ASSERT_EQ(1, widget.drawn);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ASSERT_EQ(c.green.contains(QPoint(x, y)) ? kGreen : kRed, image.pixel(x, y)) << x << "," << y;
    }
}

}  // namespace
