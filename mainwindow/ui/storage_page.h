#pragma once
// The storage page of the settings dialog: the folder for snapshots and
// exports, typed or picked with the folder chooser. Stored by the dialog's OK.
#include <QFont>
#include <QWidget>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class CStoragePage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kResourceId = 58114;
    static constexpr int kLocationId = 1010;
    static constexpr int kBrowseId = 1057;
    static constexpr int kLabelId = 1079;

    explicit CStoragePage(QWidget* parent = nullptr);
    ~CStoragePage() override;

    // Whose "lang/setting.ini" is read; empty: the program's own folder.
    std::string program_folder;

    void OnInitDialog();
    void OnBrowse();
    // The stored folder, at most 255 characters; "" without the settings file.
    std::string ReadStorageLocation() const;

    QLineEdit* LocationEdit() const { return edit_; }
    QPushButton* BrowseButton() const { return browse_; }

private:
    QFont font_;
    QLabel* label_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QPushButton* browse_ = nullptr;
};
