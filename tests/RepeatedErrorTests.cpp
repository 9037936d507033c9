// The frame path's error report: an error in full once, its repeats counted and written by time, and a session
// that ends writes what is pending and forgets the error.
#include "driver/SdkErrorReport.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

namespace vxcam::test {
namespace {

constexpr const char* kSuffix = "  -  CCameraVeyra::BufferReady";

sdk::Exceptions::Exception conversionError() {
    return sdk::Exceptions::Exception(sdk::String("InvalidArgumentException"), sdk::String("Image::TransformImage"),
                                      sdk::String("unsupported format"));
}

QStringList conversionErrorLines() {
    return sdkErrorLines(QStringLiteral("InvalidArgumentException"), QStringLiteral("unsupported format"),
                         QStringLiteral("Image::TransformImage"), QStringLiteral("BufferReady"));
}

QString repeatLine(const char* count) {
    return QStringLiteral("The same SDK error again, %1 since it was reported.").arg(QLatin1String(count)) +
           QLatin1String(kSuffix);
}

class RepeatedErrorTest : public ::testing::Test {
protected:
    LogCapture m_log;
};

// No stop, no further error: the timer alone writes the count, within about a second.
TEST_F(RepeatedErrorTest, RepeatsAreWrittenByTimeWithoutAnotherError) {
    RepeatedErrorReport report("BufferReady");
    for (int i = 0; i < 4; ++i) {
        report.report(conversionError());
    }
    ASSERT_TRUE(m_log.waitFor(QtCriticalMsg, [](const QStringList& lines) { return lines.size() >= 4; }))
        << m_log.texts(QtCriticalMsg).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_log.texts(QtCriticalMsg), conversionErrorLines() << repeatLine("3 times"));
}

// One repeat reads "1 time". A flush (a stop, a close) writes what is pending at once, and the next occurrence is
// a new session's first: three full lines again.
TEST_F(RepeatedErrorTest, FlushWritesThePendingCountAndForgetsTheError) {
    RepeatedErrorReport report("BufferReady");
    report.report(conversionError());
    report.report(conversionError());
    report.flush();
    EXPECT_EQ(m_log.texts(QtCriticalMsg), conversionErrorLines() << repeatLine("1 time"));
    m_log.clear();
    report.report(conversionError());
    EXPECT_EQ(m_log.texts(QtCriticalMsg), conversionErrorLines());
}

// Another error ends the run of the first: its count comes before the new error's lines.
TEST_F(RepeatedErrorTest, AnotherErrorWritesTheFirstOnesCountFirst) {
    RepeatedErrorReport report("BufferReady");
    report.report(conversionError());
    report.report(conversionError());
    report.report(conversionError());
    const sdk::Exceptions::Exception requeue(sdk::String("RuntimeException"), sdk::String("Buffer::QueueBuffer"),
                                             sdk::String("stream closed"));
    report.report(requeue);
    EXPECT_EQ(m_log.texts(QtCriticalMsg), conversionErrorLines() << repeatLine("2 times")
                                                                 << sdkErrorLines(QStringLiteral("RuntimeException"),
                                                                                  QStringLiteral("stream closed"),
                                                                                  QStringLiteral("Buffer::QueueBuffer"),
                                                                                  QStringLiteral("BufferReady")));
}

// The report's end (the object's) writes what is pending too.
TEST_F(RepeatedErrorTest, TheReportsEndWritesThePendingCount) {
    {
        RepeatedErrorReport report("BufferReady");
        report.report(conversionError());
        report.report(conversionError());
    }
    EXPECT_EQ(m_log.texts(QtCriticalMsg), conversionErrorLines() << repeatLine("1 time"));
}

} // namespace
} // namespace vxcam::test
