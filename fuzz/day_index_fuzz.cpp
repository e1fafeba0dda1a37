// Arbitrary bytes as a day index, read as the record selection and the dump read it.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "media/data_folder.h"
#include "tools/common/avdata_dump.h"
#include "tests/support/temp_folder.h"

namespace {
// The run's input files live in a temporary folder removed when the run ends.
TempFolder& TempFolderOfRun() {
    static TempFolder folder;
    return folder;
}
const std::string& Folder() {
    static const std::string folder = [] {
        const std::string f = TempFolderOfRun().Sub("avdata");
        std::filesystem::create_directories(f + "/2012/03/05");
        return f;
    }();
    return folder;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(DayIndexPath(Folder(), 2012, 3, 5).c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    DayIndexHeader header;
    ReadRecordListHeader(Folder(), 2012, 3, 5, &header);
    std::vector<DayIndexEntry> entries(10000);
    const int n = ReadRecordList(Folder(), 2012, 3, 5, entries.data(), static_cast<int>(entries.size()));
    for (int i = 0; i < n; ++i) {
        (void)entries[i].StartSecond();
        (void)entries[i].EndSecond();
        (void)entries[i].ChannelMask();
        (void)entries[i].RecordType();
    }
    std::ostringstream out;
    std::string error;
    sample::DumpDay(Folder(), 2012, 3, 5, out, &error);
    return 0;
}
