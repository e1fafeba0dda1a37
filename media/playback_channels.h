#pragma once
// The four channels as both sources feed them: their decode workers and their viewers.
#include <array>

#include "media/decode_process.h"
#include "media/playback_sinks.h"

using DecodeWorkers = std::array<CDecodeProcess, 4>;
using ChannelViewers = std::array<ViewerSink*, 4>;

class PlaybackClock;
class PlaybackSound;

// What either source feeds and reports to; all outlive the source.
struct PlaybackOutputs {
    PlaybackClock* clock = nullptr;
    DecodeWorkers* decode = nullptr;
    ChannelViewers viewers{};
    StatusPanel* panel = nullptr;
    PlaybackWindow* window = nullptr;
    PlaybackSound* sound = nullptr;
};

namespace playback_channels {

// With show_from_second, the workers show the local reader's pictures from that second on.
void FlushWorkers(DecodeWorkers& decode, int show_from_second = -1);
// The speed as the workers pace by it; re-times pictures waiting for their turn.
void SetWorkersSpeed(DecodeWorkers& decode, int speed);
void ClearViewersShowingPicture(const ChannelViewers& viewers);
// The channel whose viewer is selected, the one heard; 0 when none is.
int SelectedChannel(const ChannelViewers& viewers);

}  // namespace playback_channels
