#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <gtest/gtest.h>

#include "mainwindow/ui/image_adjust_dlg.h"
#include "media/ui/my_viewer.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/media/ui/viewer_test_support.h"

namespace {

template <typename T>
T* Control(QWidget* parent, int id) {
    for (T* child : parent->findChildren<T*>())
        if (child->property("controlId").toInt() == id) return child;
    return nullptr;
}


class AdjustImageTest : public ::testing::Test {
protected:
    control_test::ApplicationGuard application;
    CMyViewer viewer;
    CAdjustImage dialog;

    void SetUp() override { dialog.viewer = &viewer; }
};

TEST_F(AdjustImageTest, InitShowsTheViewerAndWritesNothingBack) {
    // 150 lies outside the sliders' range: shown clamped, but the viewer keeps it.
    viewer.SetEnhancement({1, 0, 1, 150, -25});
    dialog.OnInitDialog();

    EXPECT_EQ(dialog.windowTitle(), "Image Enhancement Tool");
    ASSERT_NE(Control<QPushButton>(&dialog, CAdjustImage::kOkId), nullptr);
    EXPECT_EQ(Control<QPushButton>(&dialog, CAdjustImage::kOkId)->text(), "OK");
    EXPECT_EQ(Control<QPushButton>(&dialog, CAdjustImage::kDefaultId)->text(), "Default");
    EXPECT_EQ(Control<QGroupBox>(&dialog, CAdjustImage::kGroupId)->title(), "Image");

    auto* brightness = Control<QCheckBox>(&dialog, CAdjustImage::kBrightnessId);
    auto* contrast = Control<QCheckBox>(&dialog, CAdjustImage::kContrastId);
    auto* grey = Control<QCheckBox>(&dialog, CAdjustImage::kGreyId);
    ASSERT_TRUE(brightness && contrast && grey);
    EXPECT_EQ(brightness->text(), "Brightness");
    EXPECT_EQ(grey->text(), "Gray Scale");
    EXPECT_TRUE(brightness->isChecked());
    EXPECT_FALSE(contrast->isChecked());
    EXPECT_TRUE(grey->isChecked());

    auto* brightness_value = Control<QSlider>(&dialog, CAdjustImage::kBrightnessValueId);
    auto* contrast_value = Control<QSlider>(&dialog, CAdjustImage::kContrastValueId);
    ASSERT_TRUE(brightness_value && contrast_value);
    for (QSlider* slider : {brightness_value, contrast_value}) {
        EXPECT_EQ(slider->minimum(), -100);
        EXPECT_EQ(slider->maximum(), 100);
        EXPECT_EQ(slider->pageStep(), 10);
        EXPECT_EQ(slider->tickInterval(), 10);
    }
    EXPECT_EQ(brightness_value->value(), 100);
    EXPECT_EQ(contrast_value->value(), -25);
    EXPECT_EQ(viewer.GetEnhancement(), (ViewerEnhancement{1, 0, 1, 150, -25}));
}

TEST_F(AdjustImageTest, EveryControlReachesTheViewerAtOnce) {
    dialog.OnInitDialog();
    // A value stored while its switch is off stays stored; the switch then applies it.
    dialog.BrightnessSlider()->setValue(40);
    EXPECT_EQ(viewer.GetEnhancement(), (ViewerEnhancement{0, 0, 0, 40, 0}));
    dialog.BrightnessBox()->click();
    EXPECT_EQ(viewer.GetEnhancement(), (ViewerEnhancement{1, 0, 0, 40, 0}));

    dialog.ContrastSlider()->triggerAction(QAbstractSlider::SliderPageStepSub);
    dialog.ContrastSlider()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(viewer.GetEnhancement(), (ViewerEnhancement{1, 0, 0, 40, -11}));
    dialog.ContrastBox()->click();
    dialog.GreyBox()->click();
    EXPECT_EQ(viewer.GetEnhancement(), (ViewerEnhancement{1, 1, 1, 40, -11}));
    dialog.BrightnessBox()->click();
    EXPECT_EQ(viewer.GetEnhancement(), (ViewerEnhancement{0, 1, 1, 40, -11}));
}

TEST_F(AdjustImageTest, TheNextPictureShowsAValueOnlyOnceItsSwitchIsOn) {
    viewer_test::UiRecorder recorder;
    viewer.resize(160, 120);
    viewer.SetOsdSwitches(0, 1, 1, 1, 1);
    viewer.SetFrameSize(64, 48);
    const auto grey = viewer_test::SolidPicture(64, 48, 0x808080);
    auto centre = [&] {
        EXPECT_EQ(viewer.ShowFrame(static_cast<int>(grey.size()), grey.data()), 1);
        return viewer_test::Pixel(viewer.grab().toImage(), 80, 60);
    };
    const QRgb plain = centre();
    dialog.OnInitDialog();
    dialog.BrightnessSlider()->setValue(40);
    EXPECT_EQ(centre(), plain);
    dialog.BrightnessBox()->click();
    const QRgb brighter = centre();
    EXPECT_GT(qRed(brighter), qRed(plain));
    EXPECT_GT(qBlue(brighter), qBlue(plain));
}

TEST_F(AdjustImageTest, DefaultThenOkLeavesNoEnhancement) {
    viewer.SetEnhancement({1, 1, 1, 30, 60});
    QTimer::singleShot(0, &dialog, [this] {
        Control<QPushButton>(&dialog, CAdjustImage::kDefaultId)->click();
        Control<QPushButton>(&dialog, CAdjustImage::kOkId)->click();
    });
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(viewer.GetEnhancement(), ViewerEnhancement{});
    EXPECT_FALSE(dialog.BrightnessBox()->isChecked());
    EXPECT_FALSE(dialog.ContrastBox()->isChecked());
    EXPECT_FALSE(dialog.GreyBox()->isChecked());
    EXPECT_EQ(dialog.BrightnessSlider()->value(), 0);
    EXPECT_EQ(dialog.ContrastSlider()->value(), 0);
}

TEST_F(AdjustImageTest, ClosingWithoutOkKeepsTheChanges) {
    QTimer::singleShot(0, &dialog, [this] {
        dialog.GreyBox()->click();
        dialog.ContrastSlider()->setValue(-70);
        dialog.reject();
    });
    EXPECT_EQ(dialog.DoModal(), 2);
    EXPECT_EQ(viewer.GetEnhancement(), (ViewerEnhancement{0, 0, 1, 0, -70}));

    // A second run starts from what the viewer now holds.
    QTimer::singleShot(0, &dialog, [this] { dialog.reject(); });
    dialog.DoModal();
    EXPECT_TRUE(dialog.GreyBox()->isChecked());
    EXPECT_EQ(dialog.ContrastSlider()->value(), -70);
}

TEST_F(AdjustImageTest, WithoutAViewerTheControlsChangeNothing) {
    CAdjustImage lone;
    lone.OnInitDialog();
    lone.BrightnessBox()->click();
    lone.BrightnessSlider()->setValue(20);
    lone.OnDefault();
    EXPECT_EQ(lone.BrightnessSlider()->value(), 0);
    EXPECT_EQ(viewer.GetEnhancement(), ViewerEnhancement{});
}

}  // namespace
