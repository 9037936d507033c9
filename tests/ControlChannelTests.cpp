// A camera's control channel on its own: calls that do not answer fail by their deadline, later calls fail at once
// while the camera is silent, a call whose caller gave up before it started never runs, the watch declares a loss
// once and clears the silence when the camera answers, and a retirement never waits for a call that hangs.
// The "camera" is a call that waits until the test lets it answer.
#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisControl.h"

#include <QString>
#include <QtGlobal>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vxcam::test {
namespace {

using namespace std::chrono_literals;
using sdk::aravis::ControlChannel;

// Short, so that the tests are: the channel's behaviour does not depend on the figure.
constexpr std::chrono::milliseconds kDeadline{100};

// Waits for a log line of the channel that contains a text (the notes on a call that ended, a camera that answers
// again). One at a time; installed for its lifetime.
class ChannelNote {
public:
    explicit ChannelNote(const char* text) : m_text(QString::fromLatin1(text)) {
        s_note.store(this);
        m_previous = qInstallMessageHandler(&ChannelNote::handler);
    }
    ~ChannelNote() {
        qInstallMessageHandler(m_previous);
        s_note.store(nullptr);
    }
    ChannelNote(const ChannelNote&) = delete;
    ChannelNote& operator=(const ChannelNote&) = delete;

    [[nodiscard]] bool wait(std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_bSeen; });
    }

private:
    static void handler(QtMsgType /*type*/, const QMessageLogContext& /*context*/, const QString& text) {
        ChannelNote* note = s_note.load();
        if (note != nullptr && text.contains(note->m_text)) {
            const std::lock_guard lock(note->m_mutex);
            note->m_bSeen = true;
            note->m_changed.notify_all();
        }
    }

    static inline std::atomic<ChannelNote*> s_note{nullptr};
    const QString m_text;
    QtMessageHandler m_previous = nullptr;
    std::mutex m_mutex; // guards m_bSeen
    std::condition_variable m_changed;
    bool m_bSeen = false;
};

// A call to a camera that answers only when the test says so.
class HangingCall {
public:
    HangingCall() = default;
    HangingCall(const HangingCall&) = delete;
    HangingCall& operator=(const HangingCall&) = delete;
    // A test that ended early still lets the channel's thread go.
    ~HangingCall() {
        if (!m_bAnswered) {
            answer();
        }
    }

    // The call to hand to the channel; it returns 7 once answered.
    std::function<int()> call() {
        return [this] {
            m_started.set_value();
            m_answer.wait();
            return 7;
        };
    }
    bool started(std::chrono::milliseconds timeout = 10s) {
        return m_startedSeen.wait_for(timeout) == std::future_status::ready;
    }
    void answer() {
        m_bAnswered = true;
        m_answered.set_value();
    }

private:
    bool m_bAnswered = false; // the test's thread only
    std::promise<void> m_started;
    std::shared_future<void> m_startedSeen = m_started.get_future().share();
    std::promise<void> m_answered;
    std::shared_future<void> m_answer = m_answered.get_future().share();
};

// The type of the SDK error `call` raised; empty when it raised none.
template <typename Call>
std::string raisedType(Call&& call) {
    try {
        call();
    } catch (const sdk::Exceptions::IException& error) {
        return std::string(error.GetType());
    }
    return {};
}

TEST(ControlChannel, GivesTheCallersResultsAndErrors) {
    ControlChannel channel("SN1", ControlChannel::Runs::OnItsOwnThread, kDeadline);
    EXPECT_EQ(channel.run("Node::GetInt", [] { return 42; }), 42);
    EXPECT_EQ(raisedType([&channel] {
                  channel.run("Node::SetInt",
                              [] { sdk::Exceptions::raise("OutOfRangeException", "Node::SetInt", "x"); });
              }),
              "OutOfRangeException");
    EXPECT_FALSE(channel.silent()) << "an error is an answer";
}

// Without a watch the camera counts as answering again once the call that hung has ended.
TEST(ControlChannel, ACallThatHangsFailsAndLaterCallsFailAtOnceUntilItEnds) {
    ControlChannel channel("SN1", ControlChannel::Runs::OnItsOwnThread, kDeadline);
    HangingCall hanging;
    EXPECT_EQ(raisedType([&] { channel.run("Node::Execute", hanging.call()); }), "TimeoutException");
    ASSERT_TRUE(hanging.started());
    EXPECT_TRUE(channel.silent());
    std::atomic<bool> ranWhileSilent{false};
    EXPECT_EQ(raisedType([&] { channel.run("Node::SetDouble", [&ranWhileSilent] { ranWhileSilent = true; }); }),
              "TimeoutException");

    ChannelNote ended("the call that had not answered has ended");
    hanging.answer();
    ASSERT_TRUE(ended.wait());
    EXPECT_FALSE(channel.silent());
    EXPECT_EQ(channel.run("Node::GetInt", [] { return 3; }), 3);
    channel.retire({}, true);
    EXPECT_FALSE(ranWhileSilent) << "a call refused while the camera was silent ran after all";
}

// A call queued behind one that hangs, whose caller gives up before it starts, never reaches the camera: its caller
// was told it failed.
TEST(ControlChannel, ACallWhoseCallerGaveUpBeforeItStartedNeverRuns) {
    ControlChannel channel("SN1", ControlChannel::Runs::OnItsOwnThread, 500ms);
    HangingCall hanging;
    auto first = std::async(std::launch::async, [&] { return raisedType([&] { channel.run("A", hanging.call()); }); });
    ASSERT_TRUE(hanging.started());
    std::atomic<bool> ran{false};
    EXPECT_EQ(raisedType([&] { channel.run("B", [&ran] { ran = true; }); }), "TimeoutException");
    EXPECT_EQ(first.get(), "TimeoutException");
    hanging.answer();
    channel.retire({}, true);
    ASSERT_TRUE(channel.awaitEnd(10s));
    EXPECT_FALSE(ran) << "a call its caller gave up on took effect later";
}

// What the watch finds, look after look, and whether the camera ends up lost.
struct WatchCase {
    const char* name;
    std::vector<ControlChannel::Presence> looks; // the last one repeats
    bool lost;
};

class ControlChannelWatch : public ::testing::TestWithParam<WatchCase> {};

// The camera goes silent under a call; the watch then looks at it until it answers or the camera is lost.
TEST_P(ControlChannelWatch, ClearsTheSilenceOrDeclaresTheLossOnce) {
    const WatchCase& scenario = GetParam();
    ControlChannel channel("SN1", ControlChannel::Runs::OnItsOwnThread, kDeadline);
    std::mutex mutex; // guards the counts: the channel's thread looks and declares, the test reads
    std::size_t looked = 0;
    int losses = 0;
    std::promise<void> lost;
    ControlChannel::Watch watch;
    // The first looks wait for the hanging call's end: the watch starts while the camera still answers.
    watch.look = [&] {
        const std::lock_guard lock(mutex);
        const std::size_t index = std::min(looked++, scenario.looks.size() - 1);
        return scenario.looks[index];
    };
    watch.period = 1ms;
    watch.lostAfter = 0ms;
    watch.lost = [&] {
        const std::lock_guard lock(mutex);
        if (++losses == 1) {
            lost.set_value();
        }
    };
    HangingCall hanging;
    EXPECT_EQ(raisedType([&] { channel.run("Node::Execute", hanging.call()); }), "TimeoutException");
    ASSERT_TRUE(hanging.started());
    ChannelNote answers("answers again");
    channel.watch(std::move(watch));
    hanging.answer();
    if (scenario.lost) {
        ASSERT_EQ(lost.get_future().wait_for(10s), std::future_status::ready) << "no loss declared";
        EXPECT_TRUE(channel.silent());
        EXPECT_EQ(raisedType([&] { channel.run("Node::GetInt", [] { return 1; }); }), "TimeoutException");
    } else {
        ASSERT_TRUE(answers.wait()) << "the camera answered and stayed silent";
        EXPECT_EQ(channel.run("Node::GetInt", [] { return 1; }), 1);
    }
    channel.retire({}, true);
    ASSERT_TRUE(channel.awaitEnd(10s));
    const std::lock_guard lock(mutex);
    EXPECT_EQ(losses, scenario.lost ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Looks, ControlChannelWatch,
    ::testing::Values(WatchCase{"AnswersAgain", {ControlChannel::Presence::Answers}, false},
                      WatchCase{"StaysSilent", {ControlChannel::Presence::Silent}, true},
                      WatchCase{"GaveUpTheSession", {ControlChannel::Presence::GaveUpTheSession}, true},
                      WatchCase{"SilentAnswersAndGaveUp",
                                {ControlChannel::Presence::Answers, ControlChannel::Presence::GaveUpTheSession},
                                true}),
    [](const ::testing::TestParamInfo<WatchCase>& scenario) { return std::string(scenario.param.name); });

// Closing a camera whose call hangs returns at once; the camera's last release runs after that call, on the
// channel's thread, which ends then.
TEST(ControlChannel, ARetirementDoesNotWaitForACallThatHangsAndRunsTheLastWorkAfterIt) {
    ControlChannel channel("SN1", ControlChannel::Runs::OnItsOwnThread, kDeadline);
    HangingCall hanging;
    EXPECT_EQ(raisedType([&] { channel.run("Node::Execute", hanging.call()); }), "TimeoutException");
    ASSERT_TRUE(hanging.started());
    std::promise<void> released;
    channel.retire([&released] { released.set_value(); }, true);
    std::future<void> release = released.get_future();
    EXPECT_EQ(release.wait_for(0ms), std::future_status::timeout) << "the release ran under the call that hangs";
    EXPECT_EQ(raisedType([&] { channel.run("Node::GetInt", [] { return 1; }); }), "NotAvailableException");
    hanging.answer();
    EXPECT_EQ(release.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(channel.awaitEnd(10s));
}

// On the caller's thread (links that never hang) everything runs at once, the last work included.
TEST(ControlChannel, OnTheCallersThreadRunsEverythingInPlace) {
    ControlChannel channel("SN1", ControlChannel::Runs::OnTheCallersThread, kDeadline);
    const std::thread::id caller = std::this_thread::get_id();
    EXPECT_EQ(channel.run("Node::GetInt", [] { return std::this_thread::get_id(); }), caller);
    bool released = false;
    channel.retire([&released] { released = true; }, false);
    EXPECT_TRUE(released);
}

} // namespace
} // namespace vxcam::test
