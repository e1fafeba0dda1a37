#pragma once
// A channel's AAC and G.726 sound turned into PCM on a thread of its own,
// ahead of the writer that writes it: the decoding is most of an original-
// frames export's work, and the writer no longer waits for it.
//
// The thread decodes every sound it is given, in order, on one decoder, just
// as the writer's own decoder would take it. The writer asks for each sound
// in its turn and tells whether its own decoder would have been released
// right before it (a part of a new sound format, a new channel); when the
// thread did not decode that sound on a released decoder, it goes back and
// decodes from there again. The PCM is therefore what the writer's own
// decoder gives, byte for byte. A sound the writer skips in the middle of a
// run (held sound cut at its bound) breaks that order: from its next release
// on the writer decodes the channel's sound on its own decoder (Skip), as it
// does a channel whose sound starts with AAC.
//
// The owner starts and stops the thread; one reader adds, one writer takes.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "media/media_decoder.h"
#include "media/sound_to_pcm.h"

class SoundDecodeAhead {
public:
    struct Sound {
        PcmSource source = PcmSource::kAac;
        int sample_rate = 0;
        int channels = 0;
        std::vector<uint8_t> data;
    };
    // What ConvertSoundToPcm gave and the decoder's format after it.
    struct Decoded {
        bool ok = false;
        std::vector<uint8_t> pcm;
        int rate = 0;
        int channels = 0;
    };
    enum class Taken {
        kDecoded,
        // Not decoded in the order the writer's decoder would have: the writer decodes it.
        kNotHere,
        // The channel is ending.
        kStopped,
    };

    // Sounds given and not yet taken beyond this are not kept (the writer
    // then decodes them itself); decoded PCM beyond its bound waits.
    static constexpr size_t kMaxKeptBytes = 64 << 20;
    static constexpr size_t kMaxAheadPcmBytes = 8 << 20;
    // A writer that has to wait goes on once this many more are decoded.
    static constexpr int64_t kTakeBatch = 64;

    SoundDecodeAhead() = default;
    ~SoundDecodeAhead();
    SoundDecodeAhead(const SoundDecodeAhead&) = delete;
    SoundDecodeAhead& operator=(const SoundDecodeAhead&) = delete;

    // Owner: starts the thread for one channel with the writer's options;
    // the first sound added is number 0.
    void Start(const SoundToPcmOptions& options);
    // Any thread: ends the waits in Take at once; nothing more is decoded.
    void RequestStop();
    // Owner: stops and joins the thread and drops what is left.
    void Stop();

    // Reader: the next sounds, numbered on from those added before.
    void Add(std::vector<Sound>& sounds);
    // Writer: the PCM of sound number, blocking until it is decoded. fresh:
    // the writer's decoder would be released before it; otherwise number
    // follows the last sound taken.
    Taken Take(int64_t number, bool fresh, Decoded* out);
    // Writer: it decodes the channel's sounds itself from here on; nothing
    // more is kept or decoded ahead, and Take gives nothing.
    void Skip();

private:
    struct Job {
        int64_t number = 0;
        bool kept = true;  // false: over the bound, not kept
        Sound sound;
        bool done = false;
        bool first = false;  // decoded right after a release
        uint64_t run = 0;    // the decoder's run it was decoded in
        Decoded result;
    };

    void Run();
    // Under the lock.
    Job* Find(int64_t number) const;
    void DropThrough(int64_t number);
    bool HasWork() const;
    bool WriterMayGo() const;
    void WakeIfRoom(size_t ahead_before);

    std::thread thread_;
    SoundToPcmOptions options_;
    // The thread's own.
    MediaDecoder decoder_;
    int decoder_state_ = 0;
    std::vector<uint8_t> scratch_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::deque<std::shared_ptr<Job>> jobs_;  // consecutive numbers
    int64_t added_ = 0;
    size_t kept_bytes_ = 0;
    size_t ahead_bytes_ = 0;
    // The next number the thread decodes, and whether its decoder is
    // released and has decoded nothing since.
    int64_t next_ = 0;
    bool released_ = true;
    uint64_t run_ = 0;
    // Set by Take: decode again from restart_at_ on a released decoder.
    bool restart_ = false;
    int64_t restart_at_ = 0;
    // A decoding in flight from before a restart is thrown away.
    uint64_t generation_ = 0;
    int64_t last_taken_ = -1;
    uint64_t last_taken_run_ = 0;
    bool writer_waiting_ = false;
    // Set by Skip: the writer decodes on its own for the rest of the channel.
    bool writer_here_ = false;
    // Dropped by the writer, freed by the reader that made them.
    std::vector<std::shared_ptr<Job>> dropped_;
    int64_t writer_target_ = 0;
};
