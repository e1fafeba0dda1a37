// Transport: the main dialog's Play, Pause, Stop, step, speed and slider handlers,
// steering the local reader through the playback clock and the recorder by its requests.
#include "media/playback_engine.h"
#include "media/translate_text.h"
#include "platform/message_box.h"

void PlaybackEngine::OnPlay() {
    if (!IsPlayRange(range_.start, range_.end)) return;
    window_->SetTransportButtons(kPlaying);
    Play();
}

void PlaybackEngine::Play() {
    if (clock_.play_state == kStopped) {
        panel_->Reset();
        // The recorder's start ends with the play status when its requests have ended.
        if (source_mode_ == 1 && StartRemotePlayback(true)) return;
        if (source_mode_ != 1) StartLocalPlayback();
    } else if (clock_.play_state == kPaused) {
        if (source_mode_ == 1) remote_.Play();
    } else if (source_mode_ == 1) {
        remote_.Play();
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
    if (source_mode_ == 1) remote_.Pause();
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
    remote_.CancelOpen();
    clock_.running = 0;
    remote_.EndStatusPoll();
    reader_.Join();
    if (source_mode_ == 1) remote_.ResetPosition();
    remote_.StopReceiver();
    for (CDecodeProcess& worker : decode_) worker.Stop();
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
    if (source_mode_ != 1) {
        clock_.step = 60;
        WakeReader();
        return;
    }
    remote_.Step(60);
}

void PlaybackEngine::StepBackward() {
    FlushAll();
    if (source_mode_ != 1) {
        clock_.step = -60;
        WakeReader();
        return;
    }
    remote_.Step(-60);
}

void PlaybackEngine::SpeedUp() {
    if (source_mode_ == 1) {
        remote_.SpeedUp();
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
    if (source_mode_ == 1) {
        remote_.SpeedDown();
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
    if (source_mode_ == 1 && !remote_.OpenRunning()) remote_.Seek();
    clock_.slider_busy = 0;
    WakeReader();
}

void PlaybackEngine::OnMute() {
    sound_.ToggleMute();
}

void PlaybackEngine::HandleMessage(uint32_t message, intptr_t wparam, intptr_t) {
    if (message == WM_STOP_REQUESTED) {
        // Posted by a reader that has ended since: a playback started after it plays on.
        if (wparam == reader_.serial() && source_mode_ != 1) OnStop();
    } else if (message == WM_STREAM_LOST) {
        OnStop();
        remote_.StopStatusTimer();
        remote_.CloseControlConnection();
    } else if (message == WM_DISK_FULL) {
        platform::ShowMessageBox(TranslateText("MSG_NOENOUGHSPACE", "Not Enough Disk Space"));
    } else if (message == WM_CONNECTION_LOST) {
        remote_.StopStatusTimer();
        platform::ShowMessageBox("Communication with the NVR has been interrupted.", "Error", platform::kMbIconError);
    } else if (message == WM_PLAY_REQUESTED) {
        window_->SetTransportButtons(clock_.play_state.load());
    } else if (message == WM_REMOTE_OPENED) {
        remote_.FinishOpen(wparam);
    } else if (message == WM_SLIDER_RELEASED) {
        clock_.slider_busy = 0;
        WakeReader();
    }
}

void PlaybackEngine::RestartRemoteStream() {
    if (clock_.running == 0) return;
    // From a folder every channel stays decoded whatever the layout: a worker that dropped
    // its channel's pictures meanwhile would come back with a stale view and pictures it
    // cannot decode until the next key one.
    if (source_mode_ != 1) return;
    remote_.RestartStream();
}
