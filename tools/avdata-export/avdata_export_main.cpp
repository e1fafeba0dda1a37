// avdata-export --data FOLDER --date YYYY-MM-DD --from HH:MM:SS --to HH:MM:SS --channels 1,2,3,4
//               --format original|msvideo1|asf [--quality N] [--watermark] [--osd] --out DIR
//               [--user NAME --password WORD]
// avdata-export --recorder HOST:PORT --user U --password P --date ... --from ... --to ...
//               --channels ... --format ... [--quality N] [--watermark] [--osd] --out DIR
// Exports a range with the engines of the export dialogs and prints one line per
// file written whole: its path, a tab, the recorded pictures in it. FOLDER may
// be on a network share; --user and --password log in to it first. Exit 0 when
// all went well, 1 when anything failed (told on stderr), 2 on wrong use.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "export/local_export.h"
#include "export/remote_export.h"
#include "platform/cancellable_wait.h"
#include "platform/data_file.h"
#include "platform/network_share.h"
#include "sources/record_selection_engine.h"
#include "tools/common/tool_args.h"

namespace {

constexpr const char* kUsage =
    "usage: avdata-export --data FOLDER --date YYYY-MM-DD --from HH:MM:SS --to HH:MM:SS\n"
    "                     --channels 1,2,3,4 --format original|msvideo1|asf [--quality N]\n"
    "                     [--watermark] [--osd] --out DIR [--user NAME --password WORD]\n"
    "         (FOLDER may be a share path; --user and --password log in to it)\n"
    "       avdata-export --recorder HOST:PORT --user U --password P --date ... --from ...\n"
    "                     --to ... --channels ... --format ... [--quality N] [--watermark] [--osd] --out DIR\n";

// The formats the tool offers. Another format is one more row: its name, the
// disk-copy export's format number, and whether the recorder export has it.
struct FormatChoice {
    const char* name;
    int local_format;
    bool from_recorder;
    bool original;  // the recorder export's original-frames choice
};
constexpr FormatChoice kFormats[] = {
    {"original", LocalExport::kFormatOriginal, true, true},
    {"msvideo1", LocalExport::kFormatMsVideo1, true, false},
    {"asf", LocalExport::kFormatAsf, false, false},
};

// The dialogs' default quality entry ("Good").
constexpr int kDefaultQuality = 80;
// A recorder that sends nothing for this long has stopped answering.
constexpr auto kRecorderSilence = std::chrono::seconds(20);
constexpr int kRecorderConnectTimeoutMs = 10000;

int WrongUse(const std::string& why) {
    std::fprintf(stderr, "avdata-export: %s\n%s", why.c_str(), kUsage);
    return 2;
}

std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// The progress dialog stand-in: the channel ends when the engine ends the dialog.
class LocalSink : public LocalExportProgressSink {
public:
    void SetProgress(int) override {}
    void SetCaption(const std::string&) override {}
    void EndDialog() override {
        wait_.Update([this] { ended_ = true; });
    }
    void Wait() {
        wait_.Wait([this] { return ended_; });
    }

private:
    platform::CancellableWait wait_;
    bool ended_ = false;  // under wait_'s lock
};

class RemoteSink : public RemoteExportProgressSink {
public:
    void ShowFileName(const std::string&) override { Touch(); }
    void SetProgress(int, int) override { Touch(); }
    void Finish() override {
        wait_.Update([this] { finished_ = true; });
    }
    void WriterEnded() override {
        wait_.Update([this] { writer_ended_ = true; });
    }
    // True when the channel finished; false when the writer gave up or the
    // recorder fell silent for too long.
    bool Wait() {
        auto silent_at = wait_.Update([this] {
            last_news_ = std::chrono::steady_clock::now();
            return last_news_ + kRecorderSilence;
        });
        for (;;) {
            bool ended = false;
            bool finished = false;
            auto next = silent_at;
            // Ends with the channel, or at news that moves the silence on.
            wait_.WaitUntil(silent_at, [&] {
                ended = finished_ || writer_ended_;
                finished = finished_;
                next = last_news_ + kRecorderSilence;
                return ended || next != silent_at;
            });
            if (ended) return finished;
            if (next == silent_at) return false;
            silent_at = next;
        }
    }

private:
    void Touch() {
        wait_.Update([this] { last_news_ = std::chrono::steady_clock::now(); });
    }
    // Its lock guards the three below.
    platform::CancellableWait wait_;
    bool finished_ = false;
    bool writer_ended_ = false;
    std::chrono::steady_clock::time_point last_news_;
};

struct Request {
    tools::ToolDate date;
    int from = 0, to = 0;
    int channel_mask = 0;
    const FormatChoice* format = nullptr;
    int quality = kDefaultQuality;
    bool watermark = false;
    bool osd = false;
    std::string out;
};

// Prints the whole parts and tells the rest; true when every part was whole.
bool Report(const std::vector<ExportedPart>& parts) {
    bool all_whole = true;
    for (const ExportedPart& part : parts) {
        if (part.whole) {
            std::printf("%s\t%lld\n", part.path.c_str(), static_cast<long long>(part.video_frames));
        } else {
            std::fprintf(stderr, "avdata-export: %s could not be written whole\n", part.path.c_str());
            all_whole = false;
        }
    }
    std::fflush(stdout);
    return all_whole;
}

int ExportFromDiskCopy(const Request& r, const std::string& data) {
    RecordSource source;
    source.path = data;
    source.year = r.date.year;
    source.month = r.date.month;
    source.day = r.date.day;
    LocalExport engine;
    engine.Configure(source, r.from, r.to, r.out);
    engine.SetWatermark(r.watermark);
    engine.BeginExport();
    for (int c = 0; c < 4; ++c) {
        if (!(r.channel_mask & (1 << c))) continue;
        LocalSink sink;
        engine.BeginChannel(c, r.format->local_format, r.quality, r.osd, LocalNow(), &sink);
        sink.Wait();
        engine.EndChannel(1);
        if (!engine.space_ok() || engine.write_failed() || engine.read_failed()) break;
    }
    bool ok = Report(engine.parts());
    for (const std::string& path : engine.unreadable()) {
        std::fprintf(stderr, "avdata-export: cannot read %s; the export stopped there\n", path.c_str());
        ok = false;
    }
    if (!engine.space_ok()) {
        std::fprintf(stderr, "avdata-export: less than 50 MB free in %s; the export stopped\n", r.out.c_str());
        ok = false;
    }
    if (engine.write_failed()) ok = false;
    return ok ? 0 : 1;
}

int ExportFromRecorder(const Request& r, const std::string& host, int port, const std::string& user,
                       const std::string& password) {
    RecordSelectionEngine login;
    login.server().SetServerName(host);
    login.server().SetIp(host);
    login.server().SetPort(std::to_string(port));
    login.server().SetUser(user);
    login.server().SetPassword(password);
    const LoginOutcome outcome = login.LoginWorker(r.date.year, r.date.month);
    if (outcome.result != 1) {
        login.KillKeepAliveTimer();
        std::fprintf(stderr, "avdata-export: %s\n", outcome.message.c_str());
        return 1;
    }
    login.ObtainSessionId();
    if (login.SessionId() < 0) {
        login.KillKeepAliveTimer();
        std::fprintf(stderr, "avdata-export: the recorder gives no playback session (another user may hold it)\n");
        return 1;
    }

    RemoteExportSettings settings;
    settings.host = host;
    settings.user = user;
    settings.password = password;
    settings.port = port;
    settings.session_id = login.SessionId();
    settings.year = r.date.year;
    settings.month = r.date.month;
    settings.day = r.date.day;
    settings.cue_in = r.from;
    settings.cue_out = r.to;
    settings.output_folder = r.out;
    settings.original_format = r.format->original;
    settings.quality = r.quality;
    settings.osd = r.osd;
    RemoteExport engine;
    RemoteExportTimings timings;
    timings.connect_timeout_ms = kRecorderConnectTimeoutMs;
    engine.SetTimings(timings);
    engine.Configure(settings);
    engine.SetWatermark(r.watermark);
    engine.BeginExport();
    bool answered = true;
    for (int c = 0; c < 4; ++c) {
        if (!(r.channel_mask & (1 << c))) continue;
        RemoteSink sink;
        engine.BeginChannel(c, LocalNow(), &sink);
        answered = sink.Wait();
        engine.EndChannel();
        if (!answered || !engine.space_ok() || engine.write_failed()) break;
    }
    login.KillKeepAliveTimer();
    bool ok = Report(engine.parts());
    if (!answered) {
        std::fprintf(stderr, "avdata-export: the recorder stopped answering\n");
        ok = false;
    }
    if (!engine.space_ok()) {
        std::fprintf(stderr, "avdata-export: less than 50 MB free in %s; the export stopped\n", r.out.c_str());
        ok = false;
    }
    if (engine.write_failed()) ok = false;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Under a file-size limit a write fails with an error instead of ending the process.
    signal(SIGXFSZ, SIG_IGN);
    av_log_set_level(AV_LOG_QUIET);
    tools::ToolArgs args({"--data", "--recorder", "--user", "--password", "--date", "--from", "--to", "--channels",
                          "--format", "--quality", "--out"},
                         {"--watermark", "--osd"});
    std::string error;
    if (argc < 2) return WrongUse("no options");
    if (!args.Parse(argc, argv, &error)) return WrongUse(error);
    const bool local = args.Has("--data");
    if (local == args.Has("--recorder")) return WrongUse("give either --data or --recorder");
    for (const char* needed : {"--date", "--from", "--to", "--channels", "--format", "--out"})
        if (!args.Has(needed)) return WrongUse(std::string(needed) + " is missing");

    Request r;
    if (!tools::ParseToolDate(args.Get("--date"), &r.date)) return WrongUse("--date must be a day as YYYY-MM-DD");
    if (!tools::ParseToolClock(args.Get("--from"), &r.from)) return WrongUse("--from must be HH:MM:SS");
    if (!tools::ParseToolClock(args.Get("--to"), &r.to)) return WrongUse("--to must be HH:MM:SS");
    if (r.to < r.from) return WrongUse("--to lies before --from");
    if (!tools::ParseToolChannels(args.Get("--channels"), &r.channel_mask))
        return WrongUse("--channels must list channels 1-4, each once, separated by commas");
    for (const FormatChoice& f : kFormats)
        if (args.Get("--format") == f.name) r.format = &f;
    if (!r.format) return WrongUse("unknown --format " + args.Get("--format"));
    if (!local && !r.format->from_recorder) return WrongUse("--format " + args.Get("--format") + " needs --data");
    if (args.Has("--quality") && !tools::ParseToolInt(args.Get("--quality"), 1, 100, &r.quality))
        return WrongUse("--quality must be a number from 1 to 100");
    r.watermark = args.Has("--watermark");
    r.osd = args.Has("--osd");
    r.out = args.Get("--out");
    while (r.out.size() > 1 && r.out.back() == '/') r.out.pop_back();
    if (!platform::IsFolder(r.out)) {
        std::fprintf(stderr, "avdata-export: %s is not a folder\n", r.out.c_str());
        return 1;
    }

    if (local) {
        const std::string& data = args.Get("--data");
        if (args.Has("--password") && !args.Has("--user")) return WrongUse("--password goes with --user");
        if (args.Has("--user")) {
            if (!platform::IsSharePath(data)) return WrongUse("--user and --password go with a share path or --recorder");
            const int code = platform::ConnectShare(data, args.Get("--user"), args.Get("--password"));
            if (code != platform::kShareConnected) {
                std::fprintf(stderr, "avdata-export: cannot log in to %s (error %d)\n", data.c_str(), code);
                return 1;
            }
        }
        if (!platform::IsFolder(data)) {
            std::fprintf(stderr, "avdata-export: %s is not a folder\n", data.c_str());
            return 1;
        }
        return ExportFromDiskCopy(r, data);
    }
    if (args.Has("--user") == false) return WrongUse("--recorder needs --user");
    std::string host;
    int port = 0;
    if (!tools::ParseHostPort(args.Get("--recorder"), &host, &port)) return WrongUse("--recorder must be HOST:PORT");
    return ExportFromRecorder(r, host, port, args.Get("--user"), args.Get("--password"));
}
