// Every window and page of both programs, in each language, under the
// default style: each text a control shows is there whole, every control lies
// inside its window, every skinned button shows a picture. The needs are
// measured here from the style's own text rectangles and the font, not taken
// from the windows' layout code.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QToolButton>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "mainwindow/ui/my_button.h"
#include "mainwindow/ui/static_ex.h"
#include "media/translate_text.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/temp_folder.h"
#include "tools/common/ui/window_catalogue.h"

namespace {

// What a button or label shows: "&&" is an ampersand, a single "&" marks a mnemonic.
QString Shown(QString text) {
    text.replace("&&", QChar(0x1));
    text.remove('&');
    text.replace(QChar(0x1), '&');
    return text;
}

std::string Name(const QWidget* w) {
    std::string name = w->metaObject()->className();
    const QVariant id = w->property("controlId");
    if (id.isValid()) name += " #" + std::to_string(id.toInt());
    return name;
}

class LayoutProbe {
public:
    explicit LayoutProbe(QWidget* window) : window_(window) {}

    std::vector<std::string> Faults() {
        for (QWidget* w : window_->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(window_) || Internal(w)) continue;
            if (IsControl(w)) CheckPlace(w);
            CheckText(w);
        }
        return faults_;
    }

private:
    // Parts of composite controls and the contents of scrolled views: they are
    // checked through their owner, or scroll by design.
    bool Internal(const QWidget* w) const {
        for (const QWidget* p = w->parentWidget(); p && p != window_; p = p->parentWidget()) {
            if (qobject_cast<const QComboBox*>(p) || qobject_cast<const QAbstractItemView*>(p)) return true;
            if (qobject_cast<const QAbstractSpinBox*>(p)) return !qobject_cast<const QLineEdit*>(w);
            if (auto* area = qobject_cast<const QAbstractScrollArea*>(p)) {
                if (w->parentWidget() == area->viewport() || area->viewport()->isAncestorOf(w)) return true;
            }
        }
        return false;
    }
    static bool IsControl(const QWidget* w) {
        return w->property("controlId").isValid() || qobject_cast<const QAbstractButton*>(w) ||
               qobject_cast<const QLabel*>(w) || qobject_cast<const QGroupBox*>(w) ||
               qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
               qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
               qobject_cast<const QTabBar*>(w);
    }
    void Fault(const QWidget* w, const std::string& what) { faults_.push_back(Name(w) + ": " + what); }

    void CheckPlace(QWidget* w) {
        const QRect in_window(w->mapTo(window_, QPoint(0, 0)), w->size());
        if (!window_->rect().contains(in_window)) {
            Fault(w, "lies outside its window");
            return;
        }
        // A parent clips what lies beyond it.
        for (QWidget* p = w->parentWidget(); p && p != window_; p = p->parentWidget()) {
            if (!QRect(QPoint(0, 0), p->size()).contains(QRect(w->mapTo(p, QPoint(0, 0)), w->size()))) {
                Fault(w, std::string("is cut by ") + Name(p));
                return;
            }
        }
    }

    void Need(const QWidget* w, const QString& text, QSize need, QRect room) {
        if (need.width() > room.width() || need.height() > room.height()) {
            Fault(w, "\"" + text.toStdString() + "\" needs " + std::to_string(need.width()) + "x" +
                         std::to_string(need.height()) + ", has " + std::to_string(room.width()) + "x" +
                         std::to_string(room.height()));
        }
    }

    void CheckText(QWidget* w) {
        const QFontMetrics fm = w->fontMetrics();
        QStyle* style = w->style();
        if (auto* skinned = qobject_cast<CMyButton*>(w)) {
            // Without its pictures the button draws a flat face: compare with one that has none.
            CMyButton blank;
            blank.resize(skinned->size());
            blank.setEnabled(skinned->isEnabled());
            const QImage shown = skinned->grab().toImage().convertToFormat(QImage::Format_RGB32);
            if (shown == blank.grab().toImage().convertToFormat(QImage::Format_RGB32)) Fault(w, "shows no picture");
            return;
        }
        if (auto* label = qobject_cast<QLabel*>(w)) {
            const QString text = label->text();
            if (text.isEmpty() || label->textFormat() == Qt::RichText) return;
            QRect room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                        -label->margin());
            int indent = label->indent();
            if (indent < 0) indent = label->frameWidth() > 0 ? fm.horizontalAdvance('x') / 2 : 0;
            if (label->alignment() & (Qt::AlignLeft | Qt::AlignRight)) room.setWidth(room.width() - indent);
            QSize need = fm.size(Qt::TextShowMnemonic, text);
            if (label->wordWrap()) need = fm.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, text).size();
            Need(w, text, need, room);
        } else if (qobject_cast<QPushButton*>(w) || qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            auto* button = static_cast<QAbstractButton*>(w);
            const QString text = Shown(button->text());
            if (text.isEmpty()) return;
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            option.icon = button->icon();
            option.iconSize = button->iconSize();
            const QStyle::SubElement part = qobject_cast<QCheckBox*>(w)      ? QStyle::SE_CheckBoxContents
                                            : qobject_cast<QRadioButton*>(w) ? QStyle::SE_RadioButtonContents
                                                                             : QStyle::SE_PushButtonContents;
            QRect room = style->subElementRect(part, &option, button);
            if (!button->icon().isNull() && part == QStyle::SE_PushButtonContents)
                room.setWidth(room.width() - button->iconSize().width() - 4);
            Need(w, text, fm.size(Qt::TextShowMnemonic, button->text()), room);
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            if (group->title().isEmpty()) return;
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            const QRect label = style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
            // Some styles draw the title bold; it may run past its label rectangle, not past the box.
            QFont bold = group->font();
            bold.setBold(true);
            const QString title = Shown(group->title());
            const int width = std::max(fm.horizontalAdvance(title), QFontMetrics(bold).horizontalAdvance(title));
            Need(w, group->title(), QSize(width, fm.height()),
                 QRect(label.left(), label.top(), group->width() - label.left(), label.height()));
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            const QString text = edit->displayText();
            if (text.isEmpty()) return;
            QStyleOptionFrame option;
            option.initFrom(edit);
            option.lineWidth = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
            const QMargins margins = edit->textMargins();
            QRect room = style->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                             .marginsRemoved(margins)
                             .adjusted(2, 0, -2, 0);  // the edit's own side margin
            Need(w, text, QSize(fm.horizontalAdvance(text) + 1, fm.height()), room);  // + the cursor
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            if (combo->isEditable() || combo->currentText().isEmpty()) return;
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.currentText = combo->currentText();
            option.frame = combo->hasFrame();
            const QRect room = style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            Need(w, combo->currentText(), QSize(fm.horizontalAdvance(combo->currentText()), fm.height()), room);
        } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            const int space = style->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, tabs);
            for (int i = 0; i < tabs->count(); ++i) {
                const QRect tab = tabs->tabRect(i);
                const QString text = Shown(tabs->tabText(i));
                Need(w, text, QSize(fm.horizontalAdvance(text) + space, fm.height()), tab.intersected(tabs->rect()));
            }
        } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
            CheckItems(view);
        } else if (auto* cell = qobject_cast<CStaticEx*>(w)) {
            if (!cell->Text().isEmpty())
                Need(w, cell->Text(), fm.size(0, cell->Text()), cell->rect());
        }
    }

    void CheckItems(QAbstractItemView* view) {
        const QAbstractItemModel* model = view->model();
        if (!model) return;
        const int margin = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
        auto* header = view->findChild<QHeaderView*>();
        for (int column = 0; column < model->columnCount(); ++column) {
            if (header && header->isVisible()) {
                const QString title = model->headerData(column, Qt::Horizontal).toString();
                if (!title.isEmpty() && header->sectionSize(column) < header->sectionSizeHint(column))
                    Fault(view, "column title \"" + title.toStdString() + "\" needs " +
                                    std::to_string(header->sectionSizeHint(column)) + ", has " +
                                    std::to_string(header->sectionSize(column)));
            }
            for (int row = 0; row < model->rowCount() && row < 50; ++row) {
                const QModelIndex index = model->index(row, column);
                const QString text = index.data(Qt::DisplayRole).toString();
                if (text.isEmpty()) continue;
                QRect room = view->visualRect(index);
                // A list's rows scroll down, not across: the visible width is all there is.
                if (qobject_cast<QListView*>(view)) room = room.intersected(QRect(0, room.top(), view->viewport()->width(), room.height()));
                const QFontMetrics fm(view->font());
                Need(view, text, QSize(fm.horizontalAdvance(text) + margin, fm.height()), room);
            }
        }
    }

    QWidget* window_;
    std::vector<std::string> faults_;
};

struct Language {
    int index;
    const char* name;
    QFontDatabase::WritingSystem script;
};
const Language kLanguages[] = {{0, "en-US", QFontDatabase::Latin},
                               {1, "zh-CN", QFontDatabase::SimplifiedChinese},
                               {2, "zh-TW", QFontDatabase::TraditionalChinese},
                               {3, "es-ES", QFontDatabase::Latin},
                               {4, "it-IT", QFontDatabase::Latin},
                               {5, "de-DE", QFontDatabase::Latin},
                               {6, "fr-FR", QFontDatabase::Latin}};

class WindowLayoutTest : public ::testing::TestWithParam<Language> {
protected:
    static void SetUpTestSuite() {
        control_test::EnsureApplication();
        folder_ = new TempFolder;
        fixture_ = new catalogue::WindowFixture(folder_->path());
    }
    static void TearDownTestSuite() {
        delete fixture_;
        delete folder_;
        LanguageIndex = 0;
    }
    static TempFolder* folder_;
    static catalogue::WindowFixture* fixture_;
};
TempFolder* WindowLayoutTest::folder_ = nullptr;
catalogue::WindowFixture* WindowLayoutTest::fixture_ = nullptr;

TEST_P(WindowLayoutTest, EveryTextIsWholeAndEveryControlInsideItsWindow) {
    ASSERT_TRUE(fixture_->ok) << fixture_->error;
    // Without a font for its script a language's texts are rows of empty boxes, measured or not.
    ASSERT_FALSE(QFontDatabase::families(GetParam().script).isEmpty()) << "no font writes " << GetParam().name;
    LanguageIndex = GetParam().index;
    std::set<std::string> seen;
    for (const catalogue::WindowEntry& entry : catalogue::Windows()) {
        SCOPED_TRACE(entry.name);
        EXPECT_TRUE(seen.insert(entry.name).second) << "two entries named " << entry.name;
        std::unique_ptr<catalogue::OpenWindow> open = entry.open(*fixture_);
        ASSERT_NE(open, nullptr);
        ASSERT_TRUE(open->window()->isVisible());
        for (const std::string& fault : LayoutProbe(open->window()).Faults()) ADD_FAILURE() << fault;
    }
    LanguageIndex = 0;
}

INSTANTIATE_TEST_SUITE_P(Languages, WindowLayoutTest, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<Language>& info) {
                             std::string name = info.param.name;
                             name.erase(name.find('-'), 1);
                             return name;
                         });

}  // namespace
