#include "mainwindow/ui/loading_page.h"

#include <QImageReader>
#include <QPainter>
#include <QPalette>

#include <cmath>
#include <filesystem>
#include <numbers>

#include "media/ui/gdi_paint.h"
#include "platform/program_folder.h"

namespace {

constexpr int kFontHeight = 16;
// An indicator is a few dozen frames; more is a damaged file.
constexpr size_t kMaxFrames = 500;

}  // namespace

CLoadingPage::CLoadingPage(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(kWidth, kHeight);
    timer_.setInterval(kTickMs);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { OnTick(); });
}

std::vector<QImage> CLoadingPage::SpinnerFrames() {
    std::vector<QImage> frames;
    const double centre = kSpinnerSize / 2.0;
    for (int frame = 0; frame < kSpinnerFrames; ++frame) {
        QImage image(kSpinnerSize, kSpinnerSize, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        for (int dot = 0; dot < kSpinnerFrames; ++dot) {
            // The lead dot is brightest; the ones behind it fade.
            const int age = (frame - dot + kSpinnerFrames) % kSpinnerFrames;
            const double angle = 2.0 * std::numbers::pi * dot / kSpinnerFrames;
            const QPointF at(centre + std::sin(angle) * 11.0, centre - std::cos(angle) * 11.0);
            painter.setBrush(QColor(255, 255, 255, 255 - age * 28));
            painter.drawEllipse(at, 3.5, 3.5);
        }
        frames.push_back(image);
    }
    return frames;
}

void CLoadingPage::LoadIndicator() {
    frames_.clear();
    for (const QImage& frame : indicator_frames) {
        if (!frame.isNull()) frames_.push_back(frame);
    }
    if (!frames_.empty()) return;
    std::string path = indicator_path;
    if (!std::filesystem::exists(path) && !std::filesystem::path(path).is_absolute()) {
        path = platform::ProgramFolder() + "/" + indicator_path;
    }
    QImageReader reader(QString::fromStdString(path));
    // Each read of an animation gives its next frame.
    while (frames_.size() < kMaxFrames) {
        QImage frame = reader.read();
        if (frame.isNull()) break;
        frames_.push_back(frame);
        if (!reader.supportsAnimation()) break;
    }
    if (frames_.empty()) frames_ = SpinnerFrames();
}

void CLoadingPage::OnInitDialog() {
    ticks_ = 0;
    frame_index_ = 0;
    if (!label_) {
        label_ = new QLabel(this);
        label_->setProperty("controlId", kTextControlId);
        label_->setGeometry(120, 45, 130, 20);
        label_->setAttribute(Qt::WA_TranslucentBackground);
        QPalette colours = label_->palette();
        colours.setColor(QPalette::WindowText, Qt::white);
        label_->setPalette(colours);
        label_->setFont(GdiFont("The New Roman", kFontHeight, 400));
    }
    label_->setText(QString::fromStdString(text));
    LoadIndicator();
    timer_.start();
}

int CLoadingPage::DoModal() {
    OnInitDialog();
    exec();
    timer_.stop();
    return 1;
}

QRect CLoadingPage::IndicatorRect() const {
    if (frames_.empty()) return {};
    const QImage& image = frames_[static_cast<size_t>(frame_index_)];
    return QRect((width() - image.width()) / 5, (height() - image.height()) / 2, image.width(), image.height());
}

void CLoadingPage::OnTick() {
    if (!frames_.empty()) frame_index_ = (frame_index_ + 1) % static_cast<int>(frames_.size());
    update();
    const bool busy = watched_flag == nullptr || watched_flag->load() != 0;
    if (ticks_ < tick_limit && busy) {
        ++ticks_;
        return;
    }
    timer_.stop();
    done(QDialog::Accepted);
}

void CLoadingPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ColorFromColorref(kBackgroundColour));
    if (!frames_.empty()) painter.drawImage(IndicatorRect().topLeft(), frames_[static_cast<size_t>(frame_index_)]);
}

// The worker's results are read once it has ended, so the user cannot close the window early.
void CLoadingPage::reject() {}
