#pragma once
// The playback program's full-screen main dialog: skinned controls round the
// viewer grid, forwarding the transport to the PlaybackEngine it owns. Split by
// concern: kestrel_playback_dlg.cpp (construction, skin, layout, view modes),
// _transport.cpp (the engine's window, posted messages, transport buttons),
// _commands.cpp (Open, Power, cue marks and the commands that run dialogs).
#include <QDialog>
#include <QEvent>
#include <QImage>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "export/remote_export.h"
#include "mainwindow/ui/kestrel_playback_dlg_hooks.h"
#include "media/osd_style_record.h"
#include "media/playback_engine.h"
#include "media/playback_sinks.h"
#include "media/preview_stream_engine.h"
#include "media/recorder_api.h"
#include "media/ui/my_viewer.h"
#include "media/ui/viewer_grid.h"

class CBmpButton;
class CInfoBox;
class CMyButton;
class CMySlider;
class CMyStatic;
class CSystemMenu;

// Control ids of the main dialog.
namespace kestrel_id {
inline constexpr int kOpen = 1000, kPower = 1001, kView1x1 = 1002, kView2x2 = 1003, kView3x3 = 1004,
                     kFullScreen = 1005, kActualSize = 1006, kTimeSlider = 1007, kStepBackward = 1014,
                     kActualSizeCheck = 1015, kMute = 1041, kSpeedDown = 1042, kStepForward = 1043, kStop = 1044,
                     kPause = 1045, kPlay = 1046, kSpeedUp = 1049, kCueIn = 1050, kCueOut = 1051,
                     kVolumeSlider = 1052, kSetting = 1053, kOsd = 1054, kAviExport = 1055, kSnapShot = 1057,
                     kInfoBox = 1058, kPrint = 1059, kMinimize = 1068, kHiddenA = 1075, kHiddenB = 1077,
                     kHiddenC = 1078, kSpeedLabel = 1085, kCueLabel = 1086, kZoomIn = 1087, kZoomOut = 1088,
                     kAdjustImage = 1089, kBackup = 1090, kVersionLabel = 1918;
}

// The background rectangle: 4:3, centred on the screen.
struct BackgroundRect {
    int width = 0, height = 0, left = 0, top = 0;
};
BackgroundRect ComputeBackgroundRect(int screen_width, int screen_height);

// The engine's status panel: forwards to CInfoBox and keeps the cue marks,
// which the cue and export commands read back.
class CueTrackingPanel : public StatusPanel {
public:
    explicit CueTrackingPanel(CInfoBox* box) : box_(box) {}
    void SetDateText(const std::string& text) override;
    void SetTimeText(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void SetSpeed(int speed) override;
    int GetSpeed() const override;
    void SetCueMarks(int in_second, int out_second) override;
    void Reset() override;
    void SetCueIn(int second);
    void SetCueOut(int second);
    int CueIn() const;
    int CueOut() const;

private:
    CInfoBox* box_;
    mutable std::mutex lock_;
    int in_ = -1, out_ = -1;
};

class CKestrelPlaybackDlg : public QDialog, public PlaybackWindow, public ViewerHost {
    Q_OBJECT
public:
    static constexpr int kStatusTimerMs = 500;

    explicit CKestrelPlaybackDlg(QWidget* parent = nullptr);
    ~CKestrelPlaybackDlg() override;

    // Full screen, fonts, skin, layout, stopped. Run once before showing.
    void OnInitDialog();
    int DoModal();

    // PlaybackWindow.
    void PostMessage(uint32_t message, intptr_t wparam, intptr_t lparam) override;
    void SetTimeSlider(int range_max, int page_size, int position) override;
    void SetTransportButtons(int play_state) override;
    void StartStatusTimer() override;
    void StopStatusTimer() override;
    void SelectViewer(int index) override;
    void ShowQuadView() override;
    void ShowSingleView() override;
    int GridLayout() const override { return grid_.layout(); }

    // ViewerHost.
    void OnViewerDoubleClick(int view_index) override;
    void ToggleFullScreen() override;
    void RestartRemoteStream() override;
    void ApplyViewLayout() override;

    // A command of the window's own menu; the About item's opens the About box.
    void OnSysCommand(int command);
    CSystemMenu* system_menu() const { return system_menu_; }

    // Window messages, on the window thread.
    void OnWndMsg(uint32_t message, intptr_t wparam, intptr_t lparam);

    // View modes.
    void OnView1x1();
    void OnView2x2();
    void OnView3x3();
    void OnFullScreen() { ToggleFullScreen(); }
    void OnActualSize();
    void ShowQuadLayout();
    void ShowControls(bool show);

    // Transport.
    void OnPlay();
    void OnPause();
    void OnStop();
    void OnStepForward();
    void OnStepBackward();
    void OnSpeedUp();
    void OnSpeedDown();
    void OnMute();
    void OnHScroll(int code);
    void OnVolumeScroll(int code);

    // Commands.
    void OnOpen();
    void OnPower();
    void OnSnapShot();
    void OnPrint();
    void OnMinimize();
    void OnCueIn();
    void OnCueOut();
    void OnZoomIn();
    void OnZoomOut();
    void OnSetting() { RunSettings(); }
    void OnExportAvi() { RunExport(); }
    void OnAdjustImage();
    void OnBackup();
    void RunSettings();
    void RunExport();
    // 1 when a storage folder is known or chosen (then in chosen_folder()), 0 otherwise.
    int ChooseFolder();
    const std::string& chosen_folder() const { return chosen_folder_; }

    // Esc and the cancel command never end this dialog; only Power does.
    void reject() override {}
    void accept() override {}

    // The first selected viewer, 0 when none is.
    int SelectedViewerIndex() const;
    CMyViewer* SelectedViewer() const;

    PlaybackEngine& engine() { return *engine_; }
    ViewerGrid& grid() { return grid_; }
    CInfoBox* info_box() const { return info_box_; }
    CueTrackingPanel& status_panel() { return panel_; }
    CMySlider* time_slider() const { return time_slider_; }
    CMySlider* volume_slider() const { return volume_slider_; }
    CMyStatic* version_label() const { return version_label_; }
    // A control by its id, null when the dialog has none.
    QWidget* Control(int id) const;
    const BackgroundRect& background() const { return background_; }
    bool small_class() const { return small_class_; }
    int label_font_height() const { return label_font_height_; }
    int full_screen() const { return full_screen_; }
    int layout_busy() const { return layout_busy_; }
    std::array<OsdStyleRecord, 4>& osd_styles() { return osd_styles_; }
    bool status_timer_active() const { return status_timer_.isActive(); }

    KestrelDialogHooks hooks;
    // How long the recorder is left alone after an export's last stream before the closing request.
    std::chrono::milliseconds export_end_rest{RemoteExportTimings{}.teardown_ms};
    // Offered by Open while no source has been played.
    std::string initial_data_folder;

    // Written back by the record selection; the session id lives in the engine.
    SelectionBlock selection{};

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void ConnectControls();
    void LoadSkin();
    void RegisterTooltips(bool renewing);
    void LayoutControls();
    void KillStatusTimer();
    void SetCueMark(bool in);
    int CurrentSecond() const;
    void StartRecorderPlayback();
    void EnableButton(int id, bool enable);

    CMyButton* AddButton(int id);

    // Declared before the engine: the engine holds pointers into them.
    ViewerGrid grid_;
    CInfoBox* info_box_ = nullptr;
    CueTrackingPanel panel_;
    std::unique_ptr<PlaybackEngine> engine_;
    PreviewStreamEngine preview_;
    // The stream request that ends a recorder export; joined when it has answered.
    RecorderRequestWorker export_end_;

    std::array<CMyButton*, 1100> buttons_{};
    CBmpButton* actual_size_check_ = nullptr;
    CMySlider* time_slider_ = nullptr;
    CMySlider* volume_slider_ = nullptr;
    CMyStatic* version_label_ = nullptr;
    CSystemMenu* system_menu_ = nullptr;
    QTimer status_timer_;
    QImage background_image_;
    BackgroundRect background_;
    bool small_class_ = false;
    int label_font_height_ = 18;
    int full_screen_ = 0;
    int layout_busy_ = 0;
    bool initialised_ = false;
    std::array<OsdStyleRecord, 4> osd_styles_;
    // The last ChooseFolder's folder: without a settings file it is known nowhere else.
    std::string chosen_folder_;
};
