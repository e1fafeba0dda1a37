#include "sources/ui/store_list_page.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "media/translate_text.h"
#include "sources/ui/control_ids.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

StoreListPage::StoreListPage(const ControlIds& ids, const char* default_store, QWidget* parent)
    : QWidget(parent), store_file(default_store), ids_(ids) {
    resize(kWidth, kHeight);
}

QLineEdit* StoreListPage::AddField(int label_id, int edit_id, const char* label, int y) {
    SetControlId(new QLabel(label, this), label_id)->setGeometry(270, y, 90, 22);
    auto* edit = SetControlId(new QLineEdit(this), edit_id);
    edit->setGeometry(365, y, 150, 22);
    fields_.push_back(edit);
    return edit;
}

void StoreListPage::AddControls(int y, int test_gap) {
    save_password_box_ = SetControlId(new QCheckBox("Save Password", this), ids_.save_password);
    save_password_box_->setGeometry(365, y, 150, 22);
    test_button_ = SetControlId(new QPushButton("Test Connection", this), ids_.test);
    test_button_->setGeometry(365, y + test_gap, 150, 26);
    add_button_ = SetControlId(new QPushButton("Add", this), ids_.add);
    add_button_->setGeometry(270, 320, 75, 26);
    delete_button_ = SetControlId(new QPushButton("Delete", this), ids_.remove);
    delete_button_->setGeometry(355, 320, 75, 26);
    edit_button_ = SetControlId(new QPushButton("Edit", this), ids_.edit);
    edit_button_->setGeometry(440, 320, 75, 26);
    list_ = SetControlId(new QListWidget(this), ids_.list);
    list_->setGeometry(10, 15, 245, 330);

    connect(test_button_, &QPushButton::clicked, this, [this] { OnTestConnection(); });
    connect(add_button_, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(delete_button_, &QPushButton::clicked, this, [this] { OnDelete(); });
    connect(edit_button_, &QPushButton::clicked, this, [this] { OnEdit(); });
    connect(list_, &QListWidget::currentRowChanged, this, [this] { OnListSelChange(); });
}

void StoreListPage::TranslateTexts(std::initializer_list<LabelText> labels) {
    for (const LabelText& label : labels) FindControl<QLabel>(this, label.id)->setText(Q(TranslateText(label.key, label.text)));
    add_button_->setText(Q(TranslateText("BTN_ADD", "Add")));
    edit_button_->setText(Q(TranslateText("BTN_EDIT", "Edit")));
    delete_button_->setText(Q(TranslateText("BTN_DELETE", "Delete")));
    test_button_->setText(Q(TranslateText("BTN_TEST_CONNECT", "Test Connection")));
    save_password_box_->setText(Q(TranslateText("CHECK_SAVE_PWD", "Save Password")));
}

void StoreListPage::SetEntryLoaded(int loaded) {
    entry_loaded_ = loaded;
    add_button_->setEnabled(loaded == 0);
    delete_button_->setEnabled(loaded != 0);
    edit_button_->setEnabled(loaded != 0);
}

void StoreListPage::EnableControls(int enable) {
    if (enable) {
        SetEntryLoaded(entry_loaded_);
    } else {
        add_button_->setEnabled(false);
        delete_button_->setEnabled(false);
        edit_button_->setEnabled(false);
    }
    for (QWidget* w : std::vector<QWidget*>{test_button_, save_password_box_, list_}) w->setEnabled(enable != 0);
    for (QLineEdit* field : fields_) field->setEnabled(enable != 0);
}
