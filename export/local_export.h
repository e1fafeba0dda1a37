#pragma once
// The export of a cue range from the disk copy into AVI part files, one
// channel at a time: a reader thread walks the minute files and queues their
// entries, a writer thread writes them through the writer of the chosen
// format and starts a new part whenever the part tracker asks for one, and a
// third thread decodes the AAC and G.726 sound the reader hands it alongside
// the queue, ahead of the writer.
// CAviDialog2 owns one and drives it around its progress dialog's modal run.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/export_output.h"
#include "export/exported_part.h"
#include "export/local_export_record.h"
#include "export/sound_decode_ahead.h"
#include "media/data_folder.h"
#include "media/data_queue.h"
#include "media/media_decoder.h"
#include "media/minute_file.h"
#include "platform/network_share.h"

// The progress dialog as the writer thread sees it. Called on the writer
// thread; an implementation queues the work to its window thread.
class LocalExportProgressSink {
public:
    virtual ~LocalExportProgressSink() = default;
    virtual void SetProgress(int percent) = 0;
    // After each part opens, with the file name without folder.
    virtual void SetCaption(const std::string& file_name) = 0;
    // The dialog ends itself with result 1 at the first tick of an 800 ms timer.
    virtual void EndDialog() = 0;
};


class LocalExport {
public:
    static constexpr int kFormatMsVideo1 = 0;
    static constexpr int kFormatOriginal = 1;
    static constexpr int kFormatAsf = 2;
    static constexpr uint64_t kMinFreeBytes = 52428800;
    // The reader pauses while this many records wait (checked per second and
    // per entry) and goes on once half are taken. Several seconds' worth: the
    // two threads then hand over large batches and seldom wake each other,
    // where a bound of one second's records cost a wake-up each way per second.
    static constexpr size_t kQueuePerSecond = 256;
    static constexpr size_t kQueuePerEntry = 320;
    // One channel-second's data is read at once when it spans at most this
    // much, and not much more than the data itself.
    static constexpr int64_t kSpanReadLimit = 8 << 20;
    static constexpr int64_t kSpanReadSlack = 64 << 10;
    static constexpr int kMinutesPerDay = 1440;

    using FreeBytesFunction = std::function<uint64_t(const std::string& path)>;

    LocalExport();
    ~LocalExport();
    LocalExport(const LocalExport&) = delete;
    LocalExport& operator=(const LocalExport&) = delete;

    // Before the first channel. cue_in and cue_out are seconds of the source's day.
    void Configure(const RecordSource& source, int cue_in, int cue_out, const std::string& output_folder);
    // Tests put a fake in place of the drive's free-space query.
    void SetFreeBytesFunction(FreeBytesFunction function) { free_bytes_ = std::move(function); }
    // Read when each part closes, as the check box stands at that moment.
    void SetWatermark(bool on) { output_.SetWatermark(on); }

    // Start of an export (the OK command): space-ok back to 1, no parts yet.
    void BeginExport();
    // Starts channel c's reader and writer. format 0-2; quality 85, 80 or 77;
    // now gives the base name's time. The sink must outlive EndChannel.
    void BeginChannel(int channel, int format, int quality, bool osd, const std::tm& now,
                      LocalExportProgressSink* sink);
    // After the progress dialog's modal run with its result: stops and joins
    // both threads, closes decoders and the part (with its trailer), empties
    // the queue. A result other than 1 deletes the channel's last part.
    void EndChannel(int result);

    bool space_ok() const { return space_ok_.load() != 0; }
    // A part could not be written whole; the channel stopped there and no
    // further channel is exported.
    bool write_failed() const { return write_failed_.load() != 0; }
    // A minute file of the range that is there (or whose data folder is gone)
    // could not be read: the channel stopped there and no further channel is
    // exported. The parts written stay whole; the range is not.
    bool read_failed() const { return read_failed_.load() != 0; }
    // The minute files that could not be read; read between channel runs.
    std::vector<std::string> unreadable() const;
    // Every part the export opened or tried to open, in order; read between channel runs.
    std::vector<ExportedPart> parts() const;
    bool reader_running() const { return reader_running_.load() != 0; }
    bool writer_running() const { return writer_running_.load() != 0; }
    int progress() const { return progress_.load(); }
    const std::string& output_folder() const { return output_folder_; }
    // Valid between channel runs.
    const std::string& base_name() const { return output_.base_name(); }
    const std::string& current_file_name() const { return output_.current_file_name(); }
    int part_counter() const { return output_.part_counter(); }

    // "CH%.2d_%d%.2d%.2d-%d%.2d%.2d": channel index + 1 and the local time now.
    static std::string MakeBaseName(int channel, const std::tm& now);
    // "CH%d-" with channel index + 1 and the title: one character from the
    // low 16 bits of each of the field's 16 words, up to the first zero.
    static std::string ExportChannelTitle(const uint8_t* title_field, int channel);

private:
    void ExportReaderThread();
    // On the reader: whether a minute file that did not open or read is lost
    // data rather than a gap, and if so the channel's end. listed: the day
    // index lists the minute for the channel.
    bool ReadFailure(const std::string& path, const MinuteFile& file, bool listed);
    void ExportWriterThread();
    // False when the writer should finish (run flag cleared or nothing to write).
    bool WaitForFirstRecords();
    void OpenFirstPart();
    // True when record is a picture whose new format only a damaged entry claims.
    bool IsUnconfirmedChange(const LocalExportRecord& record);
    void ReportProgress();
    void EndProgressDialog();
    // Ends the channel after a write failure.
    void StopOnWriteFailure();
    void DeleteLastPart();

    // Blocks the reader while limit or more records wait; false once it is to stop.
    bool WaitForQueueSpace(size_t limit);
    void WakeThreads();
    // Clears both run flags, ends the reader's share call and every wait on the
    // queue and on the decoding ahead, and joins the three threads.
    void StopThreads();

    FreeBytesFunction free_bytes_;

    RecordSource source_;
    int cue_in_ = 0;
    int cue_out_ = 0;
    std::string output_folder_;
    ExportOutput output_;

    int format_ = kFormatMsVideo1;
    int osd_ = 0;
    int channel_ = 0;

    DataQueue<LocalExportRecord> queue_;
    // The sound of the records in the queue, in the same order; its thread
    // runs from BeginChannel to EndChannel.
    SoundDecodeAhead sound_ahead_;
    // Records the writer is done with, handed back a batch at a time for the
    // reader to fill again: a record and its payload's room are allocated
    // once, not per entry, and not freed on the other thread's heap arena.
    static constexpr size_t kSparePayloadBytes = 256 << 10;
    std::mutex spare_mutex_;
    std::vector<std::unique_ptr<LocalExportRecord>> spare_records_;
    std::thread reader_;
    // Lets EndChannel end the reader's wait on a share at once.
    platform::ShareCallAbort reader_share_calls_;
    std::thread writer_;
    std::atomic<int> reader_running_{0};
    std::atomic<int> writer_running_{0};
    std::atomic<int> space_ok_{1};
    std::atomic<int> write_failed_{0};
    std::atomic<int> read_failed_{0};
    mutable std::mutex unreadable_mutex_;
    std::vector<std::string> unreadable_;
    // Set while the reader waits for room in the queue.
    std::atomic<int> reader_blocked_{0};

    // Written by the reader before it pushes the record they describe.
    std::atomic<int> video_seen_{0};
    std::atomic<int> video_codec_{0};
    std::atomic<int> video_width_{0};
    std::atomic<int> video_height_{0};
    std::atomic<int> audio_seen_{0};
    std::atomic<int> audio_codec_{0};
    std::atomic<int> audio_bits_{0};
    std::atomic<int> audio_channels_{0};
    std::atomic<int> audio_rate_{0};

    // Writer thread only while it runs; the dialog's thread after the join.
    std::vector<uint8_t> probe_picture_;
    int64_t first_time_ = 0;
    int64_t current_time_ = 0;

    LocalExportProgressSink* sink_ = nullptr;
    std::atomic<int> progress_{0};
};
