#include "mainwindow/ui/about_dlg.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(const QString& caption, const QString& text, QWidget* parent) : QDialog(parent) {
    setWindowTitle(caption);
    auto* icon = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    const QIcon program = parent && !parent->windowIcon().isNull() ? parent->windowIcon()
                                                                     : style()->standardIcon(QStyle::SP_MessageBoxInformation);
    icon->setPixmap(program.pixmap(side, side));
    text_ = new QLabel(text, this);
    ok_ = new QPushButton("OK", this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(12);
    row->addWidget(text_, 1, Qt::AlignVCenter);
    row->addSpacing(24);
    row->addWidget(ok_, 0, Qt::AlignTop);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(row);
    outer->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAboutDlg::Text() const { return text_->text(); }

int RunAboutBox(QWidget* owner, const QString& caption, const QString& text) {
    CAboutDlg box(caption, text, owner);
    return box.exec();
}

CSystemMenu::CSystemMenu(QWidget* window, const QString& item, std::function<void(int)> on_command)
    : QObject(window), window_(window), menu_(new QMenu(window)) {
    QAction* about = menu_->addAction(item);
    // The box runs modally: let the menu close first.
    connect(about, &QAction::triggered, this, [on_command] { on_command(kAboutCommand); }, Qt::QueuedConnection);
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), window);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this] { Open(); });
    window_->installEventFilter(this);
}

CSystemMenu::~CSystemMenu() = default;

void CSystemMenu::Open(QPoint global) {
    if (global.isNull()) global = window_->mapToGlobal(QPoint(0, 0));
    menu_->popup(global);
}

bool CSystemMenu::eventFilter(QObject* watched, QEvent* event) {
    // Only a click on the background: a control under the cursor keeps its own right click.
    if (watched == window_ && event->type() == QEvent::ContextMenu) {
        auto* context = static_cast<QContextMenuEvent*>(event);
        if (context->reason() == QContextMenuEvent::Mouse && window_->childAt(context->pos()) == nullptr) {
            Open(context->globalPos());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
