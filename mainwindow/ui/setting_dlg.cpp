#include "mainwindow/ui/setting_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>

#include "mainwindow/storage_location.h"
#include "media/osd_style_record.h"
#include "media/translate_text.h"
#include "media/ui/text_fit.h"

namespace {

constexpr int kDialogWidth = 500;
constexpr int kDialogHeight = 420;
const QRect kTabControlRect(8, 8, 484, 362);

QString Text(const std::string& key, const std::string& def) {
    return QString::fromStdString(TranslateText(key, def));
}

int Switch(const QCheckBox* box) { return box->isChecked() ? 1 : 0; }

}  // namespace

CSettingDlg::CSettingDlg(QWidget* parent)
    : QDialog(parent),
      tab_control_(new QFrame(this)),
      tabs_(new QTabBar(tab_control_)),
      osd_page_(tab_control_),
      language_page_(tab_control_),
      storage_page_(tab_control_) {
    setFixedSize(kDialogWidth, kDialogHeight);
    tab_control_->setFrameShape(QFrame::StyledPanel);
    tab_control_->setProperty("controlId", kTabId);
    tab_control_->setGeometry(kTabControlRect);
    tabs_->setProperty("controlId", kTabId);
    tabs_->setGeometry(0, 0, kTabControlRect.width(), kTabStripHeight);
    tabs_->setExpanding(false);
    pages_ = {&osd_page_, &language_page_, &storage_page_};

    cancel_ = new QPushButton(this);
    cancel_->setProperty("controlId", kCancelId);
    cancel_->setGeometry(kDialogWidth - 8 - 80, kDialogHeight - 8 - 26, 80, 26);
    cancel_->setAutoDefault(false);
    ok_ = new QPushButton(this);
    ok_->setProperty("controlId", kOkId);
    ok_->setGeometry(kDialogWidth - 8 - 80 - 10 - 80, kDialogHeight - 8 - 26, 80, 26);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &CSettingDlg::OnOK);
    connect(cancel_, &QPushButton::clicked, this, [this] { done(kCancelId); });
    connect(tabs_, &QTabBar::currentChanged, this, [this] { OnTabSelChange(); });
}

CSettingDlg::~CSettingDlg() = default;

int CSettingDlg::DoModal() {
    OnInitDialog();
    const int result = exec();
    return result == QDialog::Rejected ? kCancelId : result;
}

void CSettingDlg::OnInitDialog() {
    setWindowTitle(Text("TITLE_SETTING", "Setting"));
    ok_->setText(Text("BTN_OK", "OK"));
    cancel_->setText(Text("BTN_CANCEL", "Cancel"));

    {
        const QSignalBlocker block(tabs_);
        while (tabs_->count() > 0) tabs_->removeTab(0);
        tabs_->addTab("OSD");
        tabs_->addTab(Text("TXT_LANGUAGE", "Language"));
        tabs_->addTab(Text("TXT_STORAGE", "Storage"));
        tabs_->setCurrentIndex(0);
    }

    osd_page_.record = osd_styles[0];
    osd_page_.OnInitDialog();
    language_page_.OnInitDialog();
    storage_page_.program_folder = program_folder;
    storage_page_.OnInitDialog();

    // The pages share one rectangle: the widest page's texts set its width.
    int grow = 0;
    for (QWidget* page : pages_) {
        page->resize(kTabControlRect.width() - 6, page->height());
        ui::FitTexts(page);
        grow = std::max(grow, page->width() - (kTabControlRect.width() - 6));
    }
    setFixedWidth(kDialogWidth + grow);
    tab_control_->resize(kTabControlRect.width() + grow, kTabControlRect.height());
    tabs_->resize(tab_control_->width(), kTabStripHeight);
    cancel_->move(width() - 8 - 80, cancel_->y());
    ok_->move(width() - 8 - 80 - 10 - 80, ok_->y());

    const QRect client = tab_control_->rect();
    const int left = client.left();
    const int top = client.top();
    const int right = client.left() + client.width();
    const int bottom = client.top() + client.height();
    const QRect page_rect(left + 2, top + kTabStripHeight, (right - 4) - (left + 2),
                          (bottom - 2) - (top + kTabStripHeight));
    for (QWidget* page : pages_) {
        page->setGeometry(page_rect);
        page->hide();
    }
    current_page_ = 0;
    pages_[0]->show();
    ui::FitTexts(this);
}

void CSettingDlg::OnTabSelChange() {
    for (QWidget* page : pages_) page->hide();
    const int selected = tabs_->currentIndex();
    if (selected < 0 || selected >= kPageCount) return;
    current_page_ = selected;
    pages_[static_cast<size_t>(current_page_)]->show();
}

void CSettingDlg::OnOK() {
    // A list without a selection keeps what the records (or the language) hold,
    // rather than writing the -1 of "no selection" as a value.
    const int language = language_page_.LanguageList()->currentIndex();
    if (language >= 0) LanguageIndex = language;

    const int face = osd_page_.FontList()->currentIndex();
    const int size = osd_page_.SizeList()->currentIndex();
    const int colour = osd_page_.ColourList()->currentIndex();
    for (OsdStyleRecord* style : osd_styles) {
        if (!style) continue;
        style->show_text = Switch(osd_page_.TextOnBox());
        if (face >= 0 && face < static_cast<int>(COsdPage::kFaces.size()))
            style->SetFontName(COsdPage::kFaces[static_cast<size_t>(face)]);
        if (size >= 0) style->font_height = COsdPage::kSmallestSize + COsdPage::kSizeStep * size;
        if (colour >= 0 && colour < static_cast<int>(COsdPage::kColours.size()))
            style->colour = static_cast<int32_t>(COsdPage::kColours[static_cast<size_t>(colour)]);
        style->show_camera_name = Switch(osd_page_.CameraNameBox());
        style->show_camera_number = Switch(osd_page_.CameraNumberBox());
        style->show_date = Switch(osd_page_.DateBox());
        style->show_time = Switch(osd_page_.TimeBox());
    }

    const std::string location = storage_page_.LocationEdit()->text().toStdString();
    if (program_folder.empty()) {
        WriteStorageLocation(location);
    } else {
        WriteStorageLocationIn(program_folder, location);
    }
    done(kOkId);
}
