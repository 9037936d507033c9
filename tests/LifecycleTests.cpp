// The driver object's lifecycle on its own, with no camera behind it: calls one at a time, frames through
// the gate, calls from inside a delivery, and deletion while another thread is inside.
#include "driver/CameraLifecycle.h"
#include "sdk/Buffer.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace vxcam::test {
namespace {

using State = CameraLifecycle::State;
using namespace std::chrono_literals;

class LifecycleTest : public ::testing::Test {
protected:
    // Left acquiring, as after a start: frames pass.
    void acquire() {
        const Call call(*m_life, "IStartCamera");
        m_life->quiesce();
        m_life->acceptFrames();
        m_life->setState(State::Acquiring);
    }

    std::atomic<int> m_freed{0};
    std::shared_ptr<CameraLifecycle> m_life = std::make_shared<CameraLifecycle>([this] { ++m_freed; });
    LogCapture m_log;
};

TEST_F(LifecycleTest, FramesPassOnlyWhileAcquiring) {
    EXPECT_FALSE(m_life->enter()) << "closed";
    acquire();
    ASSERT_TRUE(m_life->enter());
    EXPECT_TRUE(m_life->isDeliveringThread());
    const CameraLifecycle::Exit exit = m_life->leave();
    EXPECT_FALSE(exit.objectDeleted);
    m_life->finishDelivery();
    {
        const Call call(*m_life, "IStopCamera");
        m_life->quiesce();
        m_life->setState(State::Opened);
    }
    EXPECT_FALSE(m_life->enter()) << "stopped";
}

// A frame the stream hands over while a start still works waits, and reaches the host once the start ended.
TEST_F(LifecycleTest, AFrameArrivingDuringAStartIsDeliveredAfterIt) {
    std::promise<void> streamStarted;
    std::future<bool> delivered;
    {
        const Call call(*m_life, "IStartCamera");
        m_life->quiesce();
        m_life->acceptFrames();
        delivered = std::async(std::launch::async, [this, &streamStarted] {
            streamStarted.set_value();
            return m_life->enter();
        });
        streamStarted.get_future().wait();
        EXPECT_EQ(delivered.wait_for(20ms), std::future_status::timeout) << "not while the start still works";
        m_life->setState(State::Acquiring);
    }
    ASSERT_TRUE(delivered.get());
    static_cast<void>(m_life->leave());
    m_life->finishDelivery();
}

// The same frame, when the start failed: it goes back to its stream.
TEST_F(LifecycleTest, AFrameWaitingForAFailedStartGoesBack) {
    std::future<bool> delivered;
    {
        const Call call(*m_life, "IStartCamera");
        m_life->quiesce();
        m_life->acceptFrames();
        delivered = std::async(std::launch::async, [this] { return m_life->enter(); });
        m_life->setState(State::Opened);
    }
    EXPECT_FALSE(delivered.get());
}

TEST_F(LifecycleTest, QuiesceOnTheDeliveringThreadDoesNotWaitForItself) {
    acquire();
    ASSERT_TRUE(m_life->enter());
    {
        const Call call(*m_life, "IStopCamera");
        ASSERT_TRUE(call.admitted());
        m_life->quiesce(); // would hang if it waited for this delivery
        m_life->setState(State::Opened);
    }
    static_cast<void>(m_life->leave());
    m_life->finishDelivery();
    EXPECT_FALSE(m_life->enter());
}

// The host stops from one thread while, inside the frame being delivered, its callback calls the object: the
// callback's call is lent the turn and runs first; the stop goes on afterwards and sees its effect.
TEST_F(LifecycleTest, ACallFromInsideTheAwaitedDeliveryRunsBeforeTheHolderGoesOn) {
    acquire();
    std::promise<void> delivering;
    std::promise<void> holderHasTheTurn;
    std::atomic<bool> nestedCallRan{false};
    std::thread delivery([&] {
        const bool entered = m_life->enter();
        delivering.set_value();
        ASSERT_TRUE(entered);
        holderHasTheTurn.get_future().wait();
        {
            const Call nested(*m_life, "ICloseCamera"); // the holder quiesces and waits for this very delivery
            EXPECT_TRUE(nested.admitted());
            m_life->quiesce();
            m_life->setState(State::Closed);
            nestedCallRan = true;
        }
        static_cast<void>(m_life->leave());
        m_life->finishDelivery();
    });
    delivering.get_future().wait();
    {
        const Call call(*m_life, "IStopCamera");
        holderHasTheTurn.set_value();
        m_life->quiesce();
        EXPECT_TRUE(nestedCallRan) << "the delivery ended, so the call from inside it ran";
        EXPECT_EQ(m_life->state(), State::Closed);
    }
    delivery.join();
    EXPECT_EQ(m_life->callsInside(), 0);
}

// A start from inside the delivery lets frames in again; the holder's stop, ordered after it, stops them.
TEST_F(LifecycleTest, AStartLentTheTurnDoesNotReopenTheGateUnderTheHoldersStop) {
    acquire();
    std::promise<void> delivering;
    std::promise<void> holderHasTheTurn;
    std::thread delivery([&] {
        const bool entered = m_life->enter();
        delivering.set_value();
        ASSERT_TRUE(entered);
        holderHasTheTurn.get_future().wait();
        {
            const Call nested(*m_life, "IStartCamera");
            m_life->quiesce();
            m_life->acceptFrames();
            m_life->setState(State::Acquiring);
        }
        static_cast<void>(m_life->leave());
        m_life->finishDelivery();
    });
    delivering.get_future().wait();
    {
        const Call call(*m_life, "IStopCamera");
        holderHasTheTurn.set_value();
        m_life->quiesce();
        EXPECT_FALSE(m_life->enter()) << "no frame passes once a stop quiesced";
        m_life->setState(State::Opened);
    }
    delivery.join();
    EXPECT_FALSE(m_life->enter());
}

// Two cameras whose callbacks call each other while a host thread stops one of them: the host holds this
// object's turn and waits for its delivery, while a thread inside the other object's callback calls this object.
// That call borrows the turn and never waits for a delivery; waiting for the holder instead would close a cycle
// across the objects as soon as this object's callback waited for the other thread.
TEST_F(LifecycleTest, ACallFromInsideAnotherObjectsCallbackBorrowsTheTurnOfAHolderThatWaits) {
    acquire();
    const auto other = std::make_shared<CameraLifecycle>([] {});
    {
        const Call call(*other, "IStartCamera");
        other->acceptFrames();
        other->setState(State::Acquiring);
    }
    std::promise<void> delivering;
    std::promise<void> endDelivery;
    std::shared_future<void> deliveryMayEnd = endDelivery.get_future().share();
    std::thread delivery([&] {
        const bool entered = m_life->enter();
        delivering.set_value();
        EXPECT_TRUE(entered);
        deliveryMayEnd.wait();
        static_cast<void>(m_life->leave());
        m_life->finishDelivery();
    });
    delivering.get_future().wait();
    std::promise<void> holding;
    std::thread holder([&] {
        const Call call(*m_life, "IStopCamera");
        holding.set_value();
        m_life->quiesce();
    });
    holding.get_future().wait();
    std::atomic<bool> stoppedFromTheOtherCallback{false};
    std::future<void> otherCallback = std::async(std::launch::async, [&] {
        ASSERT_TRUE(other->enter());
        {
            const Call call(*m_life, "ICloseCamera");
            m_life->quiesce();
            m_life->setState(State::Closed);
        }
        stoppedFromTheOtherCallback = true;
        static_cast<void>(other->leave());
        other->finishDelivery();
    });
    EXPECT_EQ(otherCallback.wait_for(5s), std::future_status::ready)
        << "the call from the other object's callback waits for the holder, which waits for a delivery";
    EXPECT_TRUE(stoppedFromTheOtherCallback);
    endDelivery.set_value();
    delivery.join();
    holder.join();
    otherCallback.wait();
    EXPECT_EQ(m_life->state(), State::Closed);
    EXPECT_EQ(m_life->callsInside(), 0);
}

TEST_F(LifecycleTest, ADeletedObjectIsFreedByTheLastCallInsideIt) {
    acquire();
    std::promise<void> delivering;
    std::promise<void> holderHasTheTurn;
    std::thread delivery([&] {
        const bool entered = m_life->enter();
        delivering.set_value();
        ASSERT_TRUE(entered);
        holderHasTheTurn.get_future().wait();
        {
            const Call nested(*m_life, "~CCameraVeyra"); // Camera_Delete from inside OnImageReady
            m_life->quiesce();
            m_life->markDeleted(true);
        }
        EXPECT_EQ(m_freed.load(), 0) << "the stopping thread is still inside";
        EXPECT_TRUE(m_life->leave().objectDeleted);
        m_life->finishDelivery();
    });
    delivering.get_future().wait();
    {
        const Call call(*m_life, "IStopCamera");
        holderHasTheTurn.set_value();
        m_life->quiesce();
        EXPECT_TRUE(m_life->isDeleted());
    }
    delivery.join();
    EXPECT_EQ(m_freed.load(), 1);
    EXPECT_TRUE(m_log.texts(QtWarningMsg).isEmpty());
}

TEST_F(LifecycleTest, CallsIntoADeletedObjectAreRefusedAndLogged) {
    {
        const Call call(*m_life, "~CCameraVeyra");
        m_life->markDeleted(false);
    }
    EXPECT_EQ(m_freed.load(), 0) << "not asked to free";
    {
        const Call late(*m_life, "ISetProperty");
        EXPECT_FALSE(late.admitted());
    }
    EXPECT_EQ(m_log.texts(QtWarningMsg),
              QStringList{QStringLiteral("the camera object was deleted; the call is refused  -  "
                                         "CCameraVeyra::ISetProperty")});
    EXPECT_FALSE(m_life->enter());
}

// Every frame refused at the gate is reported once, by the next call to end: under its own name when the frame
// came during it, under BufferReady when it came between calls. Frames a reprogramming turned away leave a gap
// in what the host receives (a warning); those after a stop are what the host asked for (information). A
// deleted object's frames are not counted.
TEST_F(LifecycleTest, FramesTurnedAwayAreReportedByTheNextCallToEnd) {
    const auto turnedAway = [](int frames, const char* method) {
        return QStringLiteral("%1 frame(s) came while the camera was stopped or reprogrammed and went back to their "
                              "stream undelivered.  -  CCameraVeyra::%2")
            .arg(frames)
            .arg(QLatin1String(method));
    };
    acquire();
    {
        const Call call(*m_life, "IStopCamera");
        m_life->quiesce();
        EXPECT_FALSE(std::async(std::launch::async, [this] { return m_life->enter(); }).get());
        m_life->setState(State::Opened);
    }
    EXPECT_EQ(m_log.texts(QtInfoMsg), QStringList{turnedAway(1, "IStopCamera")});
    EXPECT_TRUE(m_log.texts(QtWarningMsg).isEmpty());

    m_log.clear();
    EXPECT_FALSE(m_life->enter());
    EXPECT_FALSE(m_life->enter());
    {
        const Call call(*m_life, "IStartCamera");
        m_life->quiesce();
        EXPECT_FALSE(m_life->enter()) << "the gate is closed until the stream starts";
        {
            const Call nested(*m_life, "ISendSoftTrigger"); // an operation calling another reports nothing itself
        }
        m_life->acceptFrames();
        m_life->setState(State::Acquiring);
    }
    EXPECT_EQ(m_log.texts(QtInfoMsg), QStringList{turnedAway(2, "BufferReady")});
    EXPECT_EQ(m_log.texts(QtWarningMsg), QStringList{turnedAway(1, "IStartCamera")});

    m_log.clear();
    { const Call call(*m_life, "ISetProperty"); }
    EXPECT_TRUE(m_log.lines().empty()) << "each frame is reported once";

    {
        const Call call(*m_life, "~CCameraVeyra");
        m_life->markDeleted(false);
    }
    EXPECT_FALSE(m_life->enter());
    { const Call late(*m_life, "IStopCamera"); }
    EXPECT_EQ(m_log.texts(QtWarningMsg), QStringList{QStringLiteral("the camera object was deleted; the call is "
                                                                    "refused  -  CCameraVeyra::IStopCamera")});
    EXPECT_TRUE(m_log.texts(QtInfoMsg).isEmpty());
}

// Calls from two threads take turns: the second waits for the first, whatever order they come in.
TEST_F(LifecycleTest, CallsTakeTurns) {
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    auto calls = [&] {
        for (int i = 0; i < 2000; ++i) {
            const Call call(*m_life, "ISetProperty");
            overlaps += ++inside > 1 ? 1 : 0;
            --inside;
        }
    };
    std::thread other(calls);
    calls();
    other.join();
    EXPECT_EQ(overlaps.load(), 0);
}

} // namespace
} // namespace vxcam::test
