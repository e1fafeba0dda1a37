#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "mainwindow/ui/bmp_button.h"
#include "mainwindow/ui/my_button.h"
#include "mainwindow/ui/my_slider.h"
#include "mainwindow/ui/my_static.h"
#include "mainwindow/ui/skin_fallback.h"
#include "media/ui/gdi_paint.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

using control_test::Rgb;
using control_test::SendMouse;
using control_test::Solid;

const QColor kFirst(255, 255, 0);
const QColor kNormal(0, 0, 255);
const QColor kPressed(0, 255, 0);
const QColor kHover(255, 0, 0);

class SkinnedControlsTest : public ::testing::Test {
protected:
    void SetUp() override { dialog.resize(300, 200); }
    control_test::ApplicationGuard application;
    QWidget dialog;
};

// The small pictures cover the top-left 10 x 10; the normal face is stretched.
QImage GrabButton(QWidget& button) { return button.grab().toImage(); }

TEST_F(SkinnedControlsTest, MyButtonLayersItsPicturesByState) {
    CMyButton button(&dialog, 1046);
    button.setGeometry(10, 10, 40, 30);
    button.SetImages(Solid(10, 10, kFirst), Solid(4, 4, kNormal), Solid(10, 10, kPressed), Solid(10, 10, kHover));
    EXPECT_EQ(button.property("controlId").toInt(), 1046);

    QImage face = GrabButton(button);
    EXPECT_EQ(Rgb(face, 2, 2), Rgb(kNormal));
    EXPECT_EQ(Rgb(face, 39, 29), Rgb(kNormal));

    SendMouse(&button, QEvent::MouseMove, QPoint(20, 15), Qt::NoButton);
    ASSERT_TRUE(button.Hovering());
    face = GrabButton(button);
    EXPECT_EQ(Rgb(face, 2, 2), Rgb(kHover));
    EXPECT_EQ(Rgb(face, 20, 20), Rgb(kNormal));

    SendMouse(&button, QEvent::MouseButtonPress, QPoint(20, 15));
    EXPECT_EQ(Rgb(GrabButton(button), 2, 2), Rgb(kPressed));
    SendMouse(&button, QEvent::MouseButtonRelease, QPoint(20, 15));

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.Hovering());
    EXPECT_EQ(Rgb(GrabButton(button), 2, 2), Rgb(kNormal));

    // Latched shows the first picture though enabled and not hovered.
    button.SetLatched(1);
    EXPECT_EQ(Rgb(GrabButton(button), 2, 2), Rgb(kFirst));
    button.SetLatched(0);
    button.setEnabled(false);
    EXPECT_EQ(Rgb(GrabButton(button), 2, 2), Rgb(kFirst));
}

TEST_F(SkinnedControlsTest, MyButtonWithoutHoverPictureShowsTheNormalFace) {
    CMyButton button(&dialog);
    button.setGeometry(10, 10, 40, 30);
    button.SetImages(Solid(10, 10, kFirst), Solid(4, 4, kNormal), Solid(10, 10, kPressed), QImage());
    SendMouse(&button, QEvent::MouseMove, QPoint(20, 15), Qt::NoButton);
    ASSERT_TRUE(button.Hovering());
    const QImage face = GrabButton(button);
    EXPECT_EQ(Rgb(face, 2, 2), Rgb(kNormal));
    EXPECT_EQ(Rgb(face, 30, 20), Rgb(kNormal));
}

TEST_F(SkinnedControlsTest, PicturesLoadFromFilesAndMissingOnesFallBackToAFlatFace) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string normal = (folder.path() + "/play-D.bmp").toStdString();
    ASSERT_TRUE(Solid(8, 8, kNormal).save(QString::fromStdString(normal), "BMP"));
    const std::string missing = (folder.path() + "/play-N.bmp").toStdString();

    CMyButton button(&dialog);
    button.setGeometry(0, 0, 33, 34);
    button.SetImages(missing, normal, missing, missing);
    EXPECT_EQ(Rgb(GrabButton(button), 16, 16), Rgb(kNormal));

    CMyButton broken(&dialog);
    broken.setGeometry(0, 0, 33, 34);
    broken.SetImages(missing, missing, missing, "");
    EXPECT_EQ(Rgb(GrabButton(broken), 16, 16), Rgb(kFlatFaceColour));
    SendMouse(&broken, QEvent::MouseButtonPress, QPoint(5, 5));
    EXPECT_EQ(Rgb(GrabButton(broken), 16, 16), Rgb(kFlatPressedColour));
    SendMouse(&broken, QEvent::MouseButtonRelease, QPoint(5, 5));

    CBmpButton check(CBmpButton::kCheckBox, &dialog, 1015);
    check.setGeometry(0, 0, 41, 41);
    check.SetImages(missing, missing, missing, missing);
    check.SetCheck(1);
    EXPECT_EQ(Rgb(check.grab().toImage(), 20, 20), Rgb(kFlatPressedColour));
}

TEST_F(SkinnedControlsTest, CheckBoxTogglesOnlyWhenReleasedOverIt) {
    CBmpButton check(CBmpButton::kCheckBox, &dialog, 1015);
    check.setGeometry(10, 10, 41, 41);
    check.SetImages(Solid(4, 4, kFirst), Solid(4, 4, kNormal), Solid(4, 4, kPressed), Solid(4, 4, kHover));
    int clicks = 0;
    int check_seen_by_click = -1;
    QObject::connect(&check, &QAbstractButton::clicked, [&] {
        ++clicks;
        check_seen_by_click = check.GetCheck();
    });

    control_test::Click(&check, QPoint(20, 20));
    EXPECT_EQ(check.GetCheck(), 1);
    EXPECT_EQ(check_seen_by_click, 1);  // the handler sees the new state
    EXPECT_EQ(Rgb(check.grab().toImage(), 20, 20), Rgb(kPressed));
    control_test::Click(&check, QPoint(20, 20));
    EXPECT_EQ(check.GetCheck(), 0);
    EXPECT_EQ(clicks, 2);

    SendMouse(&check, QEvent::MouseButtonPress, QPoint(20, 20));
    SendMouse(&check, QEvent::MouseMove, QPoint(80, 80));
    EXPECT_FALSE(check.isDown());
    SendMouse(&check, QEvent::MouseButtonRelease, QPoint(80, 80));
    EXPECT_EQ(check.GetCheck(), 0);
    EXPECT_EQ(clicks, 2);

    // Hovered and unchecked: the hover picture.
    SendMouse(&check, QEvent::MouseMove, QPoint(20, 20), Qt::NoButton);
    EXPECT_EQ(Rgb(check.grab().toImage(), 20, 20), Rgb(kHover));
    check.setEnabled(false);
    EXPECT_EQ(Rgb(check.grab().toImage(), 20, 20), Rgb(kFirst));
}

TEST_F(SkinnedControlsTest, RadioButtonsOfAGroupExcludeEachOtherAndPushButtonsNeverCheck) {
    CBmpButton a(CBmpButton::kRadioButton, &dialog, 1, 0);
    CBmpButton b(CBmpButton::kRadioButton, &dialog, 2, 0);
    CBmpButton other_group(CBmpButton::kRadioButton, &dialog, 3, 1);
    CBmpButton push(CBmpButton::kPushButton, &dialog, 4, 0);
    for (CBmpButton* button : {&a, &b, &other_group, &push}) button->setGeometry(0, 0, 20, 20);

    other_group.SetCheck(1);
    a.SetCheck(1);
    control_test::Click(&b, QPoint(5, 5));
    EXPECT_EQ(b.GetCheck(), 1);
    EXPECT_EQ(a.GetCheck(), 0);
    EXPECT_EQ(other_group.GetCheck(), 1);
    // A radio button stays set when clicked again.
    control_test::Click(&b, QPoint(5, 5));
    EXPECT_EQ(b.GetCheck(), 1);

    push.SetCheck(1);
    EXPECT_EQ(push.GetCheck(), 0);
    control_test::Click(&push, QPoint(5, 5));
    EXPECT_EQ(push.GetCheck(), 0);
}

class SliderTest : public SkinnedControlsTest {
protected:
    void SetUp() override {
        SkinnedControlsTest::SetUp();
        // The parent's own background shows through the slider.
        dialog.setAutoFillBackground(true);
        QPalette colours = dialog.palette();
        colours.setColor(QPalette::Window, QColor(10, 120, 10));
        dialog.setPalette(colours);
        slider = new CMySlider(Qt::Horizontal, &dialog, 1007);
        slider->setGeometry(20, 20, 119, 24);
        slider->setRange(0, 100);
        slider->SetMessageSink(recorder.Sink());
    }
    QImage GrabArea() { return dialog.grab(slider->geometry()).toImage(); }

    CMySlider* slider = nullptr;
    control_test::MessageRecorder recorder;
};

TEST_F(SliderTest, ClickJumpsAndReleasePostsSliderReleased) {
    std::vector<int> codes;
    QObject::connect(slider, &CMySlider::Scrolled, [&](int code) { codes.push_back(code); });

    SendMouse(slider, QEvent::MouseButtonPress, QPoint(114 - 6, 12));
    EXPECT_EQ(slider->value(), 100);
    EXPECT_TRUE(slider->ThumbPressed());
    SendMouse(slider, QEvent::MouseMove, QPoint(58, 12));
    EXPECT_EQ(slider->value(), 50);
    SendMouse(slider, QEvent::MouseButtonRelease, QPoint(58, 12));
    EXPECT_FALSE(slider->ThumbPressed());
    EXPECT_EQ(codes, (std::vector<int>{CMySlider::kThumbTrack, CMySlider::kThumbTrack}));

    EXPECT_TRUE(recorder.messages.empty());  // posted, not sent
    control_test::DeliverPosted();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].message, WM_SLIDER_RELEASED);
    EXPECT_EQ(recorder.messages[0].message, 0x466u);
    EXPECT_EQ(recorder.messages[0].wparam, 0);
    EXPECT_EQ(recorder.messages[0].lparam, 0);

    // A move without a press drags nothing.
    SendMouse(slider, QEvent::MouseMove, QPoint(8, 12), Qt::NoButton);
    EXPECT_EQ(slider->value(), 50);
}

TEST_F(SliderTest, ThumbColourZeroIsTheButtonFaceAndChannelIsDarkGrey) {
    slider->setValue(50);
    const QRect thumb = [&] {
        const SliderRect r = slider->Geometry().ThumbRect(0, 100, 50);
        return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
    }();
    QImage area = GrabArea();
    EXPECT_EQ(Rgb(area, thumb.center().x(), thumb.center().y()), Rgb(kEdgeFaceColour));
    // Channel left of the thumb, and the parent's background above it.
    EXPECT_EQ(Rgb(area, 12, 12), 0x323232u);
    EXPECT_EQ(Rgb(area, 12, 2), Rgb(QColor(10, 120, 10)));

    slider->SetThumbColours(0x0000FF, 0x00FF00);
    area = GrabArea();
    EXPECT_EQ(Rgb(area, thumb.center().x(), thumb.center().y()), Rgb(QColor(255, 0, 0)));
    SendMouse(slider, QEvent::MouseButtonPress, thumb.center());
    area = GrabArea();
    EXPECT_EQ(Rgb(area, thumb.center().x(), thumb.center().y()), Rgb(QColor(0, 255, 0)));
    SendMouse(slider, QEvent::MouseButtonRelease, thumb.center());
}

TEST_F(SkinnedControlsTest, MyStaticPaintsItsOwnColours) {
    CMyStatic label(&dialog, 1918);
    label.setGeometry(0, 0, 136, 18);
    label.SetBackgroundColour(0xFFFFFF);
    label.SetTextColour(0x0000FF);
    label.setAlignment(Qt::AlignCenter);
    label.setText("WWWWWWWWWWWWWWWW");
    const QImage image = label.grab().toImage();
    EXPECT_EQ(Rgb(image, 0, 0), 0xFFFFFFu);
    bool red_text = false;
    for (int x = 0; x < image.width() && !red_text; ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const QColor c(image.pixel(x, y));
            if (c.red() > 200 && c.green() < 60 && c.blue() < 60) red_text = true;
        }
    }
    EXPECT_TRUE(red_text);
}

}  // namespace
