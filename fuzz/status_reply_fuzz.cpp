// Arbitrary "/play/opstatus" replies through the status parser, and what the poll
// computes from an accepted one, so an overflow there shows under the sanitizers.
#include <cstdint>
#include <string>

#include "media/status_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    RemoteStatus status;
    if (ParseStatusReply(reply, &status)) {
        volatile int second_of_day = status.time[3] * 3600 + status.time[4] * 60 + status.time[5];
        (void)second_of_day;
    }
    return 0;
}
