#include "export/export_output.h"

#include <algorithm>

#include "export/export_osd.h"
#include "media/mu_law_audio.h"

namespace {

int32_t LowWord(int64_t stamp) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(stamp))); }

constexpr int kDecoderIds[] = {kCodecIdMjpeg, kCodecIdMpeg4, kCodecIdH264};

bool ValidDecoder(int decoder) { return decoder >= 0 && decoder <= 2; }

}  // namespace

ExportOutput::~ExportOutput() {
    avi_writer_.Close();
    recompress_writer_.Reset();
    asf_writer_.Close();
}

void ExportOutput::BeginExport() {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    parts_.clear();
}

void ExportOutput::BeginChannel(const std::string& folder, const std::string& base_name, ExportFormat format,
                                int quality) {
    folder_ = folder;
    base_name_ = base_name;
    part_counter_ = 0;
    current_file_name_.clear();
    format_ = format;
    quality_ = quality;
    open_ = false;
    failed_ = false;
    part_frames_ = 0;
    tracker_.Reset();
    accumulated_seconds_ = 0;
    awaiting_key_ = change_video_ = change_audio_ = false;
    held_sound_.clear();
    held_sound_bytes_ = 0;
    space_checked_ = false;
    last_space_check_ = 0;
}

std::string ExportOutput::NextPartPath(const char* extension) {
    if (part_counter_ <= 0)
        current_file_name_ = base_name_ + "." + extension;
    else
        current_file_name_ = base_name_ + "_" + std::to_string(part_counter_) + "." + extension;
    ++part_counter_;
    return current_path();
}

bool ExportOutput::FinishPart(const std::string& path, bool closed_whole, bool watermark, int64_t frames) {
    bool whole = closed_whole;
    // A cut file must not be vouched for by the trailer.
    if (whole && watermark) whole = AppendWatermarkTrailer(path);
    AddPart(path, frames, whole);
    return whole;
}

void ExportOutput::AddPart(const std::string& path, int64_t frames, bool whole) {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    parts_.push_back({path, frames, whole});
}

void ExportOutput::ForgetPart(const std::string& path) {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    std::erase_if(parts_, [&path](const ExportedPart& part) { return part.path == path; });
}

std::vector<ExportedPart> ExportOutput::parts() const {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    return parts_;
}

// AAC and G.726 are written as the decoder's 16-bit PCM; an ADTS header, when
// asked, tells the rate and channels the decoder gives.
PartSound ExportOutput::WrittenSound(SoundCoding coding, int bits, int channels, int rate, const uint8_t* p,
                                     size_t length, bool from_adts) {
    PartSound w{bits, channels, rate, coding == SoundCoding::kMuLaw};
    if (coding == SoundCoding::kG726) w.bits = 16;
    if (coding != SoundCoding::kAac) return w;
    w.bits = 16;
    if (!from_adts) return w;
    static constexpr int kAdtsRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                         22050, 16000, 12000, 11025, 8000,  7350};
    if (length >= 4 && p[0] == 0xFF && (p[1] & 0xF6) == 0xF0) {
        const int index = (p[2] >> 2) & 15;
        if (index < 13) w.rate = kAdtsRates[index];
        const int config = ((p[2] & 1) << 2) | (p[3] >> 6);
        if (config >= 1 && config <= 6) w.channels = config;
        if (config == 7) w.channels = 8;
    }
    return w;
}

PartSound ExportOutput::Written(const ExportRecord& r) const {
    return WrittenSound(r.coding, r.bits, r.channels, r.rate, r.data, r.length, options_.aac_format_from_adts);
}

void ExportOutput::OpenFirstPart(int codec, int decoder, int width, int height, SoundCoding coding,
                                 const PartSound& sound) {
    next_codec_ = codec;
    next_decoder_ = decoder;
    next_width_ = width;
    next_height_ = height;
    next_coding_ = coding;
    next_sound_ = sound;
    OpenPart();
}

void ExportOutput::OpenPart() {
    if (ValidDecoder(next_decoder_)) {
        const std::string path = NextPartPath(format_ == ExportFormat::kAsf ? "asf" : "avi");
        if (options_.part_opening) options_.part_opening(current_file_name_);
        if (!OpenWriter(path)) {
            // The part's records would be lost without a word.
            AddPart(path, 0, false);
            failed_ = true;
        }
    }
    AllocatePicture();
}

bool ExportOutput::OpenWriter(const std::string& path) {
    if (open_) return false;
    watermark_state_ = WatermarkWriter{};
    if (next_coding_ == SoundCoding::kNone) return false;
    const PartSound& s = next_sound_;
    const int mu_law = next_coding_ == SoundCoding::kMuLaw ? 1 : 0;
    declared_ = s;
    declared_.mu_law = mu_law != 0;
    part_sound_written_ = false;
    const int video_code = next_decoder_ + 1;
    bool ok = false;
    if (format_ == ExportFormat::kOriginal) {
        const int quality = options_.original_quality > 0 ? options_.original_quality : quality_;
        ok = avi_writer_.Open(path, next_width_, next_height_, quality, kFrameRate, s.bits, s.channels, s.rate, mu_law,
                              video_code);
    } else if (format_ == ExportFormat::kMsVideo1) {
        ok = recompress_writer_.Open(path, quality_, kFrameRate, s.bits, s.channels, s.rate, mu_law, next_width_,
                                     next_height_);
    } else if (options_.offers_asf) {
        // G.711 reaches the ASF writer expanded to 16-bit PCM: twice its bits.
        ok = asf_writer_.Open(path, next_width_, next_height_, s.rate, s.channels, mu_law ? 2 * s.bits : s.bits) != 0;
    }
    open_ = ok;
    part_frames_ = 0;
    last_space_check_ = 0;
    return ok;
}

void ExportOutput::AllocatePicture() {
    picture_.clear();
    // Only the decoding formats draw into it; a size from a damaged record sizes nothing.
    if (format_ == ExportFormat::kOriginal || next_width_ <= 0 || next_height_ <= 0 ||
        next_width_ > kMaxPictureSide || next_height_ > kMaxPictureSide)
        return;
    picture_.assign(static_cast<size_t>(next_width_) * static_cast<size_t>(next_height_) *
                        static_cast<size_t>(options_.picture_bytes_per_pixel),
                    0);
}

void ExportOutput::ClosePart() {
    if (!open_) return;
    bool whole = true;
    if (format_ == ExportFormat::kOriginal)
        whole = avi_writer_.Close();
    else if (format_ == ExportFormat::kMsVideo1)
        whole = recompress_writer_.Close();
    else
        whole = asf_writer_.Close();
    if (!FinishPart(current_path(), whole, watermark_.load(), part_frames_)) failed_ = true;
    open_ = false;
}

bool ExportOutput::failed() const {
    if (failed_) return true;
    if (!open_) return false;
    if (format_ == ExportFormat::kOriginal) return avi_writer_.WriteFailed();
    if (format_ == ExportFormat::kMsVideo1) return recompress_writer_.WriteFailed();
    return asf_writer_.WriteFailed();
}

bool ExportOutput::SpaceCheckDue() {
    uint64_t written = 0;
    if (format_ == ExportFormat::kOriginal)
        written = avi_writer_.file_bytes();
    else if (format_ == ExportFormat::kMsVideo1)
        written = recompress_writer_.file_bytes();
    else
        return true;
    if (written >= last_space_check_ && written - last_space_check_ < kSpaceCheckBytes && space_checked_) return false;
    space_checked_ = true;
    last_space_check_ = written;
    return true;
}

void ExportOutput::Track(const ExportRecord& r) {
    if (r.video) {
        tracker_.CheckVideoFormat(r.codec, r.width, r.height);
        next_codec_ = r.codec;
        next_decoder_ = r.decoder;
        next_width_ = r.width;
        next_height_ = r.height;
        tracker_.CheckTime(LowWord(r.stamp), r.stamp_high);
    } else {
        tracker_.CheckAudioFormat(r.codec, r.bits, r.rate, r.channels);
        next_coding_ = r.coding;
        next_sound_ = Written(r);
    }
}

// The span is the only reason to end the part: original frames go on into it
// up to the next key picture, so the next part can be decoded from its start.
bool ExportOutput::DeferPartChange(const ExportRecord& r) const {
    return format_ == ExportFormat::kOriginal && tracker_.span_end && !tracker_.time_jump && !tracker_.video_change &&
           !tracker_.audio_change && !(r.video && r.key);
}

void ExportOutput::Feed(const ExportRecord& r) {
    if (failed()) return;
    // Nothing before the first key picture could be decoded.
    if (format_ == ExportFormat::kOriginal && part_counter_ == 1 && part_frames_ == 0 && !(r.video && r.key)) return;
    if (awaiting_key_) {
        // An original-frames part begins with a key picture: pictures before
        // it could not be decoded by any player. Sound is kept.
        if (!(r.video && r.key)) {
            if (!r.video) KeepSoundUntilKey(r);
            return;
        }
        FinishPartChange(&r);
    } else {
        Track(r);
        if (tracker_.AnyFlag() && !DeferPartChange(r)) ChangePart(r);
        if (awaiting_key_) {
            if (!r.video) KeepSoundUntilKey(r);
            return;
        }
    }
    if (failed()) return;
    WriteRecord(r);
}

void ExportOutput::ChangePart(const ExportRecord& r) {
    change_video_ = tracker_.video_change != 0;
    change_audio_ = tracker_.audio_change != 0;
    if (format_ == ExportFormat::kOriginal && !(r.video && r.key)) {
        // The running part stays open for the sound of its own format until
        // the next key picture starts the new part.
        awaiting_key_ = true;
        held_sound_.clear();
        held_sound_bytes_ = 0;
        held_sound_cut_ = false;
        return;
    }
    FinishPartChange(&r);
}

void ExportOutput::KeepSoundUntilKey(const ExportRecord& r) {
    if (!change_audio_ && SoundFits(r)) {
        WriteSound(r);
        return;
    }
    // Sound of another format waits for the part that declares it; from the
    // first such record on all of it waits, so its order is kept.
    change_audio_ = true;
    if (held_sound_bytes_ + r.length > kMaxHeldSoundBytes) {
        held_sound_cut_ = true;
        return;
    }
    held_sound_bytes_ += r.length;
    HeldSound held{r, std::vector<uint8_t>(r.data, r.data + r.length)};
    held.record.osd_first = held.record.osd_second = nullptr;
    held_sound_.push_back(std::move(held));
}

bool ExportOutput::SoundFits(const ExportRecord& r) const {
    if (!open_) return false;
    const PartSound w = Written(r);
    return w.bits == declared_.bits && w.channels == declared_.channels && w.rate == declared_.rate &&
           w.mu_law == declared_.mu_law;
}

void ExportOutput::FinishPartChange(const ExportRecord* r) {
    awaiting_key_ = false;
    ClosePart();
    if (change_video_) video_decoder_.Close();
    if (change_audio_) {
        ReleaseSoundDecoder();
        // The held sound to be decoded next lacks what was cut: only this
        // thread's decoder takes it in that order.
        if (held_sound_cut_) sound_decoding_ = SoundDecoding::kHere;
    }
    change_video_ = change_audio_ = false;
    picture_.clear();
    accumulated_seconds_ += (tracker_.current_stamp - tracker_.start_stamp) / 1000;
    tracker_.Reset();
    // A part that did not close whole ends the channel: nothing more is
    // written, and no later part is listed as if the export went on.
    if (failed_) {
        held_sound_.clear();
        held_sound_bytes_ = 0;
        held_sound_cut_ = false;
        return;
    }
    if (r && format_ == ExportFormat::kOriginal) {
        // The key picture opens the part; the sound that waited for it comes first.
        Track(*r);
    } else if (r && r->video) {
        // Only picture stamps run the part's clock; a sound record's stamp
        // would make the next picture look like a jump.
        tracker_.CheckTime(LowWord(r->stamp), r->stamp_high);
    }
    // The next picture is judged against the picture format the part opens with.
    if (tracker_.video_codec == -1) tracker_.CheckVideoFormat(next_codec_, next_width_, next_height_);
    for (HeldSound& held : held_sound_) {
        held.record.data = held.data.data();
        if (held.record.video) continue;
        next_coding_ = held.record.coding;
        next_sound_ = Written(held.record);
        break;
    }
    OpenPart();
    for (HeldSound& held : held_sound_) {
        held.record.data = held.data.data();
        tracker_.CheckAudioFormat(held.record.codec, held.record.bits, held.record.rate, held.record.channels);
        WriteSound(held.record);
    }
    held_sound_.clear();
    held_sound_bytes_ = 0;
    held_sound_cut_ = false;
}

void ExportOutput::EndOfRange() {
    if (!awaiting_key_ || failed()) return;
    // Sound of a new format that still waited for its key picture gets its
    // part, without pictures; the running part holds what fitted it.
    if (!held_sound_.empty()) FinishPartChange(nullptr);
}

void ExportOutput::EndChannel() {
    ClosePart();
    video_decoder_.Close();
    ReleaseSoundDecoder();
    ahead_sound_ = SoundDecodeAhead::Decoded{};
    awaiting_key_ = change_video_ = change_audio_ = false;
    held_sound_.clear();
    held_sound_.shrink_to_fit();
    held_sound_bytes_ = 0;
    held_sound_cut_ = false;
    picture_.clear();
    picture_.shrink_to_fit();
    mu_law_scratch_.clear();
    mu_law_scratch_.shrink_to_fit();
}

void ExportOutput::WriteRecord(const ExportRecord& r) {
    if (r.video)
        WritePicture(r);
    else
        WriteSound(r);
}

void ExportOutput::WritePicture(const ExportRecord& r) {
    if (format_ == ExportFormat::kOriginal) {
        if (avi_writer_.IsOpen() && avi_writer_.WriteVideoFrame(r.data, static_cast<int>(r.length), r.stamp))
            ++part_frames_;
        return;
    }
    if (picture_.empty() || !ValidDecoder(r.decoder)) return;
    if (!video_decoder_.IsOpen() && !video_decoder_.OpenVideo(kDecoderIds[r.decoder], r.width, r.height)) {
        if (!options_.before_decoder_retry) return;
        options_.before_decoder_retry();
        if (!video_decoder_.OpenVideo(kDecoderIds[r.decoder], r.width, r.height)) return;
    }
    size_t picture_size = 0;
    if (!video_decoder_.DecodeVideo(r.data, r.length, picture_.data(), picture_.size(), &picture_size)) return;
    if (!open_) return;
    const int width = video_decoder_.width();
    const int height = video_decoder_.height();
    uint8_t flip = 1;
    if (r.osd_first && r.osd_second) {
        DrawExportOsd(picture_.data(), width, height, *r.osd_first, *r.osd_second);
        // DrawExportOsd leaves the rows bottom first.
        flip = 0;
    }
    if (format_ == ExportFormat::kMsVideo1) {
        if (recompress_writer_.WriteVideoFrame(picture_.data(), flip, LowWord(r.stamp), width, height)) ++part_frames_;
    } else if (asf_writer_.WriteVideoFrame(picture_.data(), static_cast<int>(picture_size), width, height,
                                           LowWord(r.stamp), flip)) {
        ++part_frames_;
    }
}

void ExportOutput::WriteSound(const ExportRecord& r) {
    if (!part_sound_written_ && open_) {
        // A part opened before its first sound declared a guess: the header
        // is made to declare what is written, while no sound is in it yet.
        part_sound_written_ = true;
        if (!SoundFits(r) && format_ != ExportFormat::kAsf) {
            const PartSound w = Written(r);
            const int mu_law = w.mu_law ? 1 : 0;
            const bool redeclared = format_ == ExportFormat::kOriginal
                                        ? avi_writer_.RedeclareAudio(w.bits, w.channels, w.rate, mu_law)
                                        : recompress_writer_.RedeclareAudio(w.bits, w.channels, w.rate, mu_law);
            if (redeclared) declared_ = w;
        }
    }
    switch (r.coding) {
        case SoundCoding::kAac:
        case SoundCoding::kG726: {
            const uint8_t* pcm = nullptr;
            size_t bytes = 0;
            int rate = 0;
            int channels = 0;
            // Decoded sound goes in only as the part declared it.
            if (DecodeSound(r, &pcm, &bytes, &rate, &channels) && rate == declared_.rate &&
                channels == declared_.channels)
                WriteSoundBytes(pcm, bytes);
            break;
        }
        case SoundCoding::kMuLaw:
            if (format_ == ExportFormat::kAsf) {
                // The scratch buffer holds what one packet of 16 ms pieces ever needs; more is cut.
                mu_law_scratch_.resize(kMuLawScratchBytes);
                const int count = static_cast<int>(std::min(r.length, kMuLawScratchBytes / 2));
                int out_count = 0;
                if (MuLawToPcm16(mu_law_scratch_.data(), count, r.data, &out_count))
                    WriteSoundBytes(mu_law_scratch_.data(), static_cast<size_t>(out_count));
            } else {
                WriteSoundBytes(r.data, r.length);
            }
            break;
        case SoundCoding::kPcm:
            WriteSoundBytes(r.data, r.length);
            break;
        case SoundCoding::kNone:
            break;
    }
}

SoundToPcmOptions ExportOutput::SoundOptions() const {
    SoundToPcmOptions options = options_.sound;
    if (format_ == ExportFormat::kOriginal && options_.original_aac_rate_fixed) options.aac_rate_from_header = false;
    return options;
}

void ExportOutput::ReleaseSoundDecoder() {
    audio_decoder_.Release();
    audio_state_ = 0;
    sound_decoding_ = SoundDecoding::kReleased;
}

bool ExportOutput::DecodeSound(const ExportRecord& r, const uint8_t** pcm, size_t* bytes, int* rate, int* channels) {
    const PcmSource source = r.coding == SoundCoding::kAac ? PcmSource::kAac : PcmSource::kG726;
    // AAC decodes faster than a channel's data is copied: handed to another
    // thread it would only add hand-overs. A decoder's run that starts with
    // it is decoded here.
    if (sound_decoding_ == SoundDecoding::kReleased && source == PcmSource::kAac)
        sound_decoding_ = SoundDecoding::kHere;
    if (ahead_ && r.sound_number >= 0 && sound_decoding_ != SoundDecoding::kHere) {
        const SoundDecodeAhead::Taken taken =
            ahead_->Take(r.sound_number, sound_decoding_ == SoundDecoding::kReleased, &ahead_sound_);
        if (taken == SoundDecodeAhead::Taken::kStopped) return false;
        if (taken == SoundDecodeAhead::Taken::kDecoded) {
            sound_decoding_ = SoundDecoding::kAhead;
            if (!ahead_sound_.ok) return false;
            *pcm = ahead_sound_.pcm.data();
            *bytes = ahead_sound_.pcm.size();
            *rate = ahead_sound_.rate;
            *channels = ahead_sound_.channels;
            return true;
        }
        // Not kept ahead, or not decoded as this decoder would have from its
        // release: decoded here from there on. Between releases this output
        // takes the sounds one after another (held sound cut at its bound
        // goes here from the release on), so that happens only right after
        // a release, where this decoder starts from the same point.
    }
    // The rest of the channel is decoded here: nothing more is kept ahead for it.
    if (ahead_ && r.sound_number >= 0) ahead_->Skip();
    sound_decoding_ = SoundDecoding::kHere;
    if (!ConvertSoundToPcm(&audio_decoder_, &audio_state_, SoundOptions(), source, r.data, r.length, r.rate,
                           r.channels, &sound_scratch_, pcm, bytes))
        return false;
    *rate = audio_decoder_.audio_sample_rate();
    *channels = audio_decoder_.audio_channels();
    return true;
}

void ExportOutput::WriteSoundBytes(const uint8_t* data, size_t length) {
    if (!open_) return;
    // Whole sample frames only: players refuse a chunk that ends in the
    // broken tail of a damaged entry. Mu-law reaches ASF expanded to twice its bits.
    const int bits = format_ == ExportFormat::kAsf && declared_.mu_law ? 2 * declared_.bits : declared_.bits;
    const size_t frame = static_cast<size_t>(std::max(1, bits / 8 * declared_.channels));
    if (length % frame != 0) {
        length -= length % frame;
        if (length == 0) return;
    }
    const int n = static_cast<int>(length);
    if (format_ == ExportFormat::kOriginal)
        avi_writer_.WriteAudio(data, n);
    else if (format_ == ExportFormat::kMsVideo1)
        recompress_writer_.WriteAudio(data, n);
    else
        asf_writer_.WriteAudio(data, n);
}
