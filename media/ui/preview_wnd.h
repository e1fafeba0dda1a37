#pragma once
// The record selection's small preview: the engine's latest picture stretched
// over the window.
#include <QImage>
#include <QWidget>

#include "media/preview_stream_engine.h"

class CPreviewWnd : public QWidget, public PreviewTarget {
    Q_OBJECT
public:
    explicit CPreviewWnd(QWidget* parent = nullptr);
    // Pictures are ignored while no engine is set.
    void SetEngine(PreviewStreamEngine* engine) { engine_ = engine; }
    // Any thread: the picture is fetched on the window thread.
    void PostPreviewFrame(int width, int height) override;
    // WM_PREVIEW_FRAME on the window thread.
    void OnPreviewFrame(int width, int height);

    int frame_width() const { return frame_width_; }
    int frame_height() const { return frame_height_; }
    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PreviewStreamEngine* engine_ = nullptr;
    int frame_width_ = -1;
    int frame_height_ = -1;
    std::vector<uint8_t> copy_;
    QImage picture_;
};
