#include "tests/support/playback_fakes.h"

#include <algorithm>
#include <chrono>
#include <thread>

void FakeViewer::SetFrameSize(int w, int h) {
    width = w;
    height = h;
    has_video = true;
    connecting = false;
}

int FakeViewer::ShowFrame(int length, const uint8_t* picture) {
    std::lock_guard<std::mutex> guard(lock_);
    ++frames_;
    shown_seconds_.push_back(osd_second_);
    last_picture_.assign(picture, picture + length);
    return 1;
}

void FakeViewer::SetOsdDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (!year || !month || !day) return;
    std::lock_guard<std::mutex> guard(lock_);
    osd_second_ = hour * 3600 + minute * 60 + second;
}

void FakeViewer::SetCameraName(const std::string& utf8) {
    std::lock_guard<std::mutex> guard(lock_);
    camera_name_ = utf8;
}

void FakeViewer::ClearVideo() {
    has_video = false;
    ++clears;
}

int FakeViewer::frames() const {
    std::lock_guard<std::mutex> guard(lock_);
    return frames_;
}

std::string FakeViewer::camera_name() const {
    std::lock_guard<std::mutex> guard(lock_);
    return camera_name_;
}

std::vector<int> FakeViewer::shown_seconds() const {
    std::lock_guard<std::mutex> guard(lock_);
    return shown_seconds_;
}

std::vector<uint8_t> FakeViewer::last_picture() const {
    std::lock_guard<std::mutex> guard(lock_);
    return last_picture_;
}

void FakeStatusPanel::SetDateText(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    date_ = text;
}

void FakeStatusPanel::SetTimeText(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (times_.empty() || times_.back() != text) times_.push_back(text);
}

void FakeStatusPanel::SetStatusText(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    status_ = text;
}

void FakeStatusPanel::SetSpeed(int speed) {
    std::lock_guard<std::mutex> guard(lock_);
    speed_ = speed;
}

int FakeStatusPanel::GetSpeed() const {
    std::lock_guard<std::mutex> guard(lock_);
    return speed_;
}

void FakeStatusPanel::SetCueMarks(int in_second, int out_second) {
    std::lock_guard<std::mutex> guard(lock_);
    in_ = in_second;
    out_ = out_second;
}

void FakeStatusPanel::Reset() {
    std::lock_guard<std::mutex> guard(lock_);
    status_ = "STOP";
    speed_ = 1;
    in_ = out_ = -1;
}

std::vector<std::string> FakeStatusPanel::times() const {
    std::lock_guard<std::mutex> guard(lock_);
    return times_;
}

std::string FakeStatusPanel::date() const {
    std::lock_guard<std::mutex> guard(lock_);
    return date_;
}

std::string FakeStatusPanel::status() const {
    std::lock_guard<std::mutex> guard(lock_);
    return status_;
}

int FakeStatusPanel::in_mark() const {
    std::lock_guard<std::mutex> guard(lock_);
    return in_;
}

void FakePlaybackWindow::PostMessage(uint32_t message, intptr_t wparam, intptr_t) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(message);
        params_.push_back(wparam);
    }
    posted_.notify_all();
}

void FakePlaybackWindow::SetTimeSlider(int range_max, int page_size, int) {
    slider_max = range_max;
    slider_page = page_size;
}

bool FakePlaybackWindow::WaitFor(uint32_t message, int timeout_ms) {
    std::unique_lock<std::mutex> guard(lock_);
    return posted_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] {
        return std::find(messages_.begin(), messages_.end(), message) != messages_.end();
    });
}

intptr_t FakePlaybackWindow::LastParam(uint32_t message) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t i = messages_.size(); i-- > 0;)
        if (messages_[i] == message) return params_[i];
    return -1;
}

void FakePlaybackWindow::Forget() {
    std::lock_guard<std::mutex> guard(lock_);
    messages_.clear();
    params_.clear();
}

intptr_t FakePlaybackWindow::Take(uint32_t message, int timeout_ms) {
    std::unique_lock<std::mutex> guard(lock_);
    const bool came = posted_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] {
        return std::find(messages_.begin(), messages_.end(), message) != messages_.end();
    });
    if (!came) return -1;
    intptr_t last = -1;
    for (size_t i = 0; i < messages_.size();) {
        if (messages_[i] == message) {
            last = params_[i];
            messages_.erase(messages_.begin() + static_cast<std::ptrdiff_t>(i));
            params_.erase(params_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    return last;
}

int FakePlaybackWindow::Count(uint32_t message) const {
    std::lock_guard<std::mutex> guard(lock_);
    int n = 0;
    for (uint32_t m : messages_) n += m == message;
    return n;
}
