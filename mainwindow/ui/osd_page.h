#pragma once
// The on-screen text page of the settings dialog: shows one style record;
// the dialog's OK reads the page's controls back into all four records.
#include <QFont>
#include <QWidget>

#include <array>
#include <cstdint>
#include <string>

class OsdStyleRecord;
class QCheckBox;
class QComboBox;

class COsdPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kResourceId = 144;
    static constexpr int kForegroundGroupId = 1058;
    static constexpr int kTextOnId = 1059;
    static constexpr int kFontLabelId = 1058;  // shares the group's id; nothing looks either up
    static constexpr int kFontListId = 1060;
    static constexpr int kSizeLabelId = 1061;
    static constexpr int kSizeListId = 1062;
    static constexpr int kColourLabelId = 1063;
    static constexpr int kColourListId = 1064;
    static constexpr int kInformationGroupId = 1065;
    static constexpr int kCameraNameId = 1067;
    static constexpr int kCameraNumberId = 1068;
    static constexpr int kDateId = 1069;
    static constexpr int kTimeId = 1070;

    static constexpr std::array<const char*, 4> kFaces = {"Arial", "Arial Bold", "Courier New", "Times New Roman"};
    static constexpr int kSmallestSize = 8;
    static constexpr int kSizeStep = 2;
    static constexpr int kSizeCount = 9;  // 8 to 24
    // COLORREF values of the colour list, in its order.
    static constexpr std::array<uint32_t, 5> kColours = {0xC0C0C0, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x00FFFF};
    static constexpr std::array<const char*, 5> kColourNames = {"Gray", "Green", "Red", "White", "Yellow"};

    explicit COsdPage(QWidget* parent = nullptr);
    ~COsdPage() override;

    // The record shown; set before OnInitDialog. Null shows a fresh record's values.
    const OsdStyleRecord* record = nullptr;

    // Creates the controls on the first call; every call fills them from the record.
    void OnInitDialog();

    QCheckBox* TextOnBox() const { return text_on_; }
    QComboBox* FontList() const { return font_list_; }
    QComboBox* SizeList() const { return size_list_; }
    QComboBox* ColourList() const { return colour_list_; }
    QCheckBox* CameraNameBox() const { return camera_name_; }
    QCheckBox* CameraNumberBox() const { return camera_number_; }
    QCheckBox* DateBox() const { return date_; }
    QCheckBox* TimeBox() const { return time_; }

    // The first face that begins with face, ignoring case; -1 when none does.
    static int FaceIndex(const std::string& face);
    // -1 for a height no list item stands for.
    static int SizeIndex(int height);
    // Any colour not in the list shows as the first, grey.
    static int ColourIndex(uint32_t colour);

private:
    void CreateControls();

    QFont font_;
    QCheckBox* text_on_ = nullptr;
    QComboBox* font_list_ = nullptr;
    QComboBox* size_list_ = nullptr;
    QComboBox* colour_list_ = nullptr;
    QCheckBox* camera_name_ = nullptr;
    QCheckBox* camera_number_ = nullptr;
    QCheckBox* date_ = nullptr;
    QCheckBox* time_ = nullptr;
};
