#pragma once
// The language page of the settings dialog: the item index is the language
// index. Choosing an item changes nothing until the dialog's OK.
#include <QFont>
#include <QWidget>

class QComboBox;
class QLabel;

class CLanguagePage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kResourceId = 145;
    static constexpr int kLanguageListId = 1056;
    static constexpr int kLabelId = 1080;

    explicit CLanguagePage(QWidget* parent = nullptr);
    ~CLanguagePage() override;

    // Selects the current LanguageIndex (none for a language not listed).
    void OnInitDialog();

    QComboBox* LanguageList() const { return list_; }

private:
    QFont font_;
    QLabel* label_ = nullptr;
    QComboBox* list_ = nullptr;
};
