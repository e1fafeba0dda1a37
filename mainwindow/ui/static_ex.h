#pragma once
// One cell of the month calendar: a weekday caption or a day. A day with
// recordings takes clicks and reports its number.
#include <QString>
#include <QWidget>

#include "mainwindow/ui/window_message.h"

class CStaticEx : public QWidget {
    Q_OBJECT
public:
    static constexpr uint32_t kCaptionBand1 = 0xF0461E;
    static constexpr uint32_t kCaptionBand2 = 0xDC4614;
    static constexpr uint32_t kCaptionBand3 = 0xC8460A;
    static constexpr uint32_t kPickedColour = 0x0000FF;
    static constexpr uint32_t kMarkedColour = 0xFF0000;
    static constexpr int kBandHeight = 7;

    CStaticEx(int state, int control_id, QWidget* parent);

    // 0 caption, 1 picked day, 2 day with recordings, 3 plain cell.
    void SetState(int state);
    int State() const { return state_; }
    void SetText(const QString& text);
    const QString& Text() const { return text_; }
    // Where a click on a day with recordings goes (the calendar).
    void SetMessageSink(WindowMessageSink sink) { sink_ = std::move(sink); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int state_;
    QString text_;
    WindowMessageSink sink_;
};
