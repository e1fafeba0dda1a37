// The main dialog as the engine's window: posted messages, the time slider,
// the transport buttons and the status poll timer.
#include <QCursor>

#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/my_button.h"
#include "mainwindow/ui/my_slider.h"
#include "media/ui/info_box.h"
#include "media/ui/queued_call.h"
#include "media/ui/ui_services.h"
#include "media/view_slot_order.h"

using namespace kestrel_id;

void CueTrackingPanel::SetDateText(const std::string& text) { box_->SetDateText(text); }
void CueTrackingPanel::SetTimeText(const std::string& text) { box_->SetTimeText(text); }
void CueTrackingPanel::SetStatusText(const std::string& text) { box_->SetStatusText(text); }
void CueTrackingPanel::SetSpeed(int speed) { box_->SetSpeed(speed); }
int CueTrackingPanel::GetSpeed() const { return box_->GetSpeed(); }

void CueTrackingPanel::SetCueMarks(int in_second, int out_second) {
    std::lock_guard<std::mutex> guard(lock_);
    in_ = in_second;
    out_ = out_second;
    box_->SetCueMarks(in_, out_);
}

void CueTrackingPanel::Reset() {
    std::lock_guard<std::mutex> guard(lock_);
    in_ = out_ = -1;
    box_->Reset();
}

void CueTrackingPanel::SetCueIn(int second) {
    std::lock_guard<std::mutex> guard(lock_);
    in_ = second;
    box_->SetCueMarks(in_, out_);
}

void CueTrackingPanel::SetCueOut(int second) {
    std::lock_guard<std::mutex> guard(lock_);
    out_ = second;
    box_->SetCueMarks(in_, out_);
}

int CueTrackingPanel::CueIn() const {
    std::lock_guard<std::mutex> guard(lock_);
    return in_;
}

int CueTrackingPanel::CueOut() const {
    std::lock_guard<std::mutex> guard(lock_);
    return out_;
}

void CKestrelPlaybackDlg::PostMessage(uint32_t message, intptr_t wparam, intptr_t lparam) {
    // A worker's (message, wParam, lParam), delivered on the window thread.
    ui::PostQueued(this, [this, message, wparam, lparam] { OnWndMsg(message, wparam, lparam); });
}

void CKestrelPlaybackDlg::OnWndMsg(uint32_t message, intptr_t wparam, intptr_t lparam) {
    if (!engine_) return;
    if (message == WM_POSITION_CHANGED) {
        if (time_slider_) {
            const PlaybackEngine::Snapshot status = engine_->Status();
            time_slider_->setValue(status.play_state == PlaybackEngine::kStopped ? 0 : status.slider_position);
        }
        return;
    }
    if (message == WM_MOVE_VIEWER) {
        layout_busy_ = 1;
        if (wparam >= 0) {
            const QPoint cursor = full_screen_ ? QCursor::pos() : mapFromGlobal(QCursor::pos());
            const int area_width = full_screen_ ? ui::ScreenSize().width() : width();
            const int area_height = full_screen_ ? ui::ScreenSize().height() : height();
            const int n = grid_.layout();
            if (n >= 1 && n <= 3 && area_width >= n && area_height >= n && cursor.x() >= 0 && cursor.y() >= 0 &&
                cursor.x() < area_width && cursor.y() < area_height) {
                const int index = n * (cursor.y() / (area_height / n)) + cursor.x() / (area_width / n);
                if (index >= 0 && index <= 3 && wparam < kViewSlotCount) {
                    SwapViewSlot(static_cast<int>(wparam), index);
                    if (full_screen_) {
                        grid_.LayoutFullScreen();
                    } else {
                        grid_.ApplyLayout(n);
                    }
                }
            }
        }
        layout_busy_ = 0;
        return;
    }
    engine_->HandleMessage(message, wparam, lparam);
}

void CKestrelPlaybackDlg::SetTimeSlider(int range_max, int page_size, int position) {
    time_slider_->setRange(0, range_max);
    time_slider_->setPageStep(page_size);
    time_slider_->setValue(position);
}

void CKestrelPlaybackDlg::SetTransportButtons(int play_state) {
    const bool stopped = play_state == PlaybackEngine::kStopped;
    EnableButton(kPlay, play_state != PlaybackEngine::kPlaying);
    EnableButton(kPause, !stopped && play_state != PlaybackEngine::kPaused);
    for (int id : {kStop, kStepBackward, kStepForward, kSpeedUp, kSpeedDown}) EnableButton(id, !stopped);
    time_slider_->setEnabled(!stopped);
}

void CKestrelPlaybackDlg::StartStatusTimer() {
    if (!status_timer_.isActive()) status_timer_.start();
}

void CKestrelPlaybackDlg::StopStatusTimer() { status_timer_.stop(); }

void CKestrelPlaybackDlg::KillStatusTimer() {
    if (!engine_) return;
    engine_->KillStatusTimer();
}

void CKestrelPlaybackDlg::SelectViewer(int index) { grid_.SelectViewer(index); }

void CKestrelPlaybackDlg::OnPlay() { engine_->OnPlay(); }
void CKestrelPlaybackDlg::OnPause() { engine_->OnPause(); }
void CKestrelPlaybackDlg::OnStop() { engine_->OnStop(); }
void CKestrelPlaybackDlg::OnStepForward() { engine_->OnStepForward(); }
void CKestrelPlaybackDlg::OnStepBackward() { engine_->OnStepBackward(); }
void CKestrelPlaybackDlg::OnSpeedUp() { engine_->OnSpeedUp(); }
void CKestrelPlaybackDlg::OnSpeedDown() { engine_->OnSpeedDown(); }

void CKestrelPlaybackDlg::OnMute() {
    engine_->OnMute();
    volume_slider_->setEnabled(engine_->Status().sound_on);
}

void CKestrelPlaybackDlg::OnHScroll(int) { engine_->OnHScroll(time_slider_->value()); }

void CKestrelPlaybackDlg::OnVolumeScroll(int code) {
    constexpr int kEndTrack = 8;
    if (code != kEndTrack) engine_->SetVolume(volume_slider_->value());
}
