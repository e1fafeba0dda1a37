// The requests as the recorder receives them, written out literally, and the
// checks of its short replies.
#include "media/recorder_api.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>

#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/fake_recorder.h"

namespace {

using namespace recorder_api;

TEST(RecorderApiTest, RequestsAsTheRecorderReceivesThem) {
    struct Case {
        std::string built;
        const char* expected;
    };
    const Case cases[] = {
        {LoginPath(), "/config/login"},
        {DateTimePath(), "/config/datetime"},
        {NewSessionPath(), "/play/getid"},
        {SessionPath(12), "/play/getid?id=12"},
        {SessionPath(-1), "/play/getid?id=-1"},
        {RecordingDaysPath(2012, 3), "/play/recdate?recyear=2012&recmonth=3"},
        {RecordListPath(7, 500, 2012, 3, 5), "/play/reclist?id=7&start=500&recyear=2012&recmonth=3&recday=5"},
        {ChannelListPath(), "/live/avdevlist"},
        {SearchPath(7, TimeText(2012, 3, 5, 9, 5, 0), TimeText(2012, 3, 5, 23, 59, 59), ChannelFlags({1, 0, 1, 0})),
         "/play/searchdata?id=7&recstarttime=2012,3,5,9,5,0&recendtime=2012,3,5,23,59,59&avdevids=1,0,1,0"},
        {SearchPath(3, TimeText(2013, 12, 31, 0, 0, 1), TimeText(2013, 12, 31, 0, 0, 2), ChannelSelector(0)),
         "/play/searchdata?id=3&recstarttime=2013,12,31,0,0,1&recendtime=2013,12,31,0,0,2&avdevids=1,0,0,0,0,0,0,0,0"},
        {StreamPath(7, ChannelFlags({0, 1, 0, 0}), 0), "/play/mav/nvrprofilestream?id=7&avdevid=0,1,0,0&profile=0"},
        {StreamPath(7, ChannelFlags({1, 1, 1, 1}), 1), "/play/mav/nvrprofilestream?id=7&avdevid=1,1,1,1&profile=1"},
        {StreamPath(3, ChannelSelector(8), 1), "/play/mav/nvrprofilestream?id=3&avdevid=0,0,0,0,0,0,0,0,1&profile=1"},
        {ExportStreamPath(7, 0), "/play/mav/nvrprofilestream?id=7&avdevid=1,0,0,0&profile=0&mode=1"},
        {ExportStreamPath(7, 3), "/play/mav/nvrprofilestream?id=7&avdevid=0,0,0,1&profile=0&mode=1"},
        {BackupPath(7, 2, PaddedTimeText(2013, 5, 4, 9 * 3600 + 65), PaddedTimeText(2013, 5, 4, 23 * 3600 + 59 * 60 + 59)),
         "/play/backup?id=7&avdevid=2&starttime=2013,5,4,09,01,05&endtime=2013,5,4,23,59,59"},
        {PlayPath(7), "/play/opplay?id=7"},
        {PausePath(7), "/play/oppause?id=7"},
        {SpeedUpPath(7), "/play/speedup?id=7"},
        {SpeedDownPath(7), "/play/speeddown?id=7"},
        {TimeJumpPath(7, 120), "/play/timejump?id=7&jumptime=120&mode=1"},
        {TimeSliderPath(7, 3600), "/play/timeslider?id=7&mode=1&jumptime=3600"},
        {StatusPath(7), "/play/opstatus?id=7"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.built, c.expected);
}

TEST(RecorderApiTest, ChannelListsFlagOnlyOnes) {
    // A flag other than 1 is no selected channel.
    EXPECT_EQ(ChannelFlags({2, -1, 1, 0}), "0,0,1,0");
    EXPECT_EQ(ChannelSelector(3), "0,0,0,1,0,0,0,0,0");
    EXPECT_EQ(ChannelSelector(9), "0,0,0,0,0,0,0,0,0");
    EXPECT_EQ(ExportStreamPath(1, 4), "/play/mav/nvrprofilestream?id=1&avdevid=0,0,0,0&profile=0&mode=1");
}

TEST(RecorderApiTest, ShortRepliesNeedTheirExactPrefix) {
    struct Case {
        const char* reply;
        bool login, datetime, session;
    };
    const Case cases[] = {
        {"login=", true, false, false},
        {"login=ok\n", true, false, false},
        {"Login=ok", false, false, false},
        {"login", false, false, false},
        {" login=ok", false, false, false},
        {"date=2012-03-05 10:00:00\n", false, true, false},
        {"dat", false, false, false},
        {"Date=x", false, false, false},
        {"id=5\n", false, false, true},
        {"i", false, false, false},
        {"error=unauthorized\n", false, false, false},
        {"", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(IsLoginReply(c.reply), c.login);
        EXPECT_EQ(IsDateTimeReply(c.reply), c.datetime);
        EXPECT_EQ(IsSessionReply(c.reply), c.session);
    }
}

ServerConnectionRecord RecorderAt(int port) {
    ServerConnectionRecord server;
    server.SetIp("127.0.0.1");
    server.SetPort(std::to_string(port));
    server.SetUser("admin");
    return server;
}

// Waits for the worker's answer, as the window thread is told by its posted message.
class Answer {
public:
    void Set(bool sent) {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_ = sent;
        done_ = true;
        cv_.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return done_; });
        return sent_;
    }
    bool Done() {
        std::lock_guard<std::mutex> lock(mutex_);
        return done_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    bool sent_ = false;
};

// The fake recorder serves a small recording.
class RecorderRequestWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(WriteSmallRecording(tmp_.path(), SmallRecording{}).empty()); }
    TempFolder tmp_;
};

TEST_F(RecorderRequestWorkerTest, SendsTheRequestAndAnswers) {
    fake::FakeRecorder recorder;
    fake::FakeRecorderOptions options;
    options.data_folder = tmp_.path();
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;
    RecorderRequestWorker worker;
    Answer answer;
    worker.Start(RecorderAt(recorder.port()), LoginPath(), [&](bool sent) { answer.Set(sent); });
    EXPECT_TRUE(answer.Wait());
    worker.Join();
    EXPECT_FALSE(worker.Running());
    EXPECT_EQ(recorder.requests("/config/login"), 1);
    recorder.Stop();
}

// A recorder that never answers: the abort ends the wait, the answer says it was not sent,
// and it came before the reply's deadline could (a minute here).
TEST_F(RecorderRequestWorkerTest, AbortEndsAStalledRequest) {
    fake::FakeRecorder recorder;
    fake::FakeRecorderOptions options;
    options.data_folder = tmp_.path();
    ASSERT_TRUE(fake::ParseFault("silent:/config/login", &options.fault));
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;
    RecorderRequestWorker worker;
    worker.SetReceiveTimeout(60000);
    Answer answer;
    worker.Start(RecorderAt(recorder.port()), LoginPath(), [&](bool sent) { answer.Set(sent); });
    ASSERT_TRUE(recorder.WaitForHeld(1, 10000));
    EXPECT_FALSE(answer.Done());
    worker.Abort();
    EXPECT_FALSE(worker.Running());
    ASSERT_TRUE(answer.Done());
    EXPECT_FALSE(answer.Wait());
    recorder.Stop();
}

// The first request's answer comes late, after a second request started and is held: its
// Join must not wait for the second.
TEST_F(RecorderRequestWorkerTest, ALateJoinLeavesALaterRequestRunning) {
    fake::FakeRecorder recorder;
    fake::FakeRecorderOptions options;
    options.data_folder = tmp_.path();
    ASSERT_TRUE(fake::ParseFault("silent:/config/datetime", &options.fault));
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;
    RecorderRequestWorker worker;
    worker.SetReceiveTimeout(60000);
    Answer first, second;
    worker.Start(RecorderAt(recorder.port()), LoginPath(), [&](bool sent) { first.Set(sent); });
    EXPECT_TRUE(first.Wait());
    worker.Start(RecorderAt(recorder.port()), DateTimePath(), [&](bool sent) { second.Set(sent); });
    ASSERT_TRUE(recorder.WaitForHeld(1, 10000));
    worker.Join();  // the first's answer, handled late
    EXPECT_TRUE(worker.Running());
    EXPECT_EQ(recorder.requests_held(), 1);
    worker.Abort();
    EXPECT_FALSE(second.Wait());
    recorder.Stop();
}

// A record without an address: nothing is sent, and the answer says so.
TEST_F(RecorderRequestWorkerTest, NoRecorderNoAnswerOfSuccess) {
    RecorderRequestWorker worker;
    Answer answer;
    ServerConnectionRecord nowhere;
    worker.Start(nowhere, LoginPath(), [&](bool sent) { answer.Set(sent); });
    EXPECT_FALSE(answer.Wait());
    worker.Join();
}

}  // namespace
