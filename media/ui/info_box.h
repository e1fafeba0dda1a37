#pragma once
// The black status panel: playback date, large clock, speed, state word and the cue marks.
#include <QImage>
#include <QWidget>

#include <mutex>
#include <string>

#include "media/playback_sinks.h"

inline constexpr int kInfoBoxControlId = 1058;

class CInfoBox : public QWidget, public StatusPanel {
    Q_OBJECT
public:
    explicit CInfoBox(QWidget* parent = nullptr);
    ~CInfoBox() override;

    // StatusPanel; the setters may be called from any thread.
    void SetDateText(const std::string& text) override;
    void SetTimeText(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void SetSpeed(int speed) override;
    int GetSpeed() const override;
    // Seconds of the day; -1 hides a mark.
    void SetCueMarks(int in_second, int out_second) override;
    void Reset() override;

    // What the next paint draws, taken under the lock.
    struct Texts {
        std::string date;
        std::string clock;
        std::string state;
        std::string speed;
        std::string cue_in;   // empty: not shown
        std::string cue_out;  // empty: not shown
    };
    Texts CurrentTexts() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void RequestRepaint();

    mutable std::mutex lock_;
    std::string date_text_;
    std::string clock_text_;
    std::string state_text_;
    int speed_ = 1;
    int in_second_ = -1;
    int out_second_ = -1;
    QImage back_buffer_;  // created at the first paint, grown with the panel
};
