#include "mainwindow/ui/kestrel_playback_dlg.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>

#include <cmath>

#include "export/ui/backup_dialog.h"
#include "mainwindow/ui/about_dlg.h"
#include "mainwindow/ui/bmp_button.h"
#include "mainwindow/ui/my_button.h"
#include "mainwindow/ui/my_slider.h"
#include "mainwindow/ui/my_static.h"
#include "mainwindow/ui/skin_image.h"
#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"
#include "media/ui/info_box.h"
#include "media/ui/ui_services.h"
#include "media/view_slot_order.h"
#include "tools/common/skin_names.h"

using namespace kestrel_id;

namespace {

// Every button the dialog creates; the hidden ones are never shown.
constexpr int kButtonIds[] = {kOpen,      kPower,       kSetting,   kOsd,       kAviExport,  kPrint,    kSnapShot,
                              kMinimize,  kView1x1,     kView2x2,   kView3x3,   kFullScreen, kActualSize, kMute,
                              kPlay,      kPause,       kStop,      kStepBackward, kStepForward, kSpeedUp,
                              kSpeedDown, kCueIn,       kCueOut,    kHiddenA,   kHiddenB,    kHiddenC,  kSpeedLabel,
                              kCueLabel,  kZoomIn,      kZoomOut,   kAdjustImage, kBackup};
constexpr int kNeverShown[] = {kView3x3, kActualSize, kOsd, kHiddenA, kHiddenB, kHiddenC};

struct SkinEntry {
    int id;
    const char* first;
    const char* normal;
    const char* pressed;
    const char* hover;
};
constexpr SkinEntry kSkin[] = {
    {kMinimize, "minimum-M", "minimum-D", "minimum-N", "minimum-N"},
    {kPower, "power-M", "power-D", "power-N", "power-N"},
    {kView1x1, "div1-M", "div1-D", "div1-N", "div1-D"},
    {kView2x2, "div4-M", "div4-D", "div4-N", "div4-D"},
    {kView3x3, "div9-M", "div9-D", "div9-N", "div9-D"},
    {kActualSizeCheck, "origisize-M", "origisize-D", "origisize-N", "origisize-D"},
    {kFullScreen, "fullscreen-M", "fullscreen-D", "fullscreen-N", "fullscreen-D"},
    {kZoomIn, "zoomin-M", "zoomin-D", "zoomin-N", "zoomin-0"},
    {kZoomOut, "zoomout-M", "zoomout-D", "zoomout-N", "zoomout-0"},
    {kCueLabel, "cue-N", "cue-N", "cue-N", "cue-N"},
    {kCueIn, "cuein-M", "cuein-D", "cuein-N", "cuein-0"},
    {kCueOut, "cueout-M", "cueout-D", "cueout-N", "cueout-0"},
    {kPlay, "play-M", "play-D", "play-N", "play-0"},
    {kStop, "stop-M", "stop-D", "stop-N", "stop-0"},
    {kPause, "pause-M", "pause-D", "pause-N", "pause-0"},
    {kStepForward, "fforward-M", "fforward-D", "fforward-N", "fforward-0"},
    {kStepBackward, "fbackward-M", "fbackward-D", "fbackward-N", "fbackward-0"},
    {kSpeedUp, "speedup-M", "speedup-D", "speedup-N", "speedup-0"},
    {kSpeedDown, "speeddown-M", "speeddown-D", "speeddown-N", "speeddown-0"},
    {kSpeedLabel, "speed-N", "speed-N", "speed-N", "speed-N"},
    {kMute, "audio-on", "audio-on", "audio-on", "audio-off"},
    {kOpen, "searchlist-M", "searchlist-D", "searchlist-N", "searchlist-0"},
    {kAviExport, "saveavi-M", "saveavi-D", "saveavi-N", "saveavi-0"},
    {kSetting, "setting-M", "setting-D", "setting-N", "setting-0"},
    {kSnapShot, "snapshot-M", "snapshot-D", "snapshot-N", "snapshot-0"},
    {kPrint, "print-M", "print-D", "print-N", "print-0"},
    {kBackup, "backup-M", "backup-D", "backup-N", "backup-0"},
    {kAdjustImage, "adjustimage-M", "adjustimage-D", "adjustimage-N", "adjustimage-0"},
};

struct Tip {
    int id;
    const char* key;
    const char* text;
};
// At start-up.
constexpr Tip kStartTips[] = {
    {kSetting, "TIP_SETTING", "OSD Setting"},          {kAviExport, "TIP_SAVE_AVI", "Save AVI"},
    {kSnapShot, "TIP_SNAPSHOT", "Save as Image"},      {kPrint, "TIP_PRINT", "Print"},
    {kBackup, "TIP_BACKUP", "Backup Data"},            {kAdjustImage, "TIP_ADJUST_IMG", "Image Enhencement"},
    {kMute, "TIP_MUTE", "Mute"},                       {kPower, "POWER_OFF", "Power Off"},
    {kMinimize, "TIP_MINIMUM", "Minimum"},             {kPlay, "TIP_PLAY", "Play"},
    {kStop, "TIP_STOP", "Stop"},                       {kPause, "TIP_PAUSE", "Pause"},
    {kStepBackward, "TIP_BACKWARD", "Step Backward"},  {kStepForward, "TIP_FORWARD", "Step Forward"},
    {kCueIn, "TIP_CUEINTIME", "Cue In Time"},          {kCueOut, "TIP_CUEOUTTIME", "Cue Out Time"},
    {kSpeedUp, "TIP_SPEED_UP", "Speed Up"},            {kSpeedDown, "TIP_SPEED_DOWN", "Speed Down"},
    {kOpen, "TIP_SEARCH_LIST", "Open Record"},         {kView1x1, "TIP_SINGLE_VIEW", "View as 1x1"},
    {kView2x2, "TIP_QUADRIC_VIEW", "View as 2x2"},     {kView3x3, "TIP_NINE_VIEW", "View as 3x3"},
    {kActualSizeCheck, "TIP_REALSIZE", "Actual Size"}, {kFullScreen, "TIP_FULL_SCREEN", "Full Screen"},
    {kZoomIn, "TIP_ZOOM_IN", "Zoom In"},               {kZoomOut, "TIP_ZOOM_OUT", "Zoom Out"},
};
// After the settings dialog; 3x3 and the zoom buttons keep their texts.
constexpr Tip kRenewedTips[] = {
    {kPower, "POWER_OFF", "Power Off"},
    {kMinimize, "TIP_MINIMUM", "Minimum"},
    {kPlay, "TIP_PLAY", "Play"},
    {kStop, "TIP_STOP", "Stop"},
    {kPause, "TIP_PAUSE", "Pause"},
    {kStepBackward, "TIP_STEPBACKWARD", "Step Backward"},
    {kStepForward, "TIP_STEPFORWARD", "Step Forward"},
    {kCueIn, "TIP_CUEINTIME", "Cue In Time"},
    {kCueOut, "TIP_CUEOUTTIME", "Cue Out Time"},
    {kSpeedUp, "TIP_SPEED_UP", "Speed Up"},
    {kSpeedDown, "TIP_SPEED_DOWN", "Speed Down"},
    {kOpen, "TIP_SEARCH_LIST", "Open Record"},
    {kView1x1, "TIP_SINGLE_VIEW", "View as 1x1"},
    {kView2x2, "TIP_QUADRIC_VIEW", "View as 2x2"},
    {kActualSizeCheck, "TIP_REALSIZE", "Actual Size"},
    {kFullScreen, "TIP_FULL_SCREEN", "Full Screen"},
    {kSetting, "TIP_SETTING", "OSD Setting"},
    {kAviExport, "TIP_SAVE_AVI", "Save AVI"},
    {kSnapShot, "TIP_SNAPSHOT", "Save as Image"},
    {kPrint, "TIP_PRINT", "Print"},
    {kMute, "TIP_MUTE", "Mute"},
    {kBackup, "TIP_BACKUP", "Backup Data"},
    {kAdjustImage, "TIP_ADJUST_IMG", "Image Enhencement"},
};

// Where a control sits: an anchor at fractions of the background plus pixel offsets.
struct Place {
    int id;
    double kx, ky;
    int dx_small, dy_small, w_small, h_small;
    int dx_large, dy_large, w_large, h_large;
};
constexpr Place kPlaces[] = {
    {kPower, 0.06, 0.895, -27, -27, 54, 54, -33, -33, 67, 67},
    {kMinimize, 0.06, 0.895, 32, -1, 28, 28, 44, -1, 35, 35},
    {kPlay, 0.24, 0.891, -37, -10, 25, 27, -48, -17, 33, 34},
    {kStop, 0.24, 0.891, -12, -10, 25, 27, -15, -17, 30, 34},
    {kPause, 0.24, 0.891, 13, -10, 25, 27, 15, -17, 33, 34},
    {kStepBackward, 0.43, 0.891, -31, -11, 31, 23, -39, -14, 39, 29},
    {kStepForward, 0.43, 0.891, 0, -11, 31, 23, 0, -14, 39, 29},
    {kCueIn, 0.2, 0.937, -47, -9, 30, 23, -60, -14, 38, 29},
    {kCueLabel, 0.2, 0.937, -17, -9, 35, 23, -22, -14, 44, 29},
    {kCueOut, 0.2, 0.937, 18, -9, 30, 23, 22, -14, 38, 29},
    {kSpeedUp, 0.336, 0.937, -47, -9, 30, 23, -60, -14, 38, 29},
    {kSpeedLabel, 0.336, 0.937, -17, -9, 35, 23, -22, -14, 44, 29},
    {kSpeedDown, 0.336, 0.937, 18, -9, 30, 23, 22, -14, 38, 29},
    {kZoomIn, 0.466, 0.937, -38, -11, 38, 27, -48, -17, 48, 34},
    {kZoomOut, 0.466, 0.937, 0, -11, 38, 27, 0, -17, 48, 34},
    {kOpen, 0.908, 0.133, -40, -12, 81, 24, -50, -15, 101, 30},
    {kView1x1, 0.908, 0.31, -45, -45, 41, 41, -55, -55, 51, 51},
    {kView2x2, 0.908, 0.31, 0, -45, 41, 41, 0, -55, 51, 51},
    {kActualSizeCheck, 0.908, 0.31, -45, 0, 41, 41, -55, 0, 51, 51},
    {kFullScreen, 0.908, 0.31, 0, 0, 41, 41, 0, 0, 51, 51},
    {kSetting, 0.908, 0.616, -50, -75, 46, 46, -61, -91, 57, 57},
    {kAviExport, 0.908, 0.616, 0, -75, 46, 46, 0, -91, 57, 57},
    {kSnapShot, 0.908, 0.616, -50, -25, 46, 46, -61, -30, 57, 57},
    {kPrint, 0.908, 0.616, 0, -25, 46, 46, 0, -30, 57, 57},
    {kAdjustImage, 0.908, 0.616, -50, 25, 46, 46, -61, 31, 57, 57},
    {kBackup, 0.908, 0.616, 0, 25, 46, 46, 0, 31, 57, 57},
    {kMute, 0.859, 0.843, -9, -10, 18, 17, -11, -12, 22, 21},
    {kVersionLabel, 0.908, 0.948, -68, -12, 136, 18, -68, -12, 136, 18},
};

int Trunc(double v) { return static_cast<int>(std::trunc(v)); }

}  // namespace

BackgroundRect ComputeBackgroundRect(int screen_width, int screen_height) {
    BackgroundRect r;
    if (screen_height > 0 && static_cast<double>(screen_width) / screen_height > 1.33) {
        r.height = screen_height;
        r.width = Trunc(screen_height * 1.33);
    } else {
        r.width = screen_width;
        r.height = Trunc(screen_width / 1.33);
    }
    r.left = (screen_width - r.width) / 2;
    r.top = (screen_height - r.height) / 2;
    return r;
}

CKestrelPlaybackDlg::CKestrelPlaybackDlg(QWidget* parent)
    : QDialog(parent), info_box_(new CInfoBox(this)), panel_(info_box_) {
    CreateControls();
    std::array<ViewerSink*, 4> viewers{};
    for (int i = 0; i < 4; ++i) viewers[static_cast<size_t>(i)] = grid_.Viewer(i);
    engine_ = std::make_unique<PlaybackEngine>(this, &panel_, viewers);
    grid_.SetHost(this);
    status_timer_.setInterval(kStatusTimerMs);
    connect(&status_timer_, &QTimer::timeout, this, [this] { engine_->OnTimer(); });
    ConnectControls();
    hooks.run_backup = [](QWidget* owner, const std::string& source_folder) {
        CBackupDialog dialog(owner);
        dialog.source_folder = source_folder;
        return dialog.DoModal();
    };
}

CKestrelPlaybackDlg::~CKestrelPlaybackDlg() {
    // What OnDestroy does: the threads end before any window they feed goes.
    status_timer_.stop();
    export_end_.Abort();
    engine_->StopPlayback();
    KillStatusTimer();
    engine_->CloseControlConnection();
    preview_.Stop();
    engine_.reset();
    grid_.SetHost(nullptr);
}

CMyButton* CKestrelPlaybackDlg::AddButton(int id) {
    auto* button = new CMyButton(this, id);
    buttons_[static_cast<size_t>(id)] = button;
    return button;
}

void CKestrelPlaybackDlg::CreateControls() {
    for (int id : kButtonIds) AddButton(id);
    for (int id : kNeverShown) {
        buttons_[static_cast<size_t>(id)]->hide();
        buttons_[static_cast<size_t>(id)]->setEnabled(false);
    }
    actual_size_check_ = new CBmpButton(CBmpButton::kCheckBox, this, kActualSizeCheck);
    time_slider_ = new CMySlider(Qt::Horizontal, this, kTimeSlider);
    volume_slider_ = new CMySlider(Qt::Horizontal, this, kVolumeSlider);
    info_box_->setProperty("controlId", kInfoBoxControlId);
}

QWidget* CKestrelPlaybackDlg::Control(int id) const {
    switch (id) {
        case kActualSizeCheck: return actual_size_check_;
        case kTimeSlider: return time_slider_;
        case kVolumeSlider: return volume_slider_;
        case kInfoBox: return info_box_;
        case kVersionLabel: return version_label_;
        default: break;
    }
    if (id < 0 || id >= static_cast<int>(buttons_.size())) return nullptr;
    return buttons_[static_cast<size_t>(id)];
}

void CKestrelPlaybackDlg::EnableButton(int id, bool enable) {
    if (QWidget* control = Control(id)) control->setEnabled(enable);
}

void CKestrelPlaybackDlg::ConnectControls() {
    auto on = [this](int id, void (CKestrelPlaybackDlg::*handler)()) {
        connect(buttons_[static_cast<size_t>(id)], &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    on(kOpen, &CKestrelPlaybackDlg::OnOpen);
    on(kPower, &CKestrelPlaybackDlg::OnPower);
    on(kView1x1, &CKestrelPlaybackDlg::OnView1x1);
    on(kView2x2, &CKestrelPlaybackDlg::OnView2x2);
    on(kView3x3, &CKestrelPlaybackDlg::OnView3x3);
    on(kFullScreen, &CKestrelPlaybackDlg::OnFullScreen);
    on(kActualSize, &CKestrelPlaybackDlg::OnActualSize);
    on(kMute, &CKestrelPlaybackDlg::OnMute);
    on(kStop, &CKestrelPlaybackDlg::OnStop);
    on(kPause, &CKestrelPlaybackDlg::OnPause);
    on(kPlay, &CKestrelPlaybackDlg::OnPlay);
    on(kStepForward, &CKestrelPlaybackDlg::OnStepForward);
    on(kStepBackward, &CKestrelPlaybackDlg::OnStepBackward);
    on(kSpeedUp, &CKestrelPlaybackDlg::OnSpeedUp);
    on(kSpeedDown, &CKestrelPlaybackDlg::OnSpeedDown);
    on(kCueIn, &CKestrelPlaybackDlg::OnCueIn);
    on(kCueOut, &CKestrelPlaybackDlg::OnCueOut);
    on(kSetting, &CKestrelPlaybackDlg::OnSetting);
    on(kAviExport, &CKestrelPlaybackDlg::OnExportAvi);
    on(kSnapShot, &CKestrelPlaybackDlg::OnSnapShot);
    on(kPrint, &CKestrelPlaybackDlg::OnPrint);
    on(kMinimize, &CKestrelPlaybackDlg::OnMinimize);
    on(kZoomIn, &CKestrelPlaybackDlg::OnZoomIn);
    on(kZoomOut, &CKestrelPlaybackDlg::OnZoomOut);
    on(kAdjustImage, &CKestrelPlaybackDlg::OnAdjustImage);
    on(kBackup, &CKestrelPlaybackDlg::OnBackup);
    connect(actual_size_check_, &QAbstractButton::clicked, this, [this] { OnActualSize(); });
    connect(time_slider_, &CMySlider::Scrolled, this, [this](int code) { OnHScroll(code); });
    connect(volume_slider_, &CMySlider::Scrolled, this, [this](int code) { OnVolumeScroll(code); });
    time_slider_->SetMessageSink([this](uint32_t message, intptr_t wparam, intptr_t lparam) {
        OnWndMsg(message, wparam, lparam);
    });
}

void CKestrelPlaybackDlg::OnInitDialog() {
    if (initialised_) return;
    initialised_ = true;
    ResetViewSlotOrder();
    system_menu_ = new CSystemMenu(this, "About Larkspur(&A)...", [this](int command) { OnSysCommand(command); });
    setWindowIcon(QIcon(QPixmap::fromImage(LoadSkinImage(skin::kPlaybackIconFile))));
    LanguageIndex = 0;
    setWindowTitle("Larkspur");
    background_image_ = LoadSkinImage(skin::kBackgroundFile);
    const QSize screen = ui::ScreenSize();
    setGeometry(0, 0, screen.width(), screen.height());
    small_class_ = screen.height() <= 720;
    label_font_height_ = small_class_ ? 14 : 18;
    const QFont label_font = GdiFont("Arial", label_font_height_, 400);

    version_label_ = new CMyStatic(this, kVersionLabel);
    version_label_->setGeometry(800, 600, 200, 20);
    version_label_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    version_label_->SetBackgroundColour(0xFFFFFF);
    version_label_->setText("Larkspur 1.3.2");
    version_label_->setFont(label_font);
    version_label_->show();

    engine_->SetSourceMode(0);
    LoadSkin();
    RegisterTooltips(false);
    LayoutControls();

    panel_.SetStatusText("STOP");
    panel_.SetSpeed(1);
    OnStop();
    EnableButton(kPlay, false);
    for (OsdStyleRecord& style : osd_styles_) {
        style.font_height = 20;
        style.SetFontName("Arial Bold");
        style.colour = 0xFFFF;
        style.show_text = style.show_time = style.show_date = style.show_camera_name = style.show_camera_number = 1;
    }
}

void CKestrelPlaybackDlg::OnSysCommand(int command) {
    if (CSystemMenu::IsAboutCommand(command)) RunAboutBox(this, "About Larkspur", "Larkspur V1.1.00");
}

int CKestrelPlaybackDlg::DoModal() {
    OnInitDialog();
    showFullScreen();
    return exec();
}

void CKestrelPlaybackDlg::LoadSkin() {
    const std::string folder = small_class_ ? skin::kSmallFolder : skin::kLargeFolder;
    auto file = [&](const char* name) { return folder + name + ".bmp"; };
    for (const SkinEntry& entry : kSkin) {
        if (entry.id == kActualSizeCheck) {
            actual_size_check_->SetImages(file(entry.first), file(entry.normal), file(entry.pressed), file(entry.hover));
        } else {
            buttons_[static_cast<size_t>(entry.id)]->SetImages(file(entry.first), file(entry.normal),
                                                              file(entry.pressed), file(entry.hover));
        }
    }
    EnableButton(kCueLabel, false);
    EnableButton(kSpeedLabel, false);
}

void CKestrelPlaybackDlg::RegisterTooltips(bool renewing) {
    auto apply = [this](const Tip& tip) {
        if (QWidget* control = Control(tip.id)) control->setToolTip(QString::fromStdString(TranslateText(tip.key, tip.text)));
    };
    if (renewing) {
        for (const Tip& tip : kRenewedTips) apply(tip);
    } else {
        for (const Tip& tip : kStartTips) apply(tip);
    }
}

void CKestrelPlaybackDlg::LayoutControls() {
    const QSize screen = ui::ScreenSize();
    background_ = ComputeBackgroundRect(screen.width(), screen.height());
    const int bw = background_.width, bh = background_.height;
    auto X = [&](double k) { return background_.left + Trunc(k * bw); };
    auto Y = [&](double k) { return background_.top + Trunc(k * bh); };

    layout_busy_ = 1;
    grid_.Create(X(0.0234), Y(0.0234), Trunc(0.787 * bw), Trunc(0.789 * bh), this);
    grid_.ChangeLayout(2);

    for (const Place& p : kPlaces) {
        QWidget* control = Control(p.id);
        if (!control) continue;
        if (small_class_) {
            control->setGeometry(X(p.kx) + p.dx_small, Y(p.ky) + p.dy_small, p.w_small, p.h_small);
        } else {
            control->setGeometry(X(p.kx) + p.dx_large, Y(p.ky) + p.dy_large, p.w_large, p.h_large);
        }
    }
    const int slider_width = Trunc(0.375 * bw);
    time_slider_->setGeometry(X(0.329) - Trunc(0.5 * 0.375 * bw), Y(0.854) - 12, slider_width, 24);
    volume_slider_->setGeometry(X(0.919) - Trunc(0.5 * 0.095 * bw), Y(0.843) - 12, Trunc(0.095 * bw), 24);
    info_box_->setGeometry(X(0.659) - Trunc(0.5 * 0.259 * bw), Y(0.901) - Trunc(0.5 * 0.114 * bh), Trunc(0.259 * bw),
                           Trunc(0.114 * bh));
    info_box_->Reset();
    buttons_[kView3x3]->hide();

    volume_slider_->setRange(0, 100);
    volume_slider_->setValue(engine_->Volume());
    EnableButton(kPlay, false);
    EnableButton(kBackup, false);
    layout_busy_ = 0;
    update();
}

void CKestrelPlaybackDlg::paintEvent(QPaintEvent*) {
    // Controls are moving: leave the background as it stands.
    if (layout_busy_) return;
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!background_image_.isNull() && background_.width > 0) {
        const QSize screen = ui::ScreenSize();
        const QRect target((screen.width() - background_.width) / 2, (screen.height() - background_.height) / 2,
                           background_.width, background_.height);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, background_image_);
    }
}

void CKestrelPlaybackDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (full_screen_) ToggleFullScreen();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CKestrelPlaybackDlg::closeEvent(QCloseEvent* event) {
    // The window manager's close reaches the empty cancel handler: only Power ends the dialog.
    event->ignore();
}

void CKestrelPlaybackDlg::ShowControls(bool show) {
    static constexpr int kShown[] = {kPower,      kMinimize, kOpen,     kPlay,    kStop,       kPause,
                                     kStepBackward, kStepForward, kCueIn, kCueLabel, kCueOut, kSpeedUp,
                                     kSpeedLabel, kSpeedDown, kZoomIn,  kZoomOut, kView1x1,    kView2x2,
                                     kFullScreen, kSetting,   kAviExport, kSnapShot, kPrint,    kBackup,
                                     kAdjustImage, kMute};
    for (int id : kShown) buttons_[static_cast<size_t>(id)]->setVisible(show);
    for (QWidget* control : {static_cast<QWidget*>(time_slider_), static_cast<QWidget*>(actual_size_check_),
                             static_cast<QWidget*>(volume_slider_), static_cast<QWidget*>(info_box_),
                             static_cast<QWidget*>(version_label_)}) {
        if (control) control->setVisible(show);
    }
}

int CKestrelPlaybackDlg::SelectedViewerIndex() const {
    const int index = grid_.SelectedIndex();
    return index < 0 ? 0 : index;
}

CMyViewer* CKestrelPlaybackDlg::SelectedViewer() const { return grid_.Viewer(SelectedViewerIndex()); }

void CKestrelPlaybackDlg::OnView1x1() {
    layout_busy_ = 1;
    grid_.ShowSingle(SelectedViewerIndex());
    ShowControls(true);
    layout_busy_ = 0;
    RestartRemoteStream();
    if (CMyViewer* viewer = SelectedViewer()) viewer->update();
    EnableButton(kView1x1, false);
    EnableButton(kView2x2, true);
    EnableButton(kFullScreen, true);
}

void CKestrelPlaybackDlg::OnView2x2() { ShowQuadView(); }

void CKestrelPlaybackDlg::ShowQuadView() {
    layout_busy_ = 1;
    const int selected = SelectedViewerIndex();
    if (ViewSlotOrder[selected] > 3) {
        for (int i = 0; i < 4; ++i) {
            if (ViewSlotOrder[i] == 0) {
                grid_.SelectViewer(i);
                break;
            }
        }
    }
    grid_.ChangeLayout(2);
    ShowControls(true);
    layout_busy_ = 0;
    RestartRemoteStream();
    EnableButton(kView1x1, true);
    EnableButton(kView2x2, false);
    EnableButton(kFullScreen, true);
}

void CKestrelPlaybackDlg::OnView3x3() {
    layout_busy_ = 1;
    grid_.ChangeLayout(3);
    ShowControls(true);
    layout_busy_ = 0;
    RestartRemoteStream();
    buttons_[kView3x3]->setDown(true);
    buttons_[kView2x2]->setDown(false);
    buttons_[kView1x1]->setDown(false);
}

void CKestrelPlaybackDlg::ShowSingleView() {
    layout_busy_ = 1;
    grid_.ShowSingle(SelectedViewerIndex());
    ShowControls(true);
    layout_busy_ = 0;
    if (CMyViewer* viewer = SelectedViewer()) viewer->update();
}

void CKestrelPlaybackDlg::ShowQuadLayout() {
    layout_busy_ = 1;
    grid_.ChangeLayout(2);
    ShowControls(true);
    layout_busy_ = 0;
}

void CKestrelPlaybackDlg::ToggleFullScreen() {
    full_screen_ = full_screen_ ? 0 : 1;
    layout_busy_ = 1;
    if (full_screen_) {
        ShowControls(false);
        grid_.LayoutFullScreen();
        for (int i = 0; i < 4; ++i) {
            if (CMyViewer* viewer = grid_.Viewer(i)) viewer->SetFullScreen(true);
        }
        layout_busy_ = 0;
        return;
    }
    layout_busy_ = 0;
    switch (grid_.layout()) {
        case 1: ShowSingleView(); break;
        case 2: ShowQuadLayout(); break;
        case 3: OnView3x3(); break;
        default: break;
    }
    for (int i = 0; i < 4; ++i) {
        if (CMyViewer* viewer = grid_.Viewer(i)) viewer->SetFullScreen(false);
    }
    update();
}

void CKestrelPlaybackDlg::OnActualSize() {
    for (int i = 0; i < 4; ++i) {
        if (CMyViewer* viewer = grid_.Viewer(i)) {
            viewer->SetKeepAspect(!viewer->keep_aspect());
            viewer->update();
        }
    }
    if (CMyViewer* first = grid_.Viewer(0)) actual_size_check_->SetCheck(first->keep_aspect() ? 1 : 0);
    EnableButton(kView1x1, true);
    EnableButton(kView2x2, true);
    EnableButton(kFullScreen, true);
}

void CKestrelPlaybackDlg::OnViewerDoubleClick(int view_index) {
    if (full_screen_) return;
    layout_busy_ = 1;
    if (grid_.layout() != 1) {
        grid_.ShowSingle(view_index);
        ShowControls(true);
        EnableButton(kView2x2, true);
        EnableButton(kView1x1, false);
    } else if (grid_.previous_layout() == 2) {
        grid_.ChangeLayout(2);
        ShowControls(true);
        EnableButton(kView2x2, false);
        EnableButton(kView1x1, true);
    }
    layout_busy_ = 0;
    RestartRemoteStream();
}

void CKestrelPlaybackDlg::ApplyViewLayout() {
    if (full_screen_) {
        grid_.LayoutFullScreen();
    } else if (grid_.layout() == 1) {
        grid_.ShowSingle(SelectedViewerIndex());
    } else {
        grid_.ApplyLayout(grid_.layout());
    }
}

void CKestrelPlaybackDlg::RestartRemoteStream() { engine_->RestartRemoteStream(); }
