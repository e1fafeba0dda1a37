#include "media/ui/info_box.h"

#include <QPainter>

#include "media/info_box_text.h"
#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"
#include "media/ui/queued_call.h"

namespace {

constexpr int kBufferWidth = 600;
constexpr int kBufferHeight = 220;
// A memory context's stock font: a bold sans with a 16-pixel cell.
constexpr int kDefaultFontHeight = 16;

QRect FromCorners(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

}  // namespace

CInfoBox::CInfoBox(QWidget* parent)
    : QWidget(parent),
      date_text_(InfoBoxTodayText()),
      clock_text_("00:00:00"),
      state_text_(TranslateText("STATUS_STOP", "STOP")) {
    setProperty("controlId", kInfoBoxControlId);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CInfoBox::~CInfoBox() = default;

void CInfoBox::RequestRepaint() {
    ui::PostQueued(this, [this] { update(); });
}

void CInfoBox::SetDateText(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        date_text_ = text;
    }
    RequestRepaint();
}

void CInfoBox::SetTimeText(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        clock_text_ = text;
    }
    RequestRepaint();
}

void CInfoBox::SetStatusText(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        state_text_ = text;
    }
    RequestRepaint();
}

void CInfoBox::SetSpeed(int speed) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        speed_ = speed;
    }
    RequestRepaint();
}

int CInfoBox::GetSpeed() const {
    std::lock_guard<std::mutex> guard(lock_);
    return speed_;
}

void CInfoBox::SetCueMarks(int in_second, int out_second) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        in_second_ = in_second;
        out_second_ = out_second;
    }
    RequestRepaint();
}

void CInfoBox::Reset() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        date_text_ = InfoBoxTodayText();
        clock_text_.clear();
        state_text_ = TranslateText("STATUS_STOP", "STOP");
        speed_ = 1;
        in_second_ = -1;
        out_second_ = -1;
    }
    RequestRepaint();
}

CInfoBox::Texts CInfoBox::CurrentTexts() const {
    std::lock_guard<std::mutex> guard(lock_);
    return Texts{date_text_,
                 clock_text_,
                 state_text_,
                 InfoBoxSpeedText(speed_),
                 InfoBoxCueInText(in_second_),
                 InfoBoxCueOutText(out_second_)};
}

void CInfoBox::paintEvent(QPaintEvent*) {
    const int cw = width();
    const int ch = height();
    if (cw <= 0 || ch <= 0) return;
    // A panel larger than the usual bitmap gets a bitmap of its own size.
    if (back_buffer_.width() < cw || back_buffer_.height() < ch) {
        back_buffer_ = QImage(std::max(cw, kBufferWidth), std::max(ch, kBufferHeight), QImage::Format_RGB32);
    }
    const Texts texts = CurrentTexts();
    {
        QPainter painter(&back_buffer_);
        painter.fillRect(QRect(0, 0, cw, ch), Qt::black);
        painter.setPen(Qt::white);
        painter.setFont(GdiFont("Arial Bold", kDefaultFontHeight, 700));
        const int flags = Qt::AlignLeft | Qt::AlignTop;
        painter.drawText(FromCorners(2, 2, 120, 30), flags, QString::fromStdString(texts.date));
        painter.drawText(FromCorners(cw - 40, ch / 2 - 10, cw, ch / 2 + 10), flags,
                         QString::fromStdString(texts.speed));
        // DT_VCENTER without DT_SINGLELINE leaves the text at the top.
        painter.drawText(FromCorners(cw - 50, ch - 20, cw, ch), Qt::AlignRight | Qt::AlignTop,
                         QString::fromStdString(texts.state));
        if (!texts.cue_in.empty()) {
            painter.drawText(FromCorners(2, ch - 30, 120, ch - 15), flags, QString::fromStdString(texts.cue_in));
        }
        if (!texts.cue_out.empty()) {
            painter.drawText(FromCorners(2, ch - 15, 120, ch), flags, QString::fromStdString(texts.cue_out));
        }
        painter.setFont(GdiFont("Arial", 35, 700));
        painter.drawText(FromCorners(cw / 2 - 65, ch / 2 - 15, cw / 2 + 65, ch / 2 + 15), flags,
                         QString::fromStdString(texts.clock));
    }
    QPainter screen(this);
    screen.drawImage(QPoint(0, 0), back_buffer_, QRect(0, 0, cw, ch));
}
