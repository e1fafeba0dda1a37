#include "mainwindow/ui/image_adjust_dlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include "media/translate_text.h"
#include "media/ui/my_viewer.h"
#include "media/ui/text_fit.h"

namespace {

QString Text(const std::string& key, const std::string& def) {
    return QString::fromStdString(TranslateText(key, def));
}

QSlider* MakeSlider(QWidget* parent, int id, QRect where) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setProperty("controlId", id);
    slider->setGeometry(where);
    slider->setRange(CAdjustImage::kSliderMin, CAdjustImage::kSliderMax);
    slider->setPageStep(CAdjustImage::kSliderPage);
    slider->setSingleStep(1);
    slider->setTickInterval(CAdjustImage::kSliderTicks);
    slider->setTickPosition(QSlider::TicksBelow);
    // Every step of a drag reaches the viewer, not only the release.
    slider->setTracking(true);
    return slider;
}

QCheckBox* MakeBox(QWidget* parent, int id, QRect where) {
    auto* box = new QCheckBox(parent);
    box->setProperty("controlId", id);
    box->setGeometry(where);
    return box;
}

}  // namespace

CAdjustImage::CAdjustImage(QWidget* parent) : QDialog(parent) {
    setFixedSize(330, 200);
    group_ = new QGroupBox(this);
    group_->setProperty("controlId", kGroupId);
    group_->setGeometry(10, 8, 310, 145);
    brightness_box_ = MakeBox(group_, kBrightnessId, QRect(12, 24, 100, 24));
    brightness_slider_ = MakeSlider(group_, kBrightnessValueId, QRect(115, 20, 185, 32));
    contrast_box_ = MakeBox(group_, kContrastId, QRect(12, 64, 100, 24));
    contrast_slider_ = MakeSlider(group_, kContrastValueId, QRect(115, 60, 185, 32));
    grey_box_ = MakeBox(group_, kGreyId, QRect(12, 104, 180, 24));

    default_ = new QPushButton(this);
    default_->setProperty("controlId", kDefaultId);
    default_->setGeometry(150, 162, 80, 26);
    default_->setAutoDefault(false);
    ok_ = new QPushButton(this);
    ok_->setProperty("controlId", kOkId);
    ok_->setGeometry(240, 162, 80, 26);
    ok_->setDefault(true);

    for (QCheckBox* box : {brightness_box_, contrast_box_, grey_box_})
        connect(box, &QCheckBox::clicked, this, [this] { OnSwitchClicked(); });
    for (QSlider* slider : {brightness_slider_, contrast_slider_})
        connect(slider, &QSlider::valueChanged, this, [this, slider](int position) { OnSliderMoved(slider, position); });
    connect(default_, &QPushButton::clicked, this, &CAdjustImage::OnDefault);
    connect(ok_, &QPushButton::clicked, this, [this] { done(1); });
}

int CAdjustImage::DoModal() {
    OnInitDialog();
    const int result = exec();
    return result == QDialog::Rejected ? 2 : result;
}

void CAdjustImage::OnInitDialog() {
    setWindowTitle(Text("TITLE_ADJUST_TOOL", "Image Enhancement Tool"));
    ok_->setText(Text("BTN_OK", "OK"));
    default_->setText(Text("BTN_DEFAULT", "Default"));
    group_->setTitle(Text("TXT_IMAGE", "Image"));
    brightness_box_->setText(Text("CHK_BRIGHTNESS", "Brightness"));
    contrast_box_->setText(Text("CHK_CONTRAST", "Contrast"));
    grey_box_->setText(Text("CHK_GRAY", "Gray Scale"));

    const ViewerEnhancement e = viewer ? viewer->GetEnhancement() : ViewerEnhancement{};
    brightness_box_->setChecked(e.brightness_on != 0);
    contrast_box_->setChecked(e.contrast_on != 0);
    grey_box_->setChecked(e.grey_on != 0);
    // Showing the viewer's values must not write them back (a value outside
    // the slider's range would come back clamped).
    const QSignalBlocker block_brightness(brightness_slider_);
    const QSignalBlocker block_contrast(contrast_slider_);
    brightness_slider_->setValue(e.brightness_value);
    contrast_slider_->setValue(e.contrast_value);
    ui::FitTexts(this);
}

void CAdjustImage::OnSwitchClicked() {
    if (!viewer) return;
    ViewerEnhancement e = viewer->GetEnhancement();
    e.brightness_on = brightness_box_->isChecked() ? 1 : 0;
    e.contrast_on = contrast_box_->isChecked() ? 1 : 0;
    e.grey_on = grey_box_->isChecked() ? 1 : 0;
    viewer->SetEnhancement(e);
}

void CAdjustImage::OnSliderMoved(QSlider* slider, int position) {
    if (!viewer) return;
    ViewerEnhancement e = viewer->GetEnhancement();
    if (slider == brightness_slider_) {
        e.brightness_value = position;
    } else {
        e.contrast_value = position;
    }
    viewer->SetEnhancement(e);
}

void CAdjustImage::OnDefault() {
    if (viewer) viewer->SetEnhancement(ViewerEnhancement{});
    brightness_box_->setChecked(false);
    contrast_box_->setChecked(false);
    grey_box_->setChecked(false);
    const QSignalBlocker block_brightness(brightness_slider_);
    const QSignalBlocker block_contrast(contrast_slider_);
    brightness_slider_->setValue(0);
    contrast_slider_->setValue(0);
}
