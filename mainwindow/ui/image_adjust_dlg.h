#pragma once
// The Adjust Image tool: edits the five enhancement settings of one viewer.
// Every change goes to the viewer at once, so there is nothing to confirm
// or undo; closing the window any way keeps what was set.
#include <QDialog>

class CMyViewer;
class QCheckBox;
class QGroupBox;
class QPushButton;
class QSlider;

class CAdjustImage : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResourceId = 157;
    static constexpr int kOkId = 1;
    static constexpr int kDefaultId = 1091;
    static constexpr int kBrightnessId = 1092;
    static constexpr int kContrastId = 1093;
    static constexpr int kGreyId = 1094;
    static constexpr int kBrightnessValueId = 1095;
    static constexpr int kContrastValueId = 1096;
    static constexpr int kGroupId = 1099;
    static constexpr int kSliderMin = -100;
    static constexpr int kSliderMax = 100;
    static constexpr int kSliderPage = 10;
    static constexpr int kSliderTicks = 10;

    explicit CAdjustImage(QWidget* parent = nullptr);

    // Set by the caller before DoModal; without one the controls change nothing.
    CMyViewer* viewer = nullptr;

    // 1 after OK, 2 after Escape or the close box.
    int DoModal();
    void OnInitDialog();
    void OnDefault();

    QCheckBox* BrightnessBox() const { return brightness_box_; }
    QCheckBox* ContrastBox() const { return contrast_box_; }
    QCheckBox* GreyBox() const { return grey_box_; }
    QSlider* BrightnessSlider() const { return brightness_slider_; }
    QSlider* ContrastSlider() const { return contrast_slider_; }

private:
    void OnSwitchClicked();
    void OnSliderMoved(QSlider* slider, int position);

    QGroupBox* group_ = nullptr;
    QCheckBox* brightness_box_ = nullptr;
    QCheckBox* contrast_box_ = nullptr;
    QCheckBox* grey_box_ = nullptr;
    QSlider* brightness_slider_ = nullptr;
    QSlider* contrast_slider_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* default_ = nullptr;
};
