#pragma once
// The window that shows one channel: picture with digital zoom and overview,
// two lines of on-screen text, the connecting notice and the selection frame.
// Decode workers feed it through ViewerSink from their threads.
#include <QImage>
#include <QStaticText>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "media/jpeg_snapshot_writer.h"
#include "media/playback_sinks.h"
#include "media/ui/view_printer.h"
#include "media/vedio_player.h"
#include "media/viewer_geometry.h"
#include "media/viewer_text.h"

class OsdStyleRecord;
class ViewerGrid;

// What a viewer asks of the main dialog; the dialog implements it.
class ViewerHost {
public:
    virtual ~ViewerHost() = default;
    virtual void OnViewerDoubleClick(int view_index) = 0;
    virtual void ToggleFullScreen() = 0;
    virtual void RestartRemoteStream() = 0;
    virtual void ApplyViewLayout() = 0;
};

// The five enhancement settings, in their order.
struct ViewerEnhancement {
    int brightness_on = 0;
    int contrast_on = 0;
    int grey_on = 0;
    int brightness_value = 0;
    int contrast_value = 0;
    bool operator==(const ViewerEnhancement&) const = default;
};

class CMyViewer : public QWidget, public ViewerSink {
    Q_OBJECT
public:
    static constexpr int kCommandFullScreen = 10;
    static constexpr int kCommandSnapshot = 12;
    static constexpr int kCommandShowInView0 = 13;  // 13-16: trade places with view id - 13
    static constexpr int kCommandShowInView3 = 16;

    enum class SnapshotResult { kSaved, kNoImage, kCancelled, kBadChoice, kNotAPath, kFailed };

    explicit CMyViewer(QWidget* parent = nullptr);
    ~CMyViewer() override;

    // ViewerSink, called from the channel's decode worker.
    void SetFrameSize(int width, int height) override;
    int ShowFrame(int length, const uint8_t* picture) override;
    int ShowConverted(int width, int height, const PictureConvert& convert) override;
    // Ignored when year, month or day is 0.
    void SetOsdDateTime(int year, int month, int day, int hour, int minute, int second) override;
    void SetCameraName(const std::string& utf8) override;
    bool HasVideo() const override { return has_video_.load() != 0; }
    void ClearVideo() override;
    void SetConnecting(bool connecting) override;
    bool IsSelected() const override { return selected_.load() != 0; }
    void RequestRepaint() override;

    void SetOsdFont(const std::string& face, int height, int weight, uint32_t colour);
    // In the viewer's order: text on, date, time, channel number, camera name.
    void SetOsdSwitches(int text_on, int date, int time, int channel, int camera_name);
    // Font and switches of a style record (whose switches are in another order).
    void ApplyOsdStyle(const OsdStyleRecord& style);
    OsdState CurrentOsd() const;

    void Zoom(int steps);
    ZoomWindow CurrentZoom() const;
    ViewPrinter::Result Print();
    // What Print puts on the page: the viewer's client area, or in a 2x2 or
    // 3x3 layout the area of every shown viewer of its grid.
    QImage PrintCapture();
    SnapshotResult Snapshot();
    // Commands 10, 12 and 13-16; false for any other id.
    bool OnCommand(int id);

    ViewerEnhancement GetEnhancement() const;
    void SetEnhancement(const ViewerEnhancement& enhancement);

    void SetGrid(ViewerGrid* grid) { grid_ = grid; }
    void SetHost(ViewerHost* host) { host_ = host; }
    void SetViewIndex(int index) { view_index_ = index; }
    int view_index() const { return view_index_.load(); }
    void SetSelected(bool selected) { selected_ = selected ? 1 : 0; }
    void SetKeepAspect(bool keep) { keep_aspect_ = keep ? 1 : 0; }
    bool keep_aspect() const { return keep_aspect_.load() != 0; }
    void SetFullScreen(bool full_screen) { full_screen_ = full_screen ? 1 : 0; }
    bool full_screen() const { return full_screen_.load() != 0; }
    void SetLayout(int layout) { layout_ = layout; }
    int layout() const { return layout_.load(); }
    bool connecting() const { return connecting_.load() != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void Render(QPainter& painter, int cw, int ch);
    // A line of on-screen text, laid out once for as long as its text and font
    // stay: laying it out on every paint cost more than drawing it.
    struct TextLine {
        std::string text;
        QStaticText layout;
    };
    void DrawTextLine(QPainter& painter, TextLine& line, const std::string& text, int x, int y);
    // The enhancement filters over the picture being made, inside its hold.
    void Enhance(const ViewerEnhancement& e);
    void SelectInGrid();
    bool HasPicture() const;
    // The picture top-down, with its size; false without one.
    bool CopyPicture(int* width, int* height, std::vector<uint8_t>* top_down) const;
    const std::string& AmText();
    const std::string& PmText();
    const std::string& ConnectingText();

    // Enhancement, written by the window thread and read by the worker at each picture.
    std::atomic<int> brightness_on_{0};
    std::atomic<int> contrast_on_{0};
    std::atomic<int> grey_on_{0};
    std::atomic<int> brightness_value_{0};
    std::atomic<int> contrast_value_{0};
    std::atomic<int> keep_aspect_{0};
    std::atomic<int> view_index_{0};
    std::atomic<int> selected_{0};
    std::atomic<int> full_screen_{0};
    std::atomic<int> layout_{1};
    std::atomic<int> has_video_{0};
    std::atomic<int> connecting_{0};
    const bool sse2_;  // the fixed-point contrast, as the processor offers it

    // On-screen text, font, picture size and zoom window; never held while drawing.
    mutable std::mutex lock_;
    OsdState osd_;
    std::string font_face_ = "Arial Bold";
    int font_height_ = 20;
    int font_weight_ = 400;
    uint32_t font_colour_ = 0xFFFF;
    int picture_width_ = 0;
    int picture_height_ = 0;
    ZoomWindow zoom_;

    // Resized and filled by the worker, drawn and read back here, under its own picture lock.
    VedioPlayer player_;

    JpegSnapshotWriter snapshot_writer_;
    ViewPrinter printer_;
    ViewerGrid* grid_ = nullptr;
    ViewerHost* host_ = nullptr;

    bool paint_busy_ = false;
    bool dragging_ = false;
    int last_x_ = 0;
    int last_y_ = 0;
    int text_language_ = -1;  // the language the cached texts below belong to
    std::string am_text_;
    std::string pm_text_;
    std::string connecting_text_;
    TextLine text_lines_[2];
};
