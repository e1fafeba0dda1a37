#include "media/playback_channels.h"

namespace playback_channels {

void FlushWorkers(DecodeWorkers& decode, int show_from_second) {
    for (CDecodeProcess& worker : decode) worker.RequestFlush(show_from_second);
}

void SetWorkersSpeed(DecodeWorkers& decode, int speed) {
    for (CDecodeProcess& worker : decode) worker.SetSpeed(speed);
}

void ClearViewersShowingPicture(const ChannelViewers& viewers) {
    for (ViewerSink* v : viewers) {
        if (v && v->HasVideo()) v->ClearVideo();
    }
}

int SelectedChannel(const ChannelViewers& viewers) {
    for (int i = 0; i < 4; ++i) {
        if (viewers[static_cast<size_t>(i)] && viewers[static_cast<size_t>(i)]->IsSelected()) return i;
    }
    return 0;
}

}  // namespace playback_channels
