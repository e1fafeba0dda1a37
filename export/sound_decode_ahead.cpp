#include "export/sound_decode_ahead.h"

#include <algorithm>
#include <utility>

SoundDecodeAhead::~SoundDecodeAhead() { Stop(); }

void SoundDecodeAhead::Start(const SoundToPcmOptions& options) {
    Stop();
    options_ = options;
    decoder_.Release();
    decoder_state_ = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = false;
        jobs_.clear();
        dropped_.clear();
        added_ = 0;
        kept_bytes_ = ahead_bytes_ = 0;
        next_ = 0;
        released_ = true;
        run_ = 0;
        restart_ = false;
        restart_at_ = 0;
        generation_ = 0;
        last_taken_ = -1;
        last_taken_run_ = 0;
        writer_waiting_ = false;
        writer_target_ = 0;
        writer_here_ = false;
    }
    thread_ = std::thread(&SoundDecodeAhead::Run, this);
}

void SoundDecodeAhead::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
}

void SoundDecodeAhead::Stop() {
    RequestStop();
    if (thread_.joinable()) thread_.join();
    decoder_.Release();
    decoder_state_ = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.clear();
    dropped_.clear();
    kept_bytes_ = ahead_bytes_ = 0;
}

void SoundDecodeAhead::Add(std::vector<Sound>& sounds) {
    if (sounds.empty()) return;
    bool wake = false;
    std::vector<std::shared_ptr<Job>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Freed here, on the thread that made them.
        dropped.swap(dropped_);
        if (writer_here_) {
            // The writer decodes the rest of the channel itself: the sounds are only counted.
            added_ += static_cast<int64_t>(sounds.size());
            sounds.clear();
            return;
        }
        for (Sound& sound : sounds) {
            auto job = std::make_shared<Job>();
            job->number = added_++;
            if (kept_bytes_ + sound.data.size() > kMaxKeptBytes) {
                job->kept = false;
            } else {
                kept_bytes_ += sound.data.size();
                job->sound = std::move(sound);
            }
            jobs_.push_back(std::move(job));
        }
        wake = HasWork();
    }
    sounds.clear();
    if (wake) changed_.notify_all();
}

SoundDecodeAhead::Job* SoundDecodeAhead::Find(int64_t number) const {
    if (jobs_.empty() || number < jobs_.front()->number || number > jobs_.back()->number) return nullptr;
    return jobs_[static_cast<size_t>(number - jobs_.front()->number)].get();
}

void SoundDecodeAhead::DropThrough(int64_t number) {
    while (!jobs_.empty() && jobs_.front()->number <= number) {
        const Job& job = *jobs_.front();
        kept_bytes_ -= job.sound.data.size();
        if (job.done) ahead_bytes_ -= job.result.pcm.size();
        dropped_.push_back(std::move(jobs_.front()));
        jobs_.pop_front();
    }
}

bool SoundDecodeAhead::WriterMayGo() const {
    return next_ > writer_target_ || next_ >= added_ || ahead_bytes_ >= kMaxAheadPcmBytes;
}

bool SoundDecodeAhead::HasWork() const {
    return restart_ || (!writer_here_ && next_ < added_ && ahead_bytes_ < kMaxAheadPcmBytes);
}

void SoundDecodeAhead::Run() {
    for (;;) {
        std::shared_ptr<Job> job;
        bool release = false;
        bool first = false;
        uint64_t run = 0;
        uint64_t generation = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // Whatever moved on since the last look (a sound passed over, the
            // end of what was added) may let a waiting writer go.
            if (writer_waiting_ && WriterMayGo()) changed_.notify_all();
            changed_.wait(lock, [this] { return stop_ || HasWork(); });
            if (stop_) return;
            if (restart_) {
                restart_ = false;
                next_ = restart_at_;
                released_ = true;
                release = true;
                ++run_;
            }
            // Sounds dropped before their turn, or not kept: the decoder's
            // run no longer follows the sounds one by one.
            const int64_t oldest = jobs_.empty() ? added_ : jobs_.front()->number;
            if (next_ < oldest) {
                next_ = oldest;
                if (!released_) ++run_;
            }
            Job* const found = Find(next_);
            if (found && !found->kept) {
                ++next_;
                if (!released_) ++run_;
                continue;
            }
            if (found && ahead_bytes_ < kMaxAheadPcmBytes) {
                job = jobs_[static_cast<size_t>(next_ - jobs_.front()->number)];
                first = released_;
                run = run_;
                generation = generation_;
            }
        }
        if (release) {
            decoder_.Release();
            decoder_state_ = 0;
        }
        if (!job) continue;
        Decoded decoded;
        const uint8_t* pcm = nullptr;
        size_t bytes = 0;
        decoded.ok = ConvertSoundToPcm(&decoder_, &decoder_state_, options_, job->sound.source, job->sound.data.data(),
                                       job->sound.data.size(), job->sound.sample_rate, job->sound.channels, &scratch_,
                                       &pcm, &bytes);
        if (decoded.ok) {
            decoded.pcm.assign(pcm, pcm + bytes);
            decoded.rate = decoder_.audio_sample_rate();
            decoded.channels = decoder_.audio_channels();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation != generation_) continue;
            released_ = false;
            ++next_;
            // A job the writer dropped meanwhile still went through the decoder.
            if (Find(job->number) != job.get()) continue;
            ahead_bytes_ += decoded.pcm.size();
            job->result = std::move(decoded);
            job->first = first;
            job->run = run;
            job->done = true;
            // A waiting writer is woken once a batch is ready, not for every sound.
            if (!writer_waiting_ || !WriterMayGo()) continue;
        }
        changed_.notify_all();
    }
}

// The thread is woken only when the writer gave it something to do: a sound
// in its turn takes no wake-up of a thread that is waiting for sounds.
void SoundDecodeAhead::WakeIfRoom(size_t ahead_before) {
    if (ahead_before >= kMaxAheadPcmBytes && ahead_bytes_ < kMaxAheadPcmBytes) changed_.notify_all();
}

SoundDecodeAhead::Taken SoundDecodeAhead::Take(int64_t number, bool fresh, Decoded* out) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::shared_ptr<Job> job;
    if (Find(number)) job = jobs_[static_cast<size_t>(number - jobs_.front()->number)];
    const size_t ahead_before = ahead_bytes_;
    if (!job || !job->kept) {
        DropThrough(number);
        WakeIfRoom(ahead_before);
        return Taken::kNotHere;
    }
    // The sounds before it are never asked for now; their PCM must not hold
    // the thread at its bound while this one waits.
    DropThrough(number - 1);
    WakeIfRoom(ahead_before);
    if (fresh) {
        // Decoded, or about to be, on a released decoder: as the writer's would.
        const bool as_released = job->done ? job->first
                                           : (restart_ ? restart_at_ == number : next_ == number && released_);
        if (!as_released) {
            restart_ = true;
            restart_at_ = number;
            ++generation_;
            for (auto& later : jobs_) {
                if (later->number < number || !later->done) continue;
                ahead_bytes_ -= later->result.pcm.size();
                later->result = Decoded{};
                later->done = false;
            }
            lock.unlock();
            changed_.notify_all();
            lock.lock();
        }
    }
    if (!job->done) {
        // Woken when a batch is decoded: the writer then goes through it
        // without a hand-over per sound.
        writer_target_ = std::min(number + kTakeBatch, added_ - 1);
        writer_waiting_ = true;
        changed_.wait(lock, [this, &job] { return stop_ || (job->done && WriterMayGo()); });
        writer_waiting_ = false;
    }
    if (stop_) return Taken::kStopped;
    const size_t ahead_then = ahead_bytes_;
    const bool follows = fresh ? job->first : last_taken_ == number - 1 && job->run == last_taken_run_;
    if (!follows) {
        DropThrough(number);
        WakeIfRoom(ahead_then);
        return Taken::kNotHere;
    }
    last_taken_ = number;
    last_taken_run_ = job->run;
    ahead_bytes_ -= job->result.pcm.size();
    *out = std::move(job->result);
    job->result = Decoded{};
    DropThrough(number);
    WakeIfRoom(ahead_then);
    return Taken::kDecoded;
}

void SoundDecodeAhead::Skip() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (writer_here_) return;
    writer_here_ = true;
    DropThrough(added_ - 1);
}
