// The About box of both programs, reached as a user reaches it: Alt+Space or
// a right click on the window's background opens the window's menu, its item
// opens the box.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "checker/ui/watermark_dlg.h"
#include "mainwindow/ui/about_dlg.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "media/ui/ui_services.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

struct Seen {
    int boxes = 0;
    QString caption, text;
    QImage icon;
};

// Answers the next About box with OK, noting what it showed.
void AnswerAboutBox(Seen* seen) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, seen] {
        if (auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            ++seen->boxes;
            seen->caption = box->windowTitle();
            seen->text = box->Text();
            for (QLabel* label : box->findChildren<QLabel*>())
                if (!label->pixmap().isNull()) seen->icon = label->pixmap().toImage();
            box->ok_button()->click();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

void PumpUntil(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A right click as the window system delivers it: to the widget under the cursor.
void RightClick(QWidget* window, QPoint at) {
    QWidget* target = window->childAt(at);
    if (target == nullptr) target = window;
    const QPoint local = target->mapFrom(window, at);
    QContextMenuEvent event(QContextMenuEvent::Mouse, local, target->mapToGlobal(local));
    QApplication::sendEvent(target, &event);
}

struct Program {
    const char* name;
    std::function<std::unique_ptr<QWidget>()> make;
    std::function<CSystemMenu*(QWidget*)> menu;
    QString item, caption, text;
    QPoint background, control;
};

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override { ui::SetScreenSizeSource([] { return QSize(1280, 1024); }); }
    void TearDown() override { ui::SetScreenSizeSource(nullptr); }
    control_test::ApplicationGuard app_;
};

TEST_F(AboutBoxTest, WindowMenuOpensTheAboutBoxOfEachProgram) {
    const Program programs[] = {
        {"Larkspur",
         [] {
             auto dlg = std::make_unique<CKestrelPlaybackDlg>();
             dlg->OnInitDialog();
             return std::unique_ptr<QWidget>(std::move(dlg));
         },
         [](QWidget* w) { return static_cast<CKestrelPlaybackDlg*>(w)->system_menu(); }, "About Larkspur(&A)...",
         "About Larkspur", "Larkspur V1.1.00", QPoint(3, 3), QPoint(805, 605)},
        {"Halyard", [] { return std::unique_ptr<QWidget>(new CWatermarkDlg); },
         [](QWidget* w) { return static_cast<CWatermarkDlg*>(w)->system_menu(); }, "About Halyard(&A)...",
         "About Halyard", "Halyard V1.0.00", QPoint(3, 3), QPoint(20, 100)},
    };
    std::vector<QImage> icons;
    for (const Program& p : programs) {
        SCOPED_TRACE(p.name);
        std::unique_ptr<QWidget> window = p.make();
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        CSystemMenu* system = p.menu(window.get());
        ASSERT_NE(system, nullptr);
        QMenu* menu = system->menu();
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), p.item);

        // Alt+Space, then the item's mnemonic.
        Seen seen;
        QTest::keyClick(window.get(), Qt::Key_Space, Qt::AltModifier);
        PumpUntil([&] { return menu->isVisible(); });
        ASSERT_TRUE(menu->isVisible());
        AnswerAboutBox(&seen);
        QTest::keyClick(menu, Qt::Key_A);
        PumpUntil([&] { return seen.boxes > 0; });
        EXPECT_EQ(seen.boxes, 1);
        EXPECT_EQ(seen.caption, p.caption);
        EXPECT_EQ(seen.text, p.text);
        EXPECT_FALSE(menu->isVisible());
        // The box shows the program's own icon, the one the window has.
        ASSERT_FALSE(window->windowIcon().isNull());
        ASSERT_FALSE(seen.icon.isNull());
        const QImage own = window->windowIcon().pixmap(seen.icon.size()).toImage();
        EXPECT_EQ(seen.icon.convertToFormat(QImage::Format_RGB32), own.convertToFormat(QImage::Format_RGB32));
        icons.push_back(own.convertToFormat(QImage::Format_RGB32));

        // A right click on a control is the control's; on the background it opens the menu.
        ASSERT_NE(window->childAt(p.control), nullptr);
        RightClick(window.get(), p.control);
        control_test::DeliverPosted();
        EXPECT_FALSE(menu->isVisible());
        ASSERT_EQ(window->childAt(p.background), nullptr);
        RightClick(window.get(), p.background);
        PumpUntil([&] { return menu->isVisible(); });
        ASSERT_TRUE(menu->isVisible());
        AnswerAboutBox(&seen);
        menu->actions()[0]->trigger();
        PumpUntil([&] { return seen.boxes > 1; });
        EXPECT_EQ(seen.boxes, 2);
        EXPECT_TRUE(window->isVisible());
    }
    ASSERT_EQ(icons.size(), 2u);
    EXPECT_NE(icons[0], icons[1]);
}

TEST(AboutCommand, OnlyTheAboutItemsCommandRangeOpensTheBox) {
    struct Case {
        int command;
        bool about;
    };
    for (const Case& c : {Case{16, true}, Case{31, true}, Case{15, false}, Case{32, false}, Case{0xF060, false}})
        EXPECT_EQ(CSystemMenu::IsAboutCommand(c.command), c.about) << c.command;
}

}  // namespace
