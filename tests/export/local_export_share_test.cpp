// The disk-copy export reading a share whose server stops mid-way: the lost
// share is told with the file that could not be read, and the parts written
// up to there are whole files.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "export/local_export.h"
#include "platform/network_share.h"
#include "tests/support/samba_server.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tool_run.h"

namespace {

TEST(LocalExportFromShare, ALostShareIsToldAndThePartsWrittenStayWhole) {
    TempFolder tmp;
    const std::string share_root = tmp.Sub("share");
    SmallRecording recording;
    recording.start_second = 14 * 3600;
    recording.seconds = 240;
    recording.fps = 2;
    ASSERT_FALSE(WriteSmallRecording(share_root, recording).empty());
    auto server = std::make_unique<SambaServer>(share_root);
    if (!server->Running()) GTEST_SKIP() << "smbd cannot start here: " << server->error();
    ::setenv(platform::kSharePortVariable, std::to_string(server->port()).c_str(), 1);
    ASSERT_EQ(platform::ConnectShare(server->SharePath(), server->user(), SambaServer::kPassword),
              platform::kShareConnected);

    // The share goes at the export's first tenth; the reader is then at most
    // its queue's bound ahead, far from the range's end.
    class StoppingSink : public LocalExportProgressSink {
    public:
        explicit StoppingSink(SambaServer* server) : server_(server) {}
        void SetProgress(int percent) override {
            if (percent >= 10 && !stopped_) {
                stopped_ = true;
                server_->Stop();
            }
        }
        void SetCaption(const std::string&) override {}
        void EndDialog() override {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
            cv_.notify_all();
        }
        void Wait() {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait(lock, [this] { return ended_; });
        }

    private:
        SambaServer* server_;
        bool stopped_ = false;
        std::mutex mutex_;
        std::condition_variable cv_;
        bool ended_ = false;
    } sink(server.get());

    RecordSource source;
    source.path = server->SharePath("\\avdata");
    source.year = recording.date.year;
    source.month = recording.date.month;
    source.day = recording.date.day;
    LocalExport engine;
    const std::string out = tmp.Sub("out");
    std::filesystem::create_directories(out);
    engine.Configure(source, recording.start_second, recording.start_second + recording.seconds - 1, out);
    engine.BeginExport();
    std::tm now{};
    now.tm_year = 113, now.tm_mon = 4, now.tm_mday = 13, now.tm_hour = 9;
    engine.BeginChannel(0, LocalExport::kFormatOriginal, 80, false, now, &sink);
    sink.Wait();
    engine.EndChannel(1);

    EXPECT_TRUE(engine.read_failed());
    ASSERT_FALSE(engine.unreadable().empty());
    EXPECT_NE(engine.unreadable()[0].find("REC"), std::string::npos) << engine.unreadable()[0];
    const std::vector<ExportedPart> parts = engine.parts();
    ASSERT_FALSE(parts.empty());
    for (const ExportedPart& part : parts) {
        EXPECT_TRUE(part.whole) << part.path;
        EXPECT_EQ(DecodeErrors(part.path), "") << part.path;
    }
    ::unsetenv(platform::kSharePortVariable);
}

}  // namespace
