#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "media/vedio_player.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Bgr {
    uint8_t b, g, r;
};

// A top-down BGR picture of four quadrants.
Bytes Quadrants(int side, Bgr top_left, Bgr top_right, Bgr bottom_left, Bgr bottom_right) {
    Bytes p(static_cast<size_t>(side) * side * 3);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const Bgr c = y < side / 2 ? (x < side / 2 ? top_left : top_right)
                                       : (x < side / 2 ? bottom_left : bottom_right);
            uint8_t* px = &p[(static_cast<size_t>(y) * side + x) * 3];
            px[0] = c.b, px[1] = c.g, px[2] = c.r;
        }
    return p;
}

bool Near(QRgb pixel, Bgr c, int tolerance = 1) {
    return std::abs(qBlue(pixel) - c.b) <= tolerance && std::abs(qGreen(pixel) - c.g) <= tolerance &&
           std::abs(qRed(pixel) - c.r) <= tolerance;
}

constexpr Bgr kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

QImage Surface(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

TEST(VedioPlayerDrawTest, WholePictureOneToOneIsTheTopDownPicture) {
    std::mt19937 random(5);
    Bytes top_down(9 * 7 * 3);
    for (uint8_t& b : top_down) b = static_cast<uint8_t>(random());
    VedioPlayer player;
    ASSERT_TRUE(player.SetFrameSize(9, 7));
    ASSERT_TRUE(player.CopyFrame(top_down.data(), top_down.size()));
    QImage image = Surface(9, 7);
    {
        QPainter painter(&image);
        EXPECT_EQ(1, player.Draw(&painter, 0, 0, 9, 7, 0, 0, 0, 0));
    }
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            const uint8_t* px = &top_down[(static_cast<size_t>(y) * 9 + x) * 3];
            EXPECT_TRUE(Near(image.pixel(x, y), Bgr{px[0], px[1], px[2]})) << x << "," << y;
        }
}

TEST(VedioPlayerDrawTest, SourceRectangleIsCountedFromTheTopAndStretchedIntoTheTarget) {
    VedioPlayer player;
    ASSERT_TRUE(player.SetFrameSize(40, 40));
    const Bytes picture = Quadrants(40, kRed, kGreen, kBlue, kWhite);
    ASSERT_TRUE(player.CopyFrame(picture.data(), picture.size()));
    struct Case {
        int x_src, y_src;
        Bgr expected;
    } cases[] = {{0, 0, kRed}, {20, 0, kGreen}, {0, 20, kBlue}, {20, 20, kWhite}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x_src << "," << c.y_src);
        QImage image = Surface(100, 100);
        {
            QPainter painter(&image);
            ASSERT_EQ(1, player.Draw(&painter, 10, 10, 80, 80, c.x_src, c.y_src, 20, 20));
        }
        for (int y = 12; y < 88; y += 5)
            for (int x = 12; x < 88; x += 5) ASSERT_TRUE(Near(image.pixel(x, y), c.expected, 2)) << x << "," << y;
        // Nothing outside the destination rectangle is touched.
        for (int i = 0; i < 100; ++i) {
            for (auto [x, y] : {std::pair{i, 0}, std::pair{i, 9}, std::pair{i, 90}, std::pair{i, 99},
                                std::pair{0, i}, std::pair{9, i}, std::pair{90, i}, std::pair{99, i}})
                ASSERT_TRUE(Near(image.pixel(x, y), kBlack, 0)) << x << "," << y;
        }
    }
}

TEST(VedioPlayerDrawTest, StretchIsSmooth) {
    VedioPlayer player;
    ASSERT_TRUE(player.SetFrameSize(2, 1));
    const Bytes picture = {0, 0, 0, 255, 255, 255};
    ASSERT_TRUE(player.CopyFrame(picture.data(), picture.size()));
    QImage image = Surface(100, 4);
    {
        QPainter painter(&image);
        ASSERT_EQ(1, player.Draw(&painter, 0, 0, 100, 4, 0, 0, 2, 1));
    }
    // A nearest-pixel stretch would jump from black to white in the middle.
    const int middle = qGray(image.pixel(50, 2));
    EXPECT_GT(middle, 40);
    EXPECT_LT(middle, 215);
    EXPECT_LT(qGray(image.pixel(1, 2)), 20);
    EXPECT_GT(qGray(image.pixel(98, 2)), 235);
}

// On a high-density device the picture is stretched to its device pixels: at
// its own size there, it is copied pixel for pixel. Under a scaling painter it
// still covers the whole destination.
TEST(VedioPlayerDrawTest, HighDensityDevicesAndScaledPainters) {
    VedioPlayer player;
    ASSERT_TRUE(player.SetFrameSize(200, 1));
    Bytes stripes(200 * 3);
    for (size_t i = 0; i < stripes.size(); ++i) stripes[i] = (i / 3) % 2 ? 255 : 0;
    ASSERT_TRUE(player.CopyFrame(stripes.data(), stripes.size()));

    QImage dense = Surface(200, 8);
    dense.setDevicePixelRatio(2);
    {
        QPainter painter(&dense);
        ASSERT_EQ(1, player.Draw(&painter, 0, 0, 100, 4, 0, 0, 200, 1));
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 200; ++x) ASSERT_TRUE(Near(dense.pixel(x, y), x % 2 ? kWhite : kBlack, 0)) << x << "," << y;

    QImage scaled(200, 8, QImage::Format_RGB32);
    scaled.fill(Qt::red);
    {
        QPainter painter(&scaled);
        painter.scale(2, 2);
        ASSERT_EQ(1, player.Draw(&painter, 0, 0, 100, 4, 0, 0, 200, 1));
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 200; ++x) {
            const QRgb pixel = scaled.pixel(x, y);
            ASSERT_TRUE(qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel)) << x << "," << y;
        }
}

// Each draw shows the picture as it is now, where it is placed now: after a
// new picture, a new size, a zoom or a pan, and at a size drawn in strips.
TEST(VedioPlayerDrawTest, EachDrawShowsTheCurrentPictureAndPlace) {
    VedioPlayer player;
    ASSERT_TRUE(player.SetFrameSize(40, 40));
    const Bytes quadrants = Quadrants(40, kRed, kGreen, kBlue, kWhite);
    ASSERT_TRUE(player.CopyFrame(quadrants.data(), quadrants.size()));
    auto draw = [&](int dx_dst, int x_src, int y_src, int dx_src) {
        QImage image = Surface(60, 60);
        QPainter painter(&image);
        EXPECT_EQ(1, player.Draw(&painter, 0, 0, dx_dst, dx_dst, x_src, y_src, dx_src, dx_src));
        painter.end();
        return image;
    };
    EXPECT_TRUE(Near(draw(40, 0, 0, 0).pixel(30, 30), kWhite));
    EXPECT_TRUE(Near(draw(40, 0, 0, 0).pixel(30, 30), kWhite));
    EXPECT_TRUE(Near(draw(40, 0, 0, 20).pixel(30, 30), kRed));    // zoomed in on the top left
    EXPECT_TRUE(Near(draw(40, 20, 0, 20).pixel(30, 30), kGreen));  // panned right
    const QImage smaller = draw(20, 0, 0, 0);
    EXPECT_TRUE(Near(smaller.pixel(15, 15), kWhite));
    EXPECT_TRUE(Near(smaller.pixel(30, 30), kBlack, 0));
    const Bytes blue = Quadrants(40, kBlue, kBlue, kBlue, kBlue);
    ASSERT_TRUE(player.CopyFrame(blue.data(), blue.size()));
    EXPECT_TRUE(Near(draw(20, 0, 0, 0).pixel(15, 15), kBlue));
    std::fill_n(player.buffer(), player.buffer_size(), uint8_t{0});
    EXPECT_TRUE(Near(draw(20, 0, 0, 0).pixel(15, 15), kBlack));

    // Large enough to be made in several strips: no row left out or doubled.
    ASSERT_TRUE(player.CopyFrame(quadrants.data(), quadrants.size()));
    QImage large = Surface(800, 600);
    {
        QPainter painter(&large);
        ASSERT_EQ(1, player.Draw(&painter, 0, 0, 800, 600, 0, 0, 0, 0));
    }
    // Enlarged 15 times: the halves blend over the 15 rows between the centres
    // of the source rows on either side of the middle.
    for (int y = 0; y < 600; y += 3) {
        if (y >= 292 && y < 308) continue;
        ASSERT_TRUE(Near(large.pixel(200, y), y < 300 ? kRed : kBlue, 2)) << y;
        ASSERT_TRUE(Near(large.pixel(600, y), y < 300 ? kGreen : kWhite, 2)) << y;
    }
    for (int y = 0; y < 600; ++y) ASSERT_NE(large.pixel(400, y) & 0xFFFFFF, 0u) << y;
}

TEST(VedioPlayerDrawTest, NothingDrawnWithoutHandlePictureOrPainter) {
    QImage image = Surface(16, 16);
    QPainter painter(&image);
    VedioPlayer fresh;
    EXPECT_EQ(0, fresh.Draw(&painter, 0, 0, 16, 16, 0, 0, 0, 0));

    VedioPlayer player;
    ASSERT_TRUE(player.SetFrameSize(8, 8));
    EXPECT_EQ(0, player.Draw(nullptr, 0, 0, 16, 16, 0, 0, 0, 0));
    QPainter idle;
    EXPECT_EQ(0, player.Draw(&idle, 0, 0, 16, 16, 0, 0, 0, 0));
    EXPECT_EQ(0, player.Draw(&painter, 0, 0, 0, 16, 0, 0, 0, 0));
    EXPECT_EQ(0, player.Draw(&painter, 0, 0, 16, 16, 50, 50, 4, 4));  // source outside the picture
    player.CloseDrawHandle();
    EXPECT_EQ(0, player.Draw(&painter, 0, 0, 16, 16, 0, 0, 0, 0));
    ASSERT_TRUE(player.SetFrameSize(8, 8));  // opens a new handle
    EXPECT_EQ(1, player.Draw(&painter, 0, 0, 16, 16, 0, 0, 0, 0));
    ASSERT_TRUE(player.SetFrameSize(0, 8));
    EXPECT_EQ(0, player.Draw(&painter, 0, 0, 16, 16, 0, 0, 0, 0));
}

// The worker resizes and fills the picture while the window thread draws it:
// the picture lock keeps a draw from reading a buffer being replaced.
TEST(VedioPlayerDrawTest, DrawingWhileTheWorkerResizes) {
    VedioPlayer player;
    ASSERT_TRUE(player.SetFrameSize(64, 48));
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        const Bytes big(352 * 288 * 3, 0x80), small(64 * 48 * 3, 0x40);
        for (int i = 0; !stop; ++i) {
            const bool large = i % 2 == 0;
            player.SetFrameSize(large ? 352 : 64, large ? 288 : 48);
            auto lock = player.LockPicture();
            player.CopyFrame(large ? big.data() : small.data(), large ? big.size() : small.size());
            player.Grey();
        }
    });
    QImage image = Surface(200, 150);
    int drawn = 0;
    for (int i = 0; i < 300; ++i) {
        QPainter painter(&image);
        drawn += player.Draw(&painter, 0, 0, 200, 150, 0, 0, 0, 0);
    }
    stop = true;
    worker.join();
    EXPECT_EQ(300, drawn);
}

// A picture is made and filtered out of sight and shown whole when the hold
// ends; drawing meanwhile shows the last one and never waits for the hold.
TEST(VedioPlayerDrawTest, PictureIsShownWhenItsHoldEnds) {
    VedioPlayer player;
    ASSERT_TRUE(player.SetFrameSize(8, 8));
    const Bytes red = Quadrants(8, kRed, kRed, kRed, kRed), white = Quadrants(8, kWhite, kWhite, kWhite, kWhite);
    ASSERT_TRUE(player.CopyFrame(red.data(), red.size()));
    auto shown = [&] {
        QImage image = Surface(8, 8);
        QPainter painter(&image);
        EXPECT_EQ(1, player.Draw(&painter, 0, 0, 8, 8, 0, 0, 0, 0));
        painter.end();
        return image.pixel(4, 4);
    };
    {
        auto hold = player.LockPicture();
        ASSERT_TRUE(player.CopyFrame(white.data(), white.size()));
        ASSERT_TRUE(player.Grey());
        EXPECT_TRUE(Near(shown(), kRed));
        Bytes copy(red.size());
        ASSERT_TRUE(player.CopyTopDown(copy.data(), copy.size()));
        EXPECT_EQ(red, copy);
    }
    EXPECT_TRUE(Near(shown(), kWhite));
    // A refused picture inside a hold shows nothing new.
    {
        auto hold = player.LockPicture();
        EXPECT_FALSE(player.CopyFrame(red.data(), red.size() - 1));
    }
    EXPECT_TRUE(Near(shown(), kWhite));
}

}  // namespace
