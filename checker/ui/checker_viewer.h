#pragma once
// The checker's reduced viewer (picture only, no on-screen text or zoom) and
// its grid of 16 viewers, of which the preview uses one view.
#include <QWidget>

#include <array>
#include <atomic>

#include "checker/avi_preview.h"
#include "media/vedio_player.h"

class CCheckerViewer : public QWidget, public PreviewPictureSink {
    Q_OBJECT
public:
    explicit CCheckerViewer(QWidget* parent = nullptr);

    bool SetFrameSize(int width, int height) override;
    void ShowFrame(const uint8_t* picture, size_t length) override;
    void Blank() override;

    // Brightness, contrast and grey run on each picture when switched on.
    void SetEnhancement(int brightness_on, int contrast_on, int grey_on, int brightness, int contrast);

    int frames_shown() const { return frames_shown_.load(); }
    // What a paint of the viewer shows.
    QImage Render();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Paint(QPainter& painter);

    VedioPlayer player_{ContrastRounding::kDown};
    std::atomic<int> brightness_on_{0};
    std::atomic<int> contrast_on_{0};
    std::atomic<int> grey_on_{0};
    std::atomic<int> brightness_{0};
    std::atomic<int> contrast_{0};
    std::atomic<int> frames_shown_{0};
};

class CCheckerViewerGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr int kViews = 16;

    explicit CCheckerViewerGrid(QWidget* parent = nullptr);
    // Null outside 0..15.
    CCheckerViewer* Viewer(int index) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::array<CCheckerViewer*, kViews> viewers_{};
};
