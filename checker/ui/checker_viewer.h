#pragma once
// The checker's reduced viewer (picture only, no on-screen text or zoom) and
// its grid of 16 viewers: layouts of 1 x 1 to 4 x 4 views over a fixed area,
// no slot table, no full screen. The preview uses the first view.
#include <QWidget>

#include <array>
#include <atomic>

#include "checker/avi_preview.h"
#include "media/vedio_player.h"
#include "media/viewer_geometry.h"

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
    bool IsSelected() const { return selected_; }
    void SetSelected(bool selected) { selected_ = selected; }
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
    bool selected_ = false;
};

class CCheckerViewerGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr int kViews = kCheckerGridViews;
    static constexpr int kAreaWidth = 224;
    static constexpr int kAreaHeight = 165;

    // corner: the preview area's top-left in the dialog. The grid's area is
    // there, kAreaWidth x kAreaHeight, whatever Create is given.
    CCheckerViewerGrid(QWidget* parent, QPoint corner);
    // The area given is not used: the grid takes its fixed area. Every viewer
    // shown at (120i, 120i), 100 x 100, viewer 0 selected, layout 9 (nothing
    // placed) until the first ApplyLayout.
    void Create(int left, int top, int width, int height);
    // n x n views, n 1 to 4; any other n changes nothing. Viewer 4 x row + column
    // takes each place; a layout that shows no selected viewer selects viewer 0.
    void ApplyLayout(int n);
    void SelectViewer(int index);
    // Null outside 0..15.
    CCheckerViewer* Viewer(int index) const;
    // The first selected viewer, -1 when none is.
    int SelectedIndex() const;
    int layout() const { return layout_; }
    QRect area() const { return area_; }

private:
    std::array<CCheckerViewer*, kViews> viewers_{};
    QRect area_;
    int layout_ = 1;
};
