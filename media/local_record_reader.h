#pragma once
// The local source: a reader thread that walks the minute files of a data or backup
// folder second by second at the chosen speed and feeds the decode workers and the
// sound. It paces by the playback's clock and stops when the clock stops running.
#include <atomic>
#include <memory>
#include <thread>

#include "media/data_folder.h"
#include "media/playback_channels.h"
#include "media/playback_clock.h"
#include "media/playback_sound.h"
#include "platform/network_share.h"

class MinuteFile;

class LocalRecordReader {
public:
    using Outputs = PlaybackOutputs;
    explicit LocalRecordReader(const Outputs& outputs);
    ~LocalRecordReader();
    LocalRecordReader(const LocalRecordReader&) = delete;
    LocalRecordReader& operator=(const LocalRecordReader&) = delete;

    // Starts the reader of source, scale seconds to a slider unit; the last one has been
    // joined. The reader posts WM_STOP_REQUESTED with its serial when its range or its
    // folder ends.
    void Start(const RecordSource& source, int scale);
    // Ends a reader whose clock no longer runs: a wait on a share is cut short, its pacing
    // waits re-check, and it is joined.
    void Join();
    bool Running() const { return thread_.joinable() && !done_; }
    // The serial of the last playback started; a stop request of an earlier one is stale.
    int serial() const { return serial_.load(); }

private:
    void Run(const RecordSource& src, int scale, int serial);
    // Queues, for each channel whose picture at target is not a key one, the pictures from the
    // latest key picture before it; the workers decode them without showing them.
    void QueuePreroll(const RecordSource& src, int target, const MinuteFile& target_file);
    // The range or the data folder ended under the reader: stop from the window thread.
    void StopFromReader(int serial);

    using Clock = PlaybackClock::Clock;
    void FlushAll(int show_from_second = -1) { playback_channels::FlushWorkers(decode_, show_from_second); }
    void SetWorkersSpeed(int speed) { playback_channels::SetWorkersSpeed(decode_, speed); }
    void ClearViewersShowingPicture() { playback_channels::ClearViewersShowingPicture(viewers_); }
    int SelectedChannel() const { return playback_channels::SelectedChannel(viewers_); }
    void ReaderWait(Clock::time_point deadline, const std::function<bool()>& done) { clock_->WaitUntil(deadline, done); }
    bool ReaderMayWait() const { return clock_->ReaderMayWait(); }

    PlaybackClock* clock_;
    DecodeWorkers& decode_;
    ChannelViewers viewers_;
    StatusPanel* panel_;
    PlaybackWindow* window_;
    PlaybackSound* sound_;

    std::thread thread_;
    std::atomic<bool> done_{true};
    // Lets a stop end the reader's wait on a share at once.
    platform::ShareCallAbort share_calls_;
    // Counts local playbacks.
    std::atomic<int> serial_{0};
};
