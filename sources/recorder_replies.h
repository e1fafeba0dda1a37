#pragma once
// Readers of the recorder's text replies used by the record selection: login,
// session id, recording days, record list pages and channel names. Replies are
// untrusted: every number is read saturated, every column checked.
#include <array>
#include <string>
#include <vector>

#include "mainwindow/time_line_model.h"
#include "media/status_reply.h"

// Cuts text at every separator; a trailing separator gives an empty last piece
// and an empty text one empty piece. Returns the number of pieces.
int SplitString(const std::string& text, char separator, std::vector<std::string>* pieces);


// "/play/getid": false (the id stays) when the reply has no "=".
bool ParseSessionIdReply(const std::string& reply, int* session_id);

// "/play/recdate": the days named by every line but the last, those outside 1-31 dropped.
std::vector<int> ParseRecordingDays(const std::string& reply);

struct RecordListPage {
    bool valid = false;  // line 0 held a "="
    int total = 0;       // records of the whole day
    int record_lines = 0;
    std::vector<TimeLineSegment> segments;
};
// One page of "/play/reclist": "total=N", a line not read, fixed-column record
// lines, then two lines not read.
RecordListPage ParseRecordListPage(const std::string& reply);

struct ChannelNameList {
    std::array<std::string, 4> names;  // captions "CHnn name", set as far as the lines parsed
    bool complete = false;             // the captions may be shown
};
// "/live/avdevlist": the names start one column after the "=" of line 0.
ChannelNameList ParseChannelNames(const std::string& reply);

// Well-formed UTF-8: each invalid byte becomes U+FFFD.
std::string RepairUtf8(const std::string& bytes);
// Texts of 18 characters or more keep their first 16 and get "...".
std::string ShortenCaption(const std::string& utf8);
// "CH%.2d %s", shortened.
std::string RecorderChannelCaption(int channel, const std::string& name);
// As the recorder caption, but an empty name stays empty.
std::string FolderChannelCaption(int channel, const std::string& name);
