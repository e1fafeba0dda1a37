#include "media/ui/my_viewer.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QWheelEvent>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <vector>

#include "mainwindow/storage_location.h"
#include "media/osd_style_record.h"
#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"
#include "media/ui/queued_call.h"
#include "media/ui/ui_services.h"
#include "media/ui/viewer_grid.h"
#include "media/view_slot_order.h"
#include "media/watermark_writer.h"
#include "platform/message_box.h"

namespace {

constexpr uint32_t kSelectionColour = 0xFFFF;  // yellow
constexpr uint32_t kConnectingColour = 0x0000FF;  // red

bool CpuHasSse2() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

QRect ToQRect(const ViewRect& r) { return QRect(r.x, r.y, r.width, r.height); }

}  // namespace

CMyViewer::CMyViewer(QWidget* parent) : QWidget(parent), sse2_(CpuHasSse2()) {
    // Every pixel is painted from the back buffer; nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
}

CMyViewer::~CMyViewer() = default;

void CMyViewer::SetFrameSize(int width, int height) {
    player_.SetFrameSize(width, height);
    {
        std::lock_guard<std::mutex> guard(lock_);
        picture_width_ = width;
        picture_height_ = height;
        zoom_ = WholePicture(width, height);
    }
    SetEnhancement(ViewerEnhancement{});
    has_video_ = 1;
    connecting_ = 0;
}

int CMyViewer::ShowFrame(int length, const uint8_t* picture) {
    if (length < 0) return 0;
    const ViewerEnhancement e = GetEnhancement();
    // The one copy of the picture and its filters go into the unshown buffer;
    // it is shown when the hold ends.
    const auto picture_update = player_.LockPicture();
    if (!player_.CopyFrame(picture, static_cast<size_t>(length))) return 0;
    Enhance(e);
    return 1;
}

int CMyViewer::ShowConverted(int width, int height, const PictureConvert& convert) {
    const ViewerEnhancement e = GetEnhancement();
    const auto picture_update = player_.LockPicture();
    const int written = player_.ConvertFrame(width, height, convert);
    if (written == 1) Enhance(e);
    return written;
}

void CMyViewer::Enhance(const ViewerEnhancement& e) {
    if (e.brightness_on) player_.AdjustBrightness(e.brightness_value);
    if (e.contrast_on) {
        if (sse2_) {
            player_.AdjustContrastSse2(e.contrast_value);
        } else {
            player_.AdjustContrast(e.contrast_value);
        }
    }
    if (e.grey_on) player_.Grey();
}

void CMyViewer::SetOsdDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (year == 0 || month == 0 || day == 0) return;
    std::lock_guard<std::mutex> guard(lock_);
    osd_.year = year;
    osd_.month = month;
    osd_.day = day;
    osd_.hour = hour;
    osd_.minute = minute;
    osd_.second = second;
}

void CMyViewer::SetCameraName(const std::string& utf8) {
    std::lock_guard<std::mutex> guard(lock_);
    osd_.camera_name = utf8;
}

void CMyViewer::ClearVideo() {
    has_video_ = 0;
    player_.CloseDrawHandle();
    RequestRepaint();
}

bool CMyViewer::HasPicture() const { return player_.has_buffer(); }

bool CMyViewer::CopyPicture(int* width, int* height, std::vector<uint8_t>* top_down) const {
    return player_.CopyTopDown(width, height, top_down);
}

void CMyViewer::SetConnecting(bool connecting) { connecting_ = connecting ? 1 : 0; }

void CMyViewer::RequestRepaint() {
    ui::PostQueued(this, [this] { update(); });
}

void CMyViewer::SetOsdFont(const std::string& face, int height, int weight, uint32_t colour) {
    std::lock_guard<std::mutex> guard(lock_);
    font_face_ = face;
    font_height_ = height;
    font_weight_ = weight;
    font_colour_ = colour;
}

void CMyViewer::SetOsdSwitches(int text_on, int date, int time, int channel, int camera_name) {
    std::lock_guard<std::mutex> guard(lock_);
    osd_.show_text = text_on;
    osd_.show_date = date;
    osd_.show_time = time;
    osd_.show_channel = channel;
    osd_.show_camera_name = camera_name;
}

void CMyViewer::ApplyOsdStyle(const OsdStyleRecord& style) {
    SetOsdFont(style.font_face, style.font_height, style.font_weight, static_cast<uint32_t>(style.colour));
    SetOsdSwitches(style.show_text, style.show_date, style.show_time, style.show_camera_number,
                   style.show_camera_name);
}

OsdState CMyViewer::CurrentOsd() const {
    std::lock_guard<std::mutex> guard(lock_);
    return osd_;
}

void CMyViewer::Zoom(int steps) {
    std::lock_guard<std::mutex> guard(lock_);
    ApplyZoomSteps(zoom_, steps, picture_width_, picture_height_);
}

ZoomWindow CMyViewer::CurrentZoom() const {
    std::lock_guard<std::mutex> guard(lock_);
    return zoom_;
}

ViewerEnhancement CMyViewer::GetEnhancement() const {
    return ViewerEnhancement{brightness_on_.load(), contrast_on_.load(), grey_on_.load(), brightness_value_.load(),
                             contrast_value_.load()};
}

void CMyViewer::SetEnhancement(const ViewerEnhancement& e) {
    brightness_on_ = e.brightness_on;
    contrast_on_ = e.contrast_on;
    grey_on_ = e.grey_on;
    brightness_value_ = e.brightness_value;
    contrast_value_ = e.contrast_value;
}

const std::string& CMyViewer::AmText() {
    if (text_language_ != LanguageIndex.load()) {
        text_language_ = LanguageIndex.load();
        am_text_ = TranslateText("TXT_AM", " am");
        pm_text_ = TranslateText("TXT_PM", " pm");
        connecting_text_ = TranslateText("TXT_CONNECTING", "Connecting......");
    }
    return am_text_;
}

const std::string& CMyViewer::PmText() {
    AmText();
    return pm_text_;
}

const std::string& CMyViewer::ConnectingText() {
    AmText();
    return connecting_text_;
}

void CMyViewer::paintEvent(QPaintEvent*) {
    const int cw = width();
    const int ch = height();
    if (cw <= 0 || ch <= 0 || paint_busy_) return;
    // Straight onto the widget: Qt's backing store already keeps a half-drawn
    // view off the screen, so a back buffer of our own is one more copy of
    // every pixel for nothing.
    paint_busy_ = true;
    {
        QPainter painter(this);
        Render(painter, cw, ch);
    }
    paint_busy_ = false;
}

void CMyViewer::Render(QPainter& painter, int cw, int ch) {
    const bool connecting = connecting_.load() != 0;
    const std::string& am = AmText();
    const std::string& pm = PmText();
    OsdLines lines;
    uint32_t colour;
    std::string face;
    int weight;
    int m;
    ZoomWindow zoom;
    int picture_width;
    int picture_height;
    {
        std::lock_guard<std::mutex> guard(lock_);
        m = OsdFontHeight(font_height_, layout_.load(), connecting);
        face = font_face_;
        weight = font_weight_;
        lines = BuildOsdLines(osd_, view_index_.load(), am, pm);
        colour = font_colour_;
        zoom = zoom_;
        picture_width = picture_width_;
        picture_height = picture_height_;
    }
    painter.setFont(GdiFont(face, m, weight));
    // Black under everything but the picture, which covers its own rectangle
    // (black too when it cannot be drawn): one pass less over the view.
    const bool picture_shown = has_video_.load() && !connecting;
    const ViewRect dest = PictureDestination(cw, ch, picture_width, picture_height, keep_aspect_.load() != 0);
    const QRect picture_rect = picture_shown ? QRect(dest.x, dest.y, dest.width, dest.height) : QRect();
    // The frame last drawn covers the outer two rows and columns; painting
    // under it only costs a pass down the window's rows.
    const QRegion black = QRegion(2, 2, cw - 4, ch - 4).subtracted(picture_rect);
    for (const QRect& r : black) painter.fillRect(r, Qt::black);

    if (has_video_.load()) {
        if (connecting) {
            painter.setPen(ColorFromColorref(kConnectingColour));
            painter.drawText(QRect(0, 0, cw, ch), Qt::AlignCenter | Qt::TextSingleLine,
                             QString::fromStdString(ConnectingText()));
        } else {
            if (!player_.Draw(&painter, dest.x, dest.y, dest.width, dest.height, zoom.x, zoom.y, zoom.width,
                              zoom.height))
                painter.fillRect(picture_rect, Qt::black);
            if (const auto overview = OverviewRectangles(cw, ch, picture_width, picture_height, zoom)) {
                DrawEtchedFlatEdge(painter, ToQRect(overview->outer));
                DrawEtchedFlatEdge(painter, ToQRect(overview->inner));
            }
            painter.setPen(ColorFromColorref(colour));
            // Left and top aligned in boxes that never clip: only their corners matter.
            if (!lines.first.empty()) {
                DrawTextLine(painter, text_lines_[0], lines.first, 2, 0);
                DrawTextLine(painter, text_lines_[1], lines.second, 2, m);
            } else {
                DrawTextLine(painter, text_lines_[0], lines.second, 2, 0);
            }
        }
    }

    if (selected_.load()) {
        QPen pen(ColorFromColorref(kSelectionColour), 2);
        pen.setJoinStyle(Qt::MiterJoin);
        pen.setCapStyle(Qt::SquareCap);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const QPoint corners[] = {{1, 1}, {cw - 1, 1}, {cw - 1, ch - 1}, {1, ch - 1}, {1, 1}};
        painter.drawPolyline(corners, 5);
    } else {
        DrawEtchedFlatEdge(painter, QRect(0, 0, cw, ch));
    }
}

void CMyViewer::DrawTextLine(QPainter& painter, TextLine& line, const std::string& text, int x, int y) {
    if (text.empty()) return;
    // The layout follows the painter's font by itself.
    if (line.text != text) {
        line.text = text;
        line.layout = QStaticText(QString::fromStdString(text));
        line.layout.setTextFormat(Qt::PlainText);
    }
    painter.drawStaticText(QPointF(x, y), line.layout);
}

void CMyViewer::SelectInGrid() {
    if (grid_) grid_->SelectViewer(view_index_.load());
}

void CMyViewer::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && host_) host_->OnViewerDoubleClick(view_index_.load());
}

void CMyViewer::mousePressEvent(QMouseEvent* event) {
    // Qt grabs the mouse for the widget under a press until the release.
    SelectInGrid();
    if (event->button() == Qt::LeftButton) {
        const QPoint at = event->position().toPoint();
        last_x_ = at.x();
        last_y_ = at.y();
        dragging_ = true;
    }
}

void CMyViewer::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void CMyViewer::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    const QPoint at = event->position().toPoint();
    {
        std::lock_guard<std::mutex> guard(lock_);
        PanZoom(zoom_, last_x_, last_y_, at.x(), at.y(), picture_width_, picture_height_);
    }
    last_x_ = at.x();
    last_y_ = at.y();
}

void CMyViewer::wheelEvent(QWheelEvent* event) { Zoom(event->angleDelta().y() <= 0 ? -1 : 1); }

bool CMyViewer::OnCommand(int id) {
    if (id == kCommandFullScreen) {
        if (host_) host_->ToggleFullScreen();
        return true;
    }
    if (id == kCommandSnapshot) {
        Snapshot();
        return true;
    }
    if (id >= kCommandShowInView0 && id <= kCommandShowInView3) {
        const int target = id - kCommandShowInView0;
        ExchangeShownViews(view_index_.load(), target);
        if (grid_) grid_->SelectViewer(target);
        if (host_) {
            host_->RestartRemoteStream();
            host_->ApplyViewLayout();
        }
        return true;
    }
    return false;
}

QImage CMyViewer::PrintCapture() {
    QWidget* parent = parentWidget();
    const int n = layout();
    if (grid_ && parent && (n == 2 || n == 3)) {
        // The views as they are shown side by side, whichever slot each is in.
        QRect area;
        for (int i = 0; i < 4; ++i) {
            const CMyViewer* viewer = grid_->Viewer(i);
            if (viewer && viewer->isVisible() && viewer->parentWidget() == parent) area |= viewer->geometry();
        }
        if (!area.isEmpty()) return parent->grab(area).toImage();
    }
    return grab().toImage();
}

ViewPrinter::Result CMyViewer::Print() { return printer_.Print(PrintCapture(), this); }

CMyViewer::SnapshotResult CMyViewer::Snapshot() {
    const std::string message_caption = TranslateText("MSG", "Message");
    auto no_image = [&] {
        platform::ShowMessageBox(TranslateText("MSG_NOIMG", "No image data"), message_caption);
        return SnapshotResult::kNoImage;
    };
    if (!has_video_.load() || !HasPicture()) return no_image();

    std::string folder = ReadStorageLocation();
    if (folder.empty()) {
        const auto chosen = ui::ChooseFolder(this, TranslateText("TIP_OPENFOLDER", "Please select a folder."));
        if (!chosen) return SnapshotResult::kCancelled;
        if (chosen->empty()) {
            platform::ShowMessageBox(TranslateText("TXT_OPEN_ERROR", "It's not a data folder."),
                                     TranslateText("MSG_ERROR", "Error"));
            return SnapshotResult::kBadChoice;
        }
        folder = *chosen;
        WriteStorageLocation(folder);
    }

    const int selected = grid_ ? grid_->SelectedIndex() : view_index_.load();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string name = SnapshotFileName(1 + std::max(selected, 0), local.tm_year + 1900, local.tm_mon + 1,
                                              local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        platform::ShowMessageBox("Not a Path!", message_caption);
        return SnapshotResult::kNotAPath;
    }

    // The picture may have changed or gone while the folder browser was open.
    int width = 0;
    int height = 0;
    std::vector<uint8_t> top_down;
    if (!has_video_.load() || !CopyPicture(&width, &height, &top_down)) return no_image();
    const std::string path = folder + "/" + name;
    WatermarkWriter watermark;
    if (!snapshot_writer_.Save(path, top_down.data(), width, height) ||
        !InsertJpegWatermark(watermark.file_copy, path)) {
        platform::ShowMessageBox(TranslateText("MSG_SNAPSHOT_FAILED", "The snapshot could not be saved."),
                                 TranslateText("MSG_ERROR", "Error"));
        return SnapshotResult::kFailed;
    }
    return SnapshotResult::kSaved;
}
