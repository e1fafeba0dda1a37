#pragma once
// "Remote Manager": a tab control with the recorder list and the share page;
// OK hands the recorder or the share in the shown page's fields to the caller's record.
#include <QDialog>

#include <vector>

#include "media/server_connection_record.h"
#include "sources/ui/nas_dialog.h"
#include "sources/ui/server_dlg.h"

class QPushButton;
class QTabWidget;

class CRemoteDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTabControlId = 1009;
    static constexpr int kWidth = 550;
    static constexpr int kHeight = 444;

    explicit CRemoteDlg(QWidget* parent = nullptr);
    ~CRemoteDlg() override;

    // Set by the caller before the dialog runs; OK fills it.
    ServerConnectionRecord* result_record = nullptr;
    // 1 recorder, 2 share; the caller copies it into its source mode.
    int result_mode = 1;

    // Runs OnInitDialog first.
    int exec() override;
    void OnInitDialog();
    void OnOK();
    void OnTabSelChange();
    void OnWndMsg(uint32_t message, intptr_t wparam, intptr_t lparam);

    CServerDlg& server_page() { return server_page_; }
    CNasDialog& nas_page() { return nas_page_; }
    QTabWidget* tab() const { return tab_; }
    int CurrentPage() const { return current_page_; }

protected:
    // OK and Cancel stay in the bottom right corner when the texts widen the dialog.
    void resizeEvent(QResizeEvent* event) override;

private:
    QTabWidget* tab_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    CServerDlg server_page_;
    CNasDialog nas_page_;
    std::vector<QWidget*> pages_;
    int current_page_ = 0;
    bool initialised_ = false;
    bool nas_initialised_ = false;
    ServerConnectionRecord working_;
};
