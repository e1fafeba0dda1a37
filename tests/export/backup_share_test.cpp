// A backup whose source is a disk copy on a real smbd copies and sizes what
// the same copy on local disk gives, including names the share finds in
// another case, as it finds them when each name is asked for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "export/backup_files.h"
#include "export/backup_worker.h"
#include "platform/network_share.h"
#include "tests/support/samba_server.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"
#include "tools/common/avdata_writer.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> FilesBelow(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) out.push_back(fs::relative(it->path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(BackupFromShare, CopiesWhatTheShareFindsUnderEachName) {
    TempFolder tmp;
    const std::string data = tmp.Sub("share/avdata");
    sample::SampleDay day;
    day.year = 2012, day.month = 3, day.day = 5;
    day.entries = {{0, 23 * 3600, 'f', '1'}};
    std::string error;
    ASSERT_TRUE(sample::WriteDayIndex(data, day, &error)) << error;
    const std::string hour = data + "/2012/03/05/10";
    // Minute 45 stored in lower case, 46 as written, 47 in mixed case.
    const char* names[] = {"rec45.db", "REC46.db", "Rec47.DB"};
    for (size_t i = 0; i < std::size(names); ++i)
        ASSERT_TRUE(sample::WriteFileBytes(hour + "/" + names[i], std::vector<uint8_t>(5000 + i, uint8_t(i)), &error));

    SambaServer server(tmp.Sub("share"));
    if (!server.Running()) SKIP_WITHOUT_INSTALLED("smbd cannot start here: " << server.error());
    ::setenv(platform::kSharePortVariable, std::to_string(server.port()).c_str(), 1);
    ASSERT_EQ(platform::ConnectShare(server.SharePath(), server.user(), SambaServer::kPassword),
              platform::kShareConnected);

    BackupJob job;
    job.source = server.SharePath("\\avdata");
    job.destination = tmp.Sub("out/avdata");
    fs::create_directories(tmp.Sub("out"));
    job.range.start_year = job.range.end_year = 2012;
    job.range.start_month = job.range.end_month = 3;
    job.range.start_day = job.range.end_day = 5;
    job.range.start_hour = 0, job.range.start_minute = 0;
    job.range.end_hour = 23, job.range.end_minute = 59;
    job.channel_mask = 0xf;
    const uint64_t required = RequiredSpace(job);
    BackupWorker worker;
    ASSERT_TRUE(worker.Start(job, nullptr));
    worker.Wait();
    ::unsetenv(platform::kSharePortVariable);

    EXPECT_EQ(worker.Tally().failures, 0);
    EXPECT_EQ(FilesBelow(job.destination), (std::vector<std::string>{"2012/03/05/10/REC45.db", "2012/03/05/10/REC46.db",
                                                                     "2012/03/05/10/REC47.db", "2012/03/05/RecordList.db"}));
    for (size_t i = 0; i < std::size(names); ++i)
        EXPECT_EQ(ReadAll(job.destination + "/2012/03/05/10/REC4" + std::to_string(5 + i) + ".db"),
                  ReadAll(hour + "/" + names[i]))
            << names[i];
    EXPECT_EQ(required, FolderTreeBytes(job.destination));
}

}  // namespace
