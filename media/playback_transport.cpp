// Transport: the main dialog's Play, Pause, Stop, step, speed and slider handlers,
// steering the local reader through the playback clock and the recorder by its requests.
#include "media/playback_engine.h"
#include "media/recorder_api.h"
#include "media/translate_text.h"
#include "platform/message_box.h"

int PlaybackEngine::SliderScale() const { return range_end - range_start > 10000 ? 10 : 1; }

void PlaybackEngine::OnPlay() {
    if (!IsPlayRange(range_start, range_end)) return;
    window_->SetTransportButtons(kPlaying);
    Play();
}

void PlaybackEngine::Play() {
    if (clock_.play_state == kStopped) {
        panel_->Reset();
        // The recorder's start ends with the play status when its requests have ended.
        if (source_mode == 1 && StartRemotePlayback(true)) return;
        if (source_mode != 1) StartLocalPlayback();
    } else if (clock_.play_state == kPaused) {
        if (source_mode == 1) SendControl(recorder_api::PlayPath(session_id));
    } else if (source_mode == 1) {
        SendControl(recorder_api::PlayPath(session_id));
    } else {
        FlushAll();
    }
    ShowPlayStatus();
    WakeReader();
}

void PlaybackEngine::OnPause() {
    // A paused state with nothing running would make the next Play show "PLAY" and start nothing.
    if (clock_.play_state == kStopped) return;
    Pause();
    window_->SetTransportButtons(kPaused);
}

void PlaybackEngine::Pause() {
    if (source_mode == 1) SendControl(recorder_api::PausePath(session_id));
    clock_.play_state = kPaused;
    panel_->SetStatusText("PAUSE");
    panel_->SetSpeed(1);
    // The workers keep their speed: what they hold plays out at the pace it was read at.
    WakeReader();
}

void PlaybackEngine::OnStop() {
    StopPlayback();
    window_->SetTransportButtons(kStopped);
}

void PlaybackEngine::StopPlayback() {
    CancelRemoteOpen();
    clock_.running = 0;
    EndStatusPoll();
    reader_.Join();
    if (source_mode == 1) remote_current = range_start;
    StopReceiver();
    for (CDecodeProcess& worker : decode) worker.Stop();
    clock_.play_state = kStopped;
    panel_->SetStatusText("STOP");
    panel_->SetSpeed(1);
    sound_.CloseDevice();
    sound_.ClearQueue();
    clock_.slider_position = 0;
    window_->PostMessage(WM_POSITION_CHANGED, 0, 0);
    panel_->SetCueMarks(-1, -1);
}

void PlaybackEngine::OnStepForward() {
    if (clock_.play_state != kStopped) StepForward();
}

void PlaybackEngine::OnStepBackward() {
    if (clock_.play_state != kStopped) StepBackward();
}

void PlaybackEngine::StepForward() {
    FlushAll();
    if (source_mode != 1) {
        clock_.step = 60;
        WakeReader();
        return;
    }
    const int jump = remote_current - range_start + 60;
    if (jump <= 0) return;
    SendControl(recorder_api::TimeJumpPath(session_id, jump));
}

void PlaybackEngine::StepBackward() {
    FlushAll();
    if (source_mode != 1) {
        clock_.step = -60;
        WakeReader();
        return;
    }
    const int jump = remote_current - range_start - 60;
    if (jump <= 0) return;
    SendControl(recorder_api::TimeJumpPath(session_id, jump));
}

void PlaybackEngine::SpeedUp() {
    if (source_mode == 1) {
        SendControl(recorder_api::SpeedUpPath(session_id));
        return;
    }
    const int v = panel_->GetSpeed();
    if (v >= 1 && v <= 31) {
        FlushAll();
        panel_->SetSpeed(2 * v);
    } else if (v == -2) {
        FlushAll();
        panel_->SetSpeed(1);
    } else if (v >= -32 && v <= -3) {
        panel_->SetSpeed(v / 2);
    }
    ApplySpeed();
}

void PlaybackEngine::SpeedDown() {
    if (source_mode == 1) {
        SendControl(recorder_api::SpeedDownPath(session_id));
        return;
    }
    const int v = panel_->GetSpeed();
    if (v >= 2 && v <= 32) {
        FlushAll();
        panel_->SetSpeed(v / 2);
    } else if (v == 1) {
        panel_->SetSpeed(-2);
    } else if (v >= -31 && v <= -1) {
        panel_->SetSpeed(2 * v);
    }
    ApplySpeed();
}

void PlaybackEngine::ApplySpeed() {
    // The reader samples the speed once a second; the pictures follow a change now.
    SetWorkersSpeed(panel_->GetSpeed());
    WakeReader();
}

void PlaybackEngine::OnSpeedUp() {
    if (clock_.play_state == kStopped) return;
    if (clock_.play_state == kPaused) OnPlay();
    SpeedUp();
}

void PlaybackEngine::OnSpeedDown() {
    if (clock_.play_state == kStopped) return;
    if (clock_.play_state == kPaused) OnPlay();
    SpeedDown();
}

void PlaybackEngine::OnHScroll(int position) {
    clock_.slider_position = position;
    clock_.slider_busy = 1;
    clock_.reposition_request = 1;
    clock_.position_valid = 0;
    // While the recorder's playback is being opened there is nothing there to seek yet.
    if (source_mode == 1 && !RemoteOpenRunning()) SendTimeSlider();
    clock_.slider_busy = 0;
    WakeReader();
}

void PlaybackEngine::OnMute() {
    sound_.ToggleMute();
}

void PlaybackEngine::HandleMessage(uint32_t message, intptr_t wparam, intptr_t) {
    if (message == WM_STOP_REQUESTED) {
        // Posted by a reader that has ended since: a playback started after it plays on.
        if (wparam == reader_.serial() && source_mode != 1) OnStop();
    } else if (message == WM_STREAM_LOST) {
        OnStop();
        StopStatusTimer();
        control_connection.Close();
    } else if (message == WM_DISK_FULL) {
        platform::ShowMessageBox(TranslateText("MSG_NOENOUGHSPACE", "Not Enough Disk Space"));
    } else if (message == WM_CONNECTION_LOST) {
        StopStatusTimer();
        platform::ShowMessageBox("Communication with the NVR has been interrupted.", "Error", platform::kMbIconError);
    } else if (message == WM_PLAY_REQUESTED) {
        window_->SetTransportButtons(clock_.play_state.load());
    } else if (message == WM_REMOTE_OPENED) {
        FinishRemoteOpen(wparam);
    } else if (message == WM_SLIDER_RELEASED) {
        clock_.slider_busy = 0;
        WakeReader();
    }
}
