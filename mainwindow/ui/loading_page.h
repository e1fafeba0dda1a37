#pragma once
// The busy window: a small modal window with an animated indicator, shown
// while a worker does something slow. It ends when the worker clears the
// watched flag or after a number of 50 ms ticks, whichever comes first.
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QTimer>

#include <atomic>
#include <string>
#include <vector>

class CLoadingPage : public QDialog {
    Q_OBJECT
public:
    static constexpr int kDefaultTickLimit = 250;
    static constexpr int kTickMs = 50;
    static constexpr int kTextControlId = 1910;
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 110;
    static constexpr uint32_t kBackgroundColour = 0x5A3C28;
    static constexpr int kSpinnerSize = 32;
    static constexpr int kSpinnerFrames = 8;

    explicit CLoadingPage(QWidget* parent = nullptr);

    // Before DoModal. Without a watched flag the window lasts until the tick limit.
    int tick_limit = kDefaultTickLimit;
    std::atomic<int>* watched_flag = nullptr;
    // The checker shows "Waiting......" and reads its indicator beside the program.
    std::string text = "Loading......";
    std::string indicator_path = "images//Indicator.gif";
    // Frames to show in place of the indicator file.
    std::vector<QImage> indicator_frames;

    // Always IDOK (1).
    int DoModal();

    int Ticks() const { return ticks_; }
    int FrameIndex() const { return frame_index_; }
    int FrameCount() const { return static_cast<int>(frames_.size()); }
    // Where the current frame is drawn.
    QRect IndicatorRect() const;

    // Escape and the close box: ignored, the window ends only as above.
    void reject() override;

    // A simple spinner of our own, for a missing or unreadable indicator.
    static std::vector<QImage> SpinnerFrames();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnInitDialog();
    void OnTick();
    void LoadIndicator();

    QTimer timer_;
    int ticks_ = 0;
    int frame_index_ = 0;
    std::vector<QImage> frames_;
    QLabel* label_ = nullptr;
};
