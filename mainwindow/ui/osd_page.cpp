#include "mainwindow/ui/osd_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>

#include <cstdio>

#include "media/osd_style_record.h"
#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"

namespace {

QRect Corners(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

QString Text(const std::string& key, const std::string& def) {
    return QString::fromStdString(TranslateText(key, def));
}

template <typename T>
T* Place(T* widget, int id, QRect where, const QFont& font) {
    widget->setProperty("controlId", id);
    widget->setGeometry(where);
    widget->setFont(font);
    widget->show();
    return widget;
}

}  // namespace

COsdPage::COsdPage(QWidget* parent) : QWidget(parent) {}

COsdPage::~COsdPage() = default;

int COsdPage::FaceIndex(const std::string& face) {
    const QString wanted = QString::fromStdString(face);
    for (size_t i = 0; i < kFaces.size(); ++i)
        if (QString(kFaces[i]).startsWith(wanted, Qt::CaseInsensitive)) return static_cast<int>(i);
    return -1;
}

int COsdPage::SizeIndex(int height) {
    const int index = (height - kSmallestSize) / kSizeStep;
    return index >= 0 && index < kSizeCount ? index : -1;
}

int COsdPage::ColourIndex(uint32_t colour) {
    for (size_t i = 0; i < kColours.size(); ++i)
        if (kColours[i] == colour) return static_cast<int>(i);
    return 0;
}

void COsdPage::CreateControls() {
    font_ = GdiFont("Arial", 16, 400);
    // Group boxes first, so the controls drawn over them stay on top.
    Place(new QGroupBox(Text("FOREGROUND_TXT", "Foreground"), this), kForegroundGroupId, Corners(10, 40, 460, 170),
          font_);
    Place(new QGroupBox(Text("TXT_INFORMATION", "Information"), this), kInformationGroupId,
          Corners(10, 180, 380, 315), font_);
    text_on_ = Place(new QCheckBox(Text("CHK_OSD", "Enable Camera OSD"), this), kTextOnId, Corners(20, 15, 180, 35),
                     font_);

    Place(new QLabel(Text("TXT_FONT", "Font") + ":", this), kFontLabelId, Corners(40, 70, 120, 90), font_);
    font_list_ = Place(new QComboBox(this), kFontListId, Corners(120, 65, 260, 90), font_);
    for (const char* face : kFaces) font_list_->addItem(face);

    Place(new QLabel(Text("TXT_SIZE", "Size") + ":", this), kSizeLabelId, Corners(40, 105, 120, 125), font_);
    size_list_ = Place(new QComboBox(this), kSizeListId, Corners(120, 100, 185, 125), font_);
    for (int i = 0; i < kSizeCount; ++i) size_list_->addItem(QString::number(kSmallestSize + kSizeStep * i));

    Place(new QLabel(Text("TXT_COLOR", "Color") + ":", this), kColourLabelId, Corners(40, 135, 120, 160), font_);
    colour_list_ = Place(new QComboBox(this), kColourListId, Corners(120, 135, 185, 155), font_);
    for (const char* name : kColourNames) colour_list_->addItem(Text(name, name));

    camera_name_ = Place(new QCheckBox(Text("CHK_DEVICENAME", "Camera Name"), this), kCameraNameId,
                         Corners(40, 205, 220, 225), font_);
    camera_number_ = Place(new QCheckBox(Text("CHK_DEVICENUM", "Camera Number"), this), kCameraNumberId,
                           Corners(40, 235, 230, 255), font_);
    date_ = Place(new QCheckBox(Text("CHK_DATE", "Date"), this), kDateId, Corners(40, 265, 220, 285), font_);
    time_ = Place(new QCheckBox(Text("CHK_TIME", "Time"), this), kTimeId, Corners(40, 295, 220, 315), font_);
}

void COsdPage::OnInitDialog() {
    if (!text_on_) CreateControls();
    static const OsdStyleRecord kFresh;
    const OsdStyleRecord& shown = record ? *record : kFresh;
    text_on_->setChecked(shown.show_text != 0);
    font_list_->setCurrentIndex(FaceIndex(shown.font_face));
    size_list_->setCurrentIndex(SizeIndex(shown.font_height));
    colour_list_->setCurrentIndex(ColourIndex(static_cast<uint32_t>(shown.colour)));
    camera_name_->setChecked(shown.show_camera_name != 0);
    camera_number_->setChecked(shown.show_camera_number != 0);
    date_->setChecked(shown.show_date != 0);
    time_->setChecked(shown.show_time != 0);
}
