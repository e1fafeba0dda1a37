// Arbitrary recorder replies through every reply parser of the record selection.
#include <cstdint>
#include <string>
#include <vector>

#include "media/recorder_api.h"
#include "sources/recorder_replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> pieces;
    SplitString(reply, ',', &pieces);
    (void)LeadingDecimal(reply);
    (void)recorder_api::IsLoginReply(reply);
    (void)recorder_api::IsDateTimeReply(reply);
    (void)recorder_api::IsSessionReply(reply);
    int id = 0;
    (void)ParseSessionIdReply(reply, &id);
    (void)ParseRecordingDays(reply);
    (void)ParseRecordListPage(reply);
    (void)ParseChannelNames(reply);
    const std::string repaired = RepairUtf8(reply);
    (void)ShortenCaption(repaired);
    (void)RecorderChannelCaption(1, repaired);
    (void)FolderChannelCaption(4, repaired);
    return 0;
}
