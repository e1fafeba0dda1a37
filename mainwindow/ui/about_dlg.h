#pragma once
// The About box of both programs, and the small menu each main window keeps in
// the system menu's role: a Linux window manager's menu is not the program's,
// so the window opens its own on Alt+Space and on a right click on its
// background. Choosing an item hands its command id to the window.
#include <QDialog>
#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>

class QLabel;
class QMenu;
class QPushButton;
class QWidget;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResourceId = 100;

    CAboutDlg(const QString& caption, const QString& text, QWidget* parent = nullptr);
    QString Text() const;
    QPushButton* ok_button() const { return ok_; }

private:
    QLabel* text_ = nullptr;
    QPushButton* ok_ = nullptr;
};

class CSystemMenu : public QObject {
    Q_OBJECT
public:
    // The About item's command; a command masked with 0xFFF0 that equals it opens the box.
    static constexpr int kAboutCommand = 0x10;
    static bool IsAboutCommand(int command) { return (command & 0xFFF0) == kAboutCommand; }

    // item: the About item's text, "&" marking its mnemonic.
    CSystemMenu(QWidget* window, const QString& item, std::function<void(int command)> on_command);
    ~CSystemMenu() override;

    // At global (the window's top-left corner when null); returns at once.
    void Open(QPoint global = QPoint());
    QMenu* menu() const { return menu_; }

private:
    bool eventFilter(QObject* watched, QEvent* event) override;

    QWidget* window_;
    QMenu* menu_;
};

// The About box of a program, run modally over owner.
int RunAboutBox(QWidget* owner, const QString& caption, const QString& text);
