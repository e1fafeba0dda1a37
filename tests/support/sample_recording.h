#pragma once
// Small real recordings for playback tests: coded video and audio per second.
#include <set>
#include <string>
#include <vector>

#include "media/civil_date.h"

struct SmallRecording {
    CivilDate date{2012, 3, 5};
    int start_second = 14 * 3600 + 7 * 60;
    int seconds = 3;
    int fps = 5;
    // Channel 1: MJPEG 176x144 (all key) with PCM audio; channel 2: H.264 176x144,
    // a key frame every `h264_key_interval` frames.
    int h264_key_interval = 5;
    std::set<int> missing_seconds;  // offsets from start without any data
    bool pcm_audio = true;
};

// Writes FOLDER/avdata; returns the data folder path (empty on failure).
std::string WriteSmallRecording(const std::string& folder, const SmallRecording& recording);
// The PCM samples the recording's channel 1 holds for offset second i.
std::vector<int16_t> SmallRecordingPcm(int i);
