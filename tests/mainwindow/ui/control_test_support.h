#pragma once
// One application object, synthetic mouse input and a recorder of posted
// window messages for the control tests.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

#include "mainwindow/ui/window_message.h"

namespace control_test {

inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "control_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: widgets of static fixtures may outlive main.
    if (!QApplication::instance()) new QApplication(argc, argv);
}

// Declared as a fixture's first member, so the application exists before its widgets.
struct ApplicationGuard {
    ApplicationGuard() { EnsureApplication(); }
};

inline void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = (type == QEvent::MouseButtonPress || type == QEvent::MouseMove) && button != Qt::NoButton
                                      ? Qt::MouseButtons(button)
                                      : Qt::MouseButtons(Qt::NoButton);
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

inline void Click(QWidget* target, QPoint at) {
    SendMouse(target, QEvent::MouseButtonPress, at);
    SendMouse(target, QEvent::MouseButtonRelease, at);
}

// Posted messages may post again; a few rounds deliver them all.
inline void DeliverPosted() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Runs the event loop for about ms milliseconds.
inline void Pump(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Runs the window thread's events, sleeping between them, until done holds (checked every
// 10 ms) or ms have passed; done's value at the end.
inline bool RunUntil(const std::function<bool()>& done, int ms) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    check.start(10);
    loop.exec();
    return done();
}

struct Posted {
    uint32_t message;
    intptr_t wparam;
    intptr_t lparam;
};

class MessageRecorder {
public:
    WindowMessageSink Sink() {
        return [this](uint32_t message, intptr_t wparam, intptr_t lparam) { messages.push_back({message, wparam, lparam}); };
    }
    std::vector<Posted> messages;
};

inline QRgb Rgb(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }
inline QRgb Rgb(const QColor& colour) { return colour.rgb() & 0xFFFFFF; }

inline QImage Solid(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

}  // namespace control_test
