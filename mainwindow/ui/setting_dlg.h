#pragma once
// The Setting dialog: on-screen text, language and storage folder on three
// tab pages. Nothing changes before OK; OK writes the on-screen page into all
// four of the caller's style records, sets the language and stores the folder.
#include <QDialog>

#include <array>
#include <string>

#include "mainwindow/ui/language_page.h"
#include "mainwindow/ui/osd_page.h"
#include "mainwindow/ui/storage_page.h"

class OsdStyleRecord;
class QFrame;
class QPushButton;
class QTabBar;

class CSettingDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResourceId = 134;
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;
    static constexpr int kTabId = 1009;
    static constexpr int kPageCount = 3;
    // Room the tab strip takes above the pages.
    static constexpr int kTabStripHeight = 23;

    explicit CSettingDlg(QWidget* parent = nullptr);
    ~CSettingDlg() override;

    // The caller's records, one per channel, set before DoModal; the page
    // shows the first. A null entry is skipped.
    std::array<OsdStyleRecord*, 4> osd_styles{};
    // Whose "lang/setting.ini" holds the storage folder; empty: the program's own folder.
    std::string program_folder;

    // 1 (IDOK) after OK, 2 after Cancel, Escape or the close box.
    int DoModal();
    void OnInitDialog();
    void OnOK();
    void OnTabSelChange();

    int CurrentPage() const { return current_page_; }
    QWidget* Page(int index) const { return pages_[static_cast<size_t>(index)]; }
    QTabBar* Tabs() const { return tabs_; }
    COsdPage& osd_page() { return osd_page_; }
    CLanguagePage& language_page() { return language_page_; }
    CStoragePage& storage_page() { return storage_page_; }

private:
    QFrame* tab_control_;
    QTabBar* tabs_;
    // Children of the tab control; as members they are destroyed before it.
    COsdPage osd_page_;
    CLanguagePage language_page_;
    CStoragePage storage_page_;
    std::array<QWidget*, kPageCount> pages_{};
    int current_page_ = 0;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
