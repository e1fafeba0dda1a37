#pragma once
// The output side both exports share. A channel's records go in one by one;
// it writes them through the writer of the chosen format, starts a new part
// file whenever the part tracker asks for one (in original frames at the next
// key picture), names the parts from the channel's base name (then _1, _2,
// ...), gives each closed part the watermark trailer when asked, and lists
// every part it opened or tried to open. What the two exports do differently
// is said by ExportOutputOptions. One writer thread feeds it at a time; the
// owner's thread begins and ends channels around it. parts() and
// SetWatermark may be called from any thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "export/asf_writer.h"
#include "export/avi_recompress_writer.h"
#include "export/avi_writer.h"
#include "export/export_part_tracker.h"
#include "export/exported_part.h"
#include "export/sound_decode_ahead.h"
#include "media/media_decoder.h"
#include "media/sound_to_pcm.h"
#include "media/watermark_writer.h"

// The formats; the numbers are the disk-copy export's format list entries.
enum class ExportFormat { kMsVideo1 = 0, kOriginal = 1, kAsf = 2 };

// How a record's sound is coded, whichever export read it. kNone: a coding
// no part can hold (a part that would declare it does not open).
enum class SoundCoding { kNone, kPcm, kMuLaw, kAac, kG726 };

// The sound format a part declares: what is written into it.
struct PartSound {
    int bits = 16;
    int channels = 1;
    int rate = 8000;
    bool mu_law = false;
};

struct ExportOutputOptions {
    // The quality an original-frames part's video header gives; 0: the
    // channel's quality setting. The disk copy's export writes a fixed 100.
    int original_quality = 0;
    // Whether the ASF format is there at all (only the disk copy's export has it).
    bool offers_asf = false;
    // AAC: a part declares the rate and channels of the payload's ADTS header
    // (the disk copy's export) or those the record gives (the recorder's,
    // which declares AAC and G.726 just as 16-bit PCM of the stream's format).
    bool aac_format_from_adts = false;
    // The conversion of AAC and G.726 to PCM.
    SoundToPcmOptions sound;
    // Original frames open the AAC decoder with the fixed rate figure.
    bool original_aac_rate_fixed = false;
    // Bytes a pixel of the picture buffer is given.
    int picture_bytes_per_pixel = 3;
    // Waits before the one retry of a video decoder that failed to open; none: no retry.
    std::function<void()> before_decoder_retry;
    // Told each part's file name (without folder) as the part is about to open.
    std::function<void(const std::string& file_name)> part_opening;
};

// One record as an export feeds it. The data is only read during Feed.
struct ExportRecord {
    bool video = false;
    const uint8_t* data = nullptr;
    size_t length = 0;
    // The export's own code of the coding; the part tracker compares it.
    int codec = 0;
    // Pictures.
    int decoder = 0;  // 0 MJPEG, 1 MPEG-4, 2 H.264
    int width = 0;
    int height = 0;
    bool key = false;
    // Milliseconds, as the writers place the picture; the tracker compares its
    // low word and carries stamp_high (the disk copy: the stamp's own high
    // word; the recorder's 32-bit clock: 0).
    int64_t stamp = 0;
    int32_t stamp_high = 0;
    // The on-screen text burnt into re-encoded pictures; null: none.
    const std::string* osd_first = nullptr;
    const std::string* osd_second = nullptr;
    // Sound, as recorded.
    SoundCoding coding = SoundCoding::kNone;
    int bits = 0;
    int rate = 0;
    int channels = 0;
    // AAC and G.726: its number in the SoundDecodeAhead given to the output; -1: decoded here.
    int64_t sound_number = -1;
};

class ExportOutput {
public:
    ExportOutput() = default;
    ~ExportOutput();
    ExportOutput(const ExportOutput&) = delete;
    ExportOutput& operator=(const ExportOutput&) = delete;

    void SetOptions(ExportOutputOptions options) { options_ = std::move(options); }
    // Where the records that carry a sound number are decoded; it must
    // outlive the channels. Null: all sound is decoded on the feeding thread.
    void SetSoundDecodeAhead(SoundDecodeAhead* ahead) { ahead_ = ahead; }
    // The conversion options of AAC and G.726 in the running channel's format.
    SoundToPcmOptions SoundOptions() const;

    // Start of an export: no parts yet.
    void BeginExport();
    // Start of a channel: its parts are named from base_name in folder.
    void BeginChannel(const std::string& folder, const std::string& base_name, ExportFormat format = ExportFormat::kOriginal,
                      int quality = 80);
    // The next part's path; extension without its dot.
    std::string NextPartPath(const char* extension);
    // After the writer closed the part at path: a whole part gets the trailer
    // when watermark is on, and is listed. Whether the file is whole.
    bool FinishPart(const std::string& path, bool closed_whole, bool watermark, int64_t frames);
    void AddPart(const std::string& path, int64_t frames, bool whole);
    // Takes a part that was removed from the disk off the list.
    void ForgetPart(const std::string& path);
    // Every part the export opened or tried to open, in order.
    std::vector<ExportedPart> parts() const;

    // Read when each part closes, as the check box stands at that moment; from any thread.
    void SetWatermark(bool on) { watermark_.store(on); }

    // The written sound format of a record (AAC and G.726 become 16-bit PCM).
    static PartSound WrittenSound(SoundCoding coding, int bits, int channels, int rate, const uint8_t* data,
                                  size_t length, bool from_adts);

    // Opens the channel's first part with the first records' formats.
    void OpenFirstPart(int codec, int decoder, int width, int height, SoundCoding coding, const PartSound& sound);
    // Writes one record: tracks it, changes parts where the tracker says, and
    // in original frames drops the pictures up to the key picture a new part
    // starts with (the running part takes the sound of its own format meanwhile).
    void Feed(const ExportRecord& record);
    // The range has ended: sound of a new format that waited for a key
    // picture gets the part it declares.
    void EndOfRange();
    // Closes the running part (with its trailer) and frees the decoders.
    void EndChannel();

    // A part could not be opened, written or closed whole; nothing more goes in.
    bool failed() const;
    // Whether the drive's free space is due to be asked: after the first
    // record and then whenever another kSpaceCheckBytes went into the part.
    bool SpaceCheckDue();
    // The part's clock: recorded seconds of the channel so far (whole seconds a part).
    int64_t elapsed_seconds() const { return accumulated_seconds_ + (tracker_.current_stamp - tracker_.start_stamp) / 1000; }
    bool part_open() const { return open_; }
    // The picture format the running part has, or the next opens with.
    int video_codec() const { return next_codec_; }
    int width() const { return next_width_; }
    int height() const { return next_height_; }

    const std::string& folder() const { return folder_; }
    const std::string& base_name() const { return base_name_; }
    const std::string& current_file_name() const { return current_file_name_; }
    std::string current_path() const { return folder_ + "/" + current_file_name_; }
    int part_counter() const { return part_counter_; }

    static constexpr int kFrameRate = 30;
    // Sound kept for the part a key picture opens; beyond it the rest is dropped.
    static constexpr size_t kMaxHeldSoundBytes = 32 << 20;
    static constexpr size_t kMuLawScratchBytes = 32768;
    static constexpr uint64_t kSpaceCheckBytes = 1 << 20;

private:
    struct HeldSound {
        ExportRecord record;
        std::vector<uint8_t> data;
    };

    void Track(const ExportRecord& record);
    bool DeferPartChange(const ExportRecord& record) const;
    void ChangePart(const ExportRecord& record);
    void KeepSoundUntilKey(const ExportRecord& record);
    // Closes the running part and opens the next at record (in original
    // frames a key picture; null at the range's end), writing the sound kept for it first.
    void FinishPartChange(const ExportRecord* record);
    void OpenPart();
    bool OpenWriter(const std::string& path);
    void ClosePart();
    bool SoundFits(const ExportRecord& record) const;
    PartSound Written(const ExportRecord& record) const;
    void WriteRecord(const ExportRecord& record);
    void WritePicture(const ExportRecord& record);
    void WriteSound(const ExportRecord& record);
    void WriteSoundBytes(const uint8_t* data, size_t length);
    // AAC or G.726 to PCM, ahead or here; false when nothing came out. *rate
    // and *channels: the decoder's format after it.
    bool DecodeSound(const ExportRecord& record, const uint8_t** pcm, size_t* bytes, int* rate, int* channels);
    void ReleaseSoundDecoder();
    void AllocatePicture();

    ExportOutputOptions options_;
    std::string folder_;
    std::string base_name_;
    int part_counter_ = 0;
    std::string current_file_name_;
    mutable std::mutex parts_mutex_;
    std::vector<ExportedPart> parts_;
    std::atomic<bool> watermark_{false};

    ExportFormat format_ = ExportFormat::kOriginal;
    int quality_ = 80;
    AviWriter avi_writer_;
    AviRecompressWriter recompress_writer_;
    AsfWriter asf_writer_;
    bool open_ = false;
    bool failed_ = false;
    int64_t part_frames_ = 0;
    WatermarkWriter watermark_state_;

    MediaDecoder video_decoder_;
    MediaDecoder audio_decoder_;
    int audio_state_ = 0;
    // Where the sound of numbered records is decoded: ahead while the
    // decoder ahead follows the sounds as this decoder would take them, from
    // a release on (kReleased); else here until the next release.
    enum class SoundDecoding { kReleased, kAhead, kHere };
    SoundDecodeAhead* ahead_ = nullptr;
    SoundDecoding sound_decoding_ = SoundDecoding::kReleased;
    SoundDecodeAhead::Decoded ahead_sound_;
    std::vector<uint8_t> picture_;
    std::vector<uint8_t> sound_scratch_;
    std::vector<uint8_t> mu_law_scratch_;

    ExportPartTracker tracker_;
    int64_t accumulated_seconds_ = 0;
    // The formats the next part opens with: the last ones the records showed.
    int next_codec_ = 0;
    int next_decoder_ = 0;
    int next_width_ = 0;
    int next_height_ = 0;
    SoundCoding next_coding_ = SoundCoding::kNone;
    PartSound next_sound_;
    // What the open part declares.
    PartSound declared_;
    // Whether the open part has had its first sound, which may still redeclare its format.
    bool part_sound_written_ = false;

    // Original frames: a part change waits for a key picture.
    bool awaiting_key_ = false;
    bool change_video_ = false;
    bool change_audio_ = false;
    std::vector<HeldSound> held_sound_;
    size_t held_sound_bytes_ = 0;
    // Held sound was cut at its bound: the sounds decoded after it skip some.
    bool held_sound_cut_ = false;

    bool space_checked_ = false;
    uint64_t last_space_check_ = 0;
};
