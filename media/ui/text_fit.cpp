#include "media/ui/text_fit.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>

#include <algorithm>
#include <set>

namespace ui {
namespace {

constexpr int kMinMargin = 6;

QString Shown(QString text) {
    text.replace("&&", QChar(0x1));
    text.remove('&');
    text.replace(QChar(0x1), '&');
    return text;
}

// Controls whose insides are their own business.
bool Opaque(const QWidget* w) {
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QTabBar*>(w) ||
           qobject_cast<const QToolBar*>(w) || qobject_cast<const QTabWidget*>(w) || qobject_cast<const QLineEdit*>(w);
}

std::vector<QWidget*> ChildWidgets(const QWidget* parent) {
    std::vector<QWidget*> out;
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w && !w->isWindow()) out.push_back(w);
    }
    return out;
}

// The size the text of w needs; 0 where w asks nothing in that direction.
QSize Needed(QWidget* w) {
    const QFontMetrics fm = w->fontMetrics();
    QStyle* style = w->style();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty() || label->wordWrap() || label->textFormat() == Qt::RichText) return {};
        return label->sizeHint();
    }
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
        if (static_cast<QAbstractButton*>(w)->text().isEmpty()) return {};
        return w->sizeHint();
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        if (button->text().isEmpty()) return {};
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w) +
                          style->pixelMetric(QStyle::PM_ButtonDefaultIndicator, nullptr, w);
        int width = fm.horizontalAdvance(Shown(button->text())) + 2 * frame +
                    2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
        if (!button->icon().isNull()) width += button->iconSize().width() + 4;
        return {width, fm.height() + 2 * frame + 2};
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        if (group->title().isEmpty()) return {};
        // Some styles draw the title bold.
        QFont bold = group->font();
        bold.setBold(true);
        return {QFontMetrics(bold).horizontalAdvance(Shown(group->title()) + ' ') + 16, 0};
    }
    if (qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w)) return {w->sizeHint().width(), 0};
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->displayText().isEmpty()) return {};
        const int frame = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w) : 0;
        const QMargins margins = edit->textMargins();
        return {fm.horizontalAdvance(edit->displayText()) + 2 * frame + 2 * 2 + 2 + margins.left() + margins.right(), 0};
    }
    return {};
}

void MoveBy(QWidget* w, int dx) { w->move(w->x() + dx, w->y()); }

bool SameBand(const QRect& a, const QRect& b) { return a.top() < b.top() + b.height() && b.top() < a.top() + a.height(); }

// w has grown d wider than before: what stands to its right in the same band
// moves along (with whatever lies inside it), what frames it grows with it.
void MakeRoom(QWidget* w, const QRect& before, int d, std::set<QWidget*>& done) {
    QWidget* parent = w->parentWidget();
    if (!parent || w->isWindow()) return;
    const std::vector<QWidget*> siblings = ChildWidgets(parent);
    for (QWidget* s : siblings) {
        if (s == w || done.count(s)) continue;
        const QRect r = s->geometry();
        if (r != before && r.contains(before)) {
            done.insert(s);
            s->resize(r.width() + d, r.height());
            MakeRoom(s, r, d, done);
        } else if (SameBand(r, before) && r.left() >= before.left() + before.width() - 2) {
            done.insert(s);
            MoveBy(s, d);
            for (QWidget* inner : siblings) {
                if (inner != s && inner != w && !done.count(inner) && r.contains(inner->geometry())) {
                    done.insert(inner);
                    MoveBy(inner, d);
                }
            }
        }
    }
}

void Widen(QWidget* w, int d) {
    if (d <= 0) return;
    // A page of a tab widget is as wide as the tab widget makes it.
    if (auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget())) {
        if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) {
            Widen(tabs, d);
            return;
        }
    }
    const QRect before = w->geometry();
    w->resize(w->width() + d, w->height());
    std::set<QWidget*> done{w};
    MakeRoom(w, before, d, done);
}

int RightOfChildren(const QWidget* parent) {
    int right = 0;
    for (QWidget* c : ChildWidgets(parent))
        if (!c->isHidden()) right = std::max(right, c->x() + c->width());
    return right;
}

void FitColumnsOf(QTreeView* view) {
    QHeaderView* header = view->header();
    if (!view->model()) return;
    view->doItemsLayout();
    for (int c = 0; c < view->model()->columnCount(); ++c) {
        if (header->isSectionHidden(c)) continue;
        // Public on the base class; the tree answers for its own rows.
        const int rows = static_cast<QAbstractItemView*>(view)->sizeHintForColumn(c);
        const int need = std::max(rows, header->sectionSizeHint(c));
        if (header->sectionSize(c) < need) header->resizeSection(c, need);
    }
}

void Fit(QWidget* parent) {
    // The right margin the parent has; one that children already overrun is made a small one.
    const int given = parent->width() - RightOfChildren(parent);
    const int margin = given >= 0 ? given : kMinMargin;
    for (QWidget* w : ChildWidgets(parent)) {
        if (auto* tree = qobject_cast<QTreeView*>(w)) FitColumnsOf(tree);
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            for (int i = 0; i < tabs->count(); ++i) Fit(tabs->widget(i));
        } else if (!Opaque(w)) {
            Fit(w);
        }
        const QSize need = Needed(w);
        if (auto* label = qobject_cast<QLabel*>(w); label && need.width() > 0) {
            // Cut back to the window, never below the text.
            const int room = parent->width() - margin - w->x();
            if (w->x() + w->width() > parent->width() && room < w->width())
                w->resize(std::max(room, need.width()), w->height());
        }
        if (need.height() > w->height() && (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))) {
            const int d = need.height() - w->height();
            w->setGeometry(w->x(), w->y() - d / 2, w->width(), need.height());
        }
        Widen(w, need.width() - w->width());
    }
    const int right = RightOfChildren(parent) + margin;
    if (right > parent->width()) {
        if (parent->isWindow()) {
            const bool fixed = parent->minimumWidth() == parent->maximumWidth();
            if (fixed) parent->setFixedWidth(right);
            else parent->resize(right, parent->height());
        } else {
            Widen(parent, right - parent->width());
        }
    }
}

}  // namespace

DialogUnits DialogUnitsOf(const QFont& font) {
    const QFontMetrics fm(font);
    DialogUnits units;
    units.base_x = (fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    units.base_y = fm.height();
    return units;
}

void FitColumns(QTreeView* view) { FitColumnsOf(view); }

void FitTexts(QWidget* window) {
    window->ensurePolished();
    for (QWidget* w : window->findChildren<QWidget*>()) w->ensurePolished();
    Fit(window);
}

}  // namespace ui
