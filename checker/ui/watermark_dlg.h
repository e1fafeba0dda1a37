#pragma once
// The checker's main dialog: a list of JPEG snapshots and AVI exports, their
// verification behind the busy window, and a preview of the clicked file.
#include <QDialog>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "checker/avi_preview.h"
#include "checker/checker_files.h"

class CCheckerViewerGrid;
class CImgBox;
class CMyButton;
class CSystemMenu;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

// The multi-file open dialog; an empty list means cancelled. Tests install one that answers at once.
using CheckerFileChooser = std::function<std::vector<std::string>(QWidget* owner)>;
// Returns the previous chooser; an empty function restores the real dialog.
CheckerFileChooser SetCheckerFileChooser(CheckerFileChooser chooser);
// What the verification runs on each file; returns the previous one, and an
// empty function restores VerifyFile.
FileVerifier SetCheckerFileVerifier(FileVerifier verifier);

class CWatermarkDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kIdVerify = 1000;
    static constexpr int kIdList = 1002;
    static constexpr int kIdAddFile = 1004;
    static constexpr int kIdRemove = 1008;
    static constexpr int kIdAddFolder = 1014;
    static constexpr int kIdSelectAll = 1015;
    static constexpr int kIdChecked = 1021;
    static constexpr int kIdPassed = 1022;
    static constexpr int kVerifyTickLimit = 6000;
    static constexpr int kTipDelayMs = 150;
    static constexpr uint32_t kTipBackground = 0xFF00FF;  // COLORREF
    static constexpr int kColumnName = 0;
    static constexpr int kColumnResult = 1;
    static constexpr int kColumnFolder = 2;
    static constexpr const char* kCompletedText = "The verification process is completed.";
    static constexpr const char* kCutText = "The verification was stopped before every file was checked.";

    explicit CWatermarkDlg(QWidget* parent = nullptr);
    ~CWatermarkDlg() override;

    void OnAddFile();
    void OnAddFolder();
    void OnRemove();
    void OnSelectAll();
    void OnVerify();
    // The busy window's limit for the next verifications, in its ticks.
    void SetVerifyTickLimit(int ticks) { verify_tick_limit_ = ticks; }
    // A click on row (-1: empty space).
    void OnListClick(int row);

    // A command of the window's own menu; the About item's opens the About box.
    void OnSysCommand(int command);
    CSystemMenu* system_menu() const { return system_menu_; }

    void StartAviPreview(const std::string& path);
    void StopAviPreview();

    QTreeWidget* list() const { return list_; }
    CImgBox* img_box() const { return img_box_; }
    CCheckerViewerGrid* viewer_grid() const { return grid_; }
    AviPreview& preview() { return preview_; }
    CMyButton* verify_button() const { return verify_; }
    CMyButton* select_all_button() const { return select_all_; }
    QString CheckedText() const;
    QString PassedText() const;
    int current_item() const { return current_item_; }

private:
    void OnInitDialog();
    // Adds a row at the top unless a row of that name exists; false when skipped.
    bool AddPath(const std::string& path);
    void Recount();
    void ClearSelection();
    // A mouse selection has ended (the list released the mouse).
    void OnSelectionReleased();
    bool eventFilter(QObject* watched, QEvent* event) override;

    QTreeWidget* list_ = nullptr;
    CMyButton* add_file_ = nullptr;
    CMyButton* remove_ = nullptr;
    CMyButton* add_folder_ = nullptr;
    CMyButton* select_all_ = nullptr;
    CMyButton* verify_ = nullptr;
    QLabel* checked_ = nullptr;
    QLabel* passed_ = nullptr;
    CImgBox* img_box_ = nullptr;
    CCheckerViewerGrid* grid_ = nullptr;
    CSystemMenu* system_menu_ = nullptr;

    int current_item_ = -1;
    int verify_tick_limit_ = kVerifyTickLimit;
    std::atomic<int> run_{0};
    std::atomic<int> busy_{0};
    std::thread verify_thread_;
    std::vector<VerifyResult> verify_results_;

    AviPreview preview_;
};
