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
#include <map>
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

bool IsFrame(const QWidget* w) {
    if (qobject_cast<const QGroupBox*>(w)) return true;
    auto* frame = qobject_cast<const QFrame*>(w);
    return frame && frame->frameShape() != QFrame::NoFrame && !qobject_cast<const QLabel*>(w) &&
           !qobject_cast<const QAbstractScrollArea*>(w);
}

int Right(const QRect& r) { return r.left() + r.width(); }

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

// One fitting run: where every control stood when it began.
class Fitter {
public:
    explicit Fitter(QWidget* window) {
        for (QWidget* w : window->findChildren<QWidget*>()) start_[w] = w->geometry();
    }
    void Fit(QWidget* parent);

private:
    // The room a frame had right of a control inside it, when the run began.
    int MarginBeside(const QWidget* frame, const QWidget* w) const {
        const auto f = start_.find(frame), c = start_.find(w);
        if (f == start_.end() || c == start_.end()) return 0;
        return Right(f->second) - Right(c->second);
    }
    void Shift(QWidget* s, int d, std::set<QWidget*>& done);
    void MakeRoom(QWidget* w, const QRect& before, int d, std::set<QWidget*>& done);
    void Widen(QWidget* w, int d);
    void AlignColumns(const std::vector<std::pair<QWidget*, int>>& lefts);

    std::map<const QWidget*, QRect> start_;
};

// s moves d to the right with what lies inside it; what stands right of it in
// its band follows.
void Fitter::Shift(QWidget* s, int d, std::set<QWidget*>& done) {
    const QRect r = s->geometry();
    done.insert(s);
    MoveBy(s, d);
    const std::vector<QWidget*> siblings = ChildWidgets(s->parentWidget());
    for (QWidget* inner : siblings) {
        if (!done.count(inner) && r.contains(inner->geometry())) {
            done.insert(inner);
            MoveBy(inner, d);
        }
    }
    MakeRoom(s, r, d, done);
}

// w has grown or moved d to the right of before: what stands to its right in
// the same band moves along, a frame round it grows to keep the room it had
// beside w, and frames that ended where that one did stay flush with it.
void Fitter::MakeRoom(QWidget* w, const QRect& before, int d, std::set<QWidget*>& done) {
    QWidget* parent = w->parentWidget();
    if (!parent || w->isWindow()) return;
    const std::vector<QWidget*> siblings = ChildWidgets(parent);
    for (QWidget* s : siblings) {
        if (s == w || done.count(s)) continue;
        const QRect r = s->geometry();
        if (r != before && r.contains(before)) {
            done.insert(s);
            const int grow = Right(w->geometry()) + MarginBeside(s, w) - Right(r);
            if (grow <= 0) continue;
            s->resize(r.width() + grow, r.height());
            MakeRoom(s, r, grow, done);
            for (QWidget* flush : siblings) {
                const QRect f = flush->geometry();
                if (!done.count(flush) && IsFrame(flush) && std::abs(Right(f) - Right(r)) <= 1) {
                    done.insert(flush);
                    flush->resize(f.width() + grow, f.height());
                    MakeRoom(flush, f, grow, done);
                }
            }
        } else if (SameBand(r, before) && r.left() >= Right(before) - 2) {
            Shift(s, d, done);
        }
    }
}

void Fitter::Widen(QWidget* w, int d) {
    if (d <= 0) return;
    // A page of a tab widget is as wide as the tab widget makes it.
    if (auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget())) {
        if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) {
            Widen(tabs, d);
            // The tab widget lays its pages out only when it is next shown; a
            // second fitting before then must find them as wide as they will be.
            stack->resize(stack->width() + d, stack->height());
            for (int i = 0; i < tabs->count(); ++i) tabs->widget(i)->resize(tabs->widget(i)->width() + d, tabs->widget(i)->height());
            return;
        }
    }
    const QRect before = w->geometry();
    w->resize(w->width() + d, w->height());
    std::set<QWidget*> done{w};
    MakeRoom(w, before, d, done);
}

// Controls that started on one left edge (a column of a form) end on one:
// the furthest any of them was pushed.
void Fitter::AlignColumns(const std::vector<std::pair<QWidget*, int>>& lefts) {
    std::map<int, std::vector<QWidget*>> columns;
    for (const auto& [w, left] : lefts)
        if (!IsFrame(w)) columns[left].push_back(w);
    for (const auto& [left, members] : columns) {
        if (members.size() < 2) continue;
        int target = left;
        for (QWidget* w : members) target = std::max(target, w->x());
        for (QWidget* w : members) {
            if (w->x() >= target) continue;
            std::set<QWidget*> done;
            Shift(w, target - w->x(), done);
        }
    }
}

void Fitter::Fit(QWidget* parent) {
    // The right margin the parent has; one that children already overrun is made a small one.
    const int given = parent->width() - RightOfChildren(parent);
    const int margin = given >= 0 ? given : kMinMargin;
    std::vector<std::pair<QWidget*, int>> lefts;
    for (QWidget* w : ChildWidgets(parent)) lefts.emplace_back(w, w->x());
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
    AlignColumns(lefts);
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
    Fitter(window).Fit(window);
}

}  // namespace ui
