// avdata-backup --data FOLDER --date YYYY-MM-DD --from HH:MM:SS [--to-date YYYY-MM-DD] --to HH:MM:SS
//               --channels 1,2 --out DIR [--cover] [--user NAME --password WORD]
// Backs up a range of a disk copy, from --date --from to --to-date (else the
// same day) --to, into DIR/avdata with the backup dialog's engine and prints
// one line per file written: its path, a tab, the video frames in it. --cover answers yes to replacing an "avdata" already there.
// FOLDER may be on a network share; --user and --password log in to it first.
// Exit 0 when all went well, 1 when anything failed or nothing was in the
// range (told on stderr), 2 on wrong use.
#include <signal.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "export/backup_files.h"
#include "export/backup_worker.h"
#include "media/minute_file.h"
#include "platform/data_file.h"
#include "platform/network_share.h"
#include "tools/common/tool_args.h"

namespace {

constexpr const char* kUsage =
    "usage: avdata-backup --data FOLDER --date YYYY-MM-DD --from HH:MM:SS [--to-date YYYY-MM-DD] --to HH:MM:SS\n"
    "                     --channels 1,2 --out DIR [--cover] [--user NAME --password WORD]\n"
    "  The range runs from --date --from to --to-date (else the same day) --to,\n"
    "  taken by whole minutes, as the backup dialog takes it. FOLDER may be a share path\n"
    "  (\\\\host\\share\\dir or //host/share/dir); --user and --password log in to it.\n";

int WrongUse(const std::string& why) {
    std::fprintf(stderr, "avdata-backup: %s\n%s", why.c_str(), kUsage);
    return 2;
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "avdata-backup: %s\n", why.c_str());
    return 1;
}

// The progress window stand-in: the copy is over when its close timer would start.
class Sink : public BackupProgressSink {
public:
    void SetBarPosition(int) override {}
    void StartCloseTimer() override {}
};

// Video entries of every channel in a minute file.
int64_t VideoFrames(const std::string& path) {
    MinuteFile file;
    if (!file.OpenPath(path)) return 0;
    int64_t frames = 0;
    ChannelSecondBlock block;
    for (int s = 0; s < diskformat::kSecondsPerMinute; ++s) {
        for (int c = 0; c < diskformat::kChannels; ++c) {
            int64_t position = 0;
            if (!file.Second(s).ChannelPresent(c) || !file.ReadBlock(s, c, &block, &position)) continue;
            for (int i = 0; i < block.UsedCount(); ++i)
                if (block.Entry(i).kind == diskformat::kKindVideo) ++frames;
        }
    }
    return frames;
}

std::string Gigabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f GB", BackupGigabytes(bytes));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    // Under a file-size limit a write fails with an error instead of ending the process.
    signal(SIGXFSZ, SIG_IGN);
    tools::ToolArgs args({"--data", "--date", "--to-date", "--from", "--to", "--channels", "--out", "--user", "--password"},
                         {"--cover"});
    std::string error;
    if (argc < 2) return WrongUse("no options");
    if (!args.Parse(argc, argv, &error)) return WrongUse(error);
    for (const char* needed : {"--data", "--date", "--from", "--to", "--channels", "--out"})
        if (!args.Has(needed)) return WrongUse(std::string(needed) + " is missing");
    tools::ToolDate date, end_date;
    int from = 0, to = 0, mask = 0;
    if (!tools::ParseToolDate(args.Get("--date"), &date)) return WrongUse("--date must be a day as YYYY-MM-DD");
    end_date = date;
    if (args.Has("--to-date") && !tools::ParseToolDate(args.Get("--to-date"), &end_date))
        return WrongUse("--to-date must be a day as YYYY-MM-DD");
    if (!tools::ParseToolClock(args.Get("--from"), &from)) return WrongUse("--from must be HH:MM:SS");
    if (!tools::ParseToolClock(args.Get("--to"), &to)) return WrongUse("--to must be HH:MM:SS");
    if (!tools::ParseToolChannels(args.Get("--channels"), &mask))
        return WrongUse("--channels must list channels 1-4, each once, separated by commas");

    BackupJob job;
    job.channel_mask = mask;
    // Whole minutes, from second 0 of the first to second 59 of the last.
    job.range = {date.year,     date.month,     date.day,     from / 3600, from / 60 % 60, 0,
                 end_date.year, end_date.month, end_date.day, to / 3600,   to / 60 % 60,   59};
    if (DateKey(job.range.EndDate()) < DateKey(job.range.StartDate())) return WrongUse("--to-date lies before --date");
    if (!job.range.Valid()) return WrongUse("--to lies before --from");

    std::string source = args.Get("--data");
    std::string out = args.Get("--out");
    for (std::string* path : {&source, &out})
        while (path->size() > 1 && path->back() == '/') path->pop_back();
    if (args.Has("--password") && !args.Has("--user")) return WrongUse("--password goes with --user");
    if (args.Has("--user")) {
        if (!platform::IsSharePath(source)) return WrongUse("--user and --password go with a share path");
        const int code = platform::ConnectShare(source, args.Get("--user"), args.Get("--password"));
        if (code != platform::kShareConnected)
            return Fail("cannot log in to " + source + " (error " + std::to_string(code) + ")");
    }
    if (!platform::IsFolder(source)) return Fail(source + " is not a folder");
    if (!platform::IsFolder(out)) return Fail(out + " does not exist or is not a folder");

    job.source = source;
    job.destination = out + "/avdata";

    if (BackupPathsOverlap(job.source, job.destination))
        return Fail(job.destination + " is, or lies in or around, the folder backed up");
    struct stat st;
    const bool cover = ::lstat(job.destination.c_str(), &st) == 0;
    if (cover && !args.Has("--cover")) return Fail(job.destination + " exists; give --cover to replace it");

    const uint64_t required = RequiredSpace(job);
    const uint64_t free_bytes = GetBackupFreeBytes(out) + (cover ? FolderTreeBytes(job.destination) : 0);
    if (!(free_bytes > required))
        return Fail("not enough disk space: " + Gigabytes(free_bytes) + " free, " + Gigabytes(required) + " required");
    if (cover && !RemoveOldBackup(job.destination)) return Fail("cannot remove the old " + job.destination);

    BackupWorker worker;
    Sink sink;
    // For the tests of a share lost mid-way: the process stops itself after that many
    // minute files, until it is continued, so the loss lands at a known file.
    if (const char* hold = std::getenv("AVDATA_BACKUP_HOLD_AFTER_FILES")) {
        const int files = std::atoi(hold);
        worker.SetAfterFileHook([files, copied = 0]() mutable {
            if (++copied == files) ::raise(SIGSTOP);
        });
    }
    worker.Start(job, &sink);
    worker.Wait();
    const BackupTally tally = worker.Tally();
    for (const std::string& path : tally.written) {
        const bool minute = path.size() > 3 && path.compare(path.size() - 3, 3, ".db") == 0 &&
                            path.find("/RecordList.db") == std::string::npos;
        std::printf("%s\t%lld\n", path.c_str(), static_cast<long long>(minute ? VideoFrames(path) : 0));
    }
    std::fflush(stdout);
    for (const std::string& path : tally.unreadable) std::fprintf(stderr, "avdata-backup: cannot read %s\n", path.c_str());
    if (!tally.unreadable.empty()) return Fail("the backup in " + job.destination + " is not whole");
    if (tally.failures > 0)
        return Fail(std::to_string(tally.failures) + " files could not be written to " + job.destination);
    // Nothing was written: no success to report.
    if (worker.DataCopied() == 0) return Fail("no backup data in the range");
    return 0;
}
