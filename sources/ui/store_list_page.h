#pragma once
// What the Remote Manager's recorder and share pages have in common: a list of
// the entries of their store, labelled entry fields, the Save Password box,
// Test Connection, and the Add / Delete / Edit row with its two states (a new
// entry, or one loaded from the list). Each page keeps its own field set,
// list lines and store.
#include <QListWidget>
#include <QSignalBlocker>
#include <QWidget>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "mainwindow/ui/window_message.h"
#include "platform/message_box.h"
#include "sources/sqlite_table.h"
#include "sources/ui/busy_worker.h"
#include "sources/ui/store_failure.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

class StoreListPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 530;
    static constexpr int kHeight = 372;

    // Before OnInitDialog.
    std::string store_file;
    // Receives WM_ENABLE_BUTTONS.
    WindowMessageSink notify;
    BusyWorker worker;

    int EntryLoaded() const { return entry_loaded_; }

protected:
    struct ControlIds {
        int save_password, test, add, remove, edit, list;
    };
    // A label's control id, its text's key and its English text.
    struct LabelText {
        int id;
        const char* key;
        const char* text;
    };

    StoreListPage(const ControlIds& ids, const char* default_store, QWidget* parent);

    // A label at the left of y and its edit beside it; the edit is one of the page's fields.
    QLineEdit* AddField(int label_id, int edit_id, const char* label, int y);
    // Save Password at y, Test Connection test_gap below it, then the button row and the list.
    void AddControls(int y, int test_gap);
    // The labels' texts and those of the buttons and the check box, in the user's language.
    void TranslateTexts(std::initializer_list<LabelText> labels);

    bool StoreExists() const {
        std::error_code error;
        return std::filesystem::exists(store_file, error);
    }
    // Lists every row of the store through add_line(table) with the table's current row set;
    // a missing store is told with missing_caption, a store that cannot be read as such.
    template <typename Store, typename AddLine>
    void FillList(const char* missing_caption, AddLine add_line) {
        const bool exists = StoreExists();
        if (!exists) platform::ShowMessageBox("The database does not exist.", missing_caption);
        Store store(store_file);
        SQLite::Table table = store.SelectAll();
        if (exists && store.LastError() != 0) ShowStoreReadFailure();
        const QSignalBlocker quiet(list_);
        for (int row = 0; row < table.RowCount(); ++row) {
            table.SetCurrentRow(row);
            add_line(table);
        }
    }
    // Whether Add may store ip: false, with the user told, when the store is missing (checked
    // before any open, since opening creates the file) or already holds the address.
    template <typename Store>
    bool MayAdd(const std::string& ip) {
        if (!StoreExists()) {
            platform::ShowMessageBox("The database does not exist.", "Error");
            return false;
        }
        Store store(store_file);
        if (store.SelectByIp(ip).GetIp() == ip) {
            platform::ShowMessageBox("The IP address exists", "Warning");
            return false;
        }
        return true;
    }

    // Add for a new entry (0), Delete and Edit for a loaded one (1).
    void SetEntryLoaded(int loaded);
    // Every control of the page off (0) or back on (1), the button row as the entry-loaded state says.
    void EnableControls(int enable);

    QCheckBox* save_password_box_ = nullptr;
    QPushButton* test_button_ = nullptr;
    QPushButton* add_button_ = nullptr;
    QPushButton* delete_button_ = nullptr;
    QPushButton* edit_button_ = nullptr;
    QListWidget* list_ = nullptr;
    int entry_loaded_ = 0;

private:
    // Behind the page's own handlers: Add, Delete, Edit, Test Connection and a new selection.
    virtual void OnAdd() = 0;
    virtual void OnDelete() = 0;
    virtual void OnEdit() = 0;
    virtual void OnTestConnection() = 0;
    virtual void OnListSelChange() = 0;

    ControlIds ids_;
    std::vector<QLineEdit*> fields_;
};
