#include "host/FrameCollector.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace vxcam::host {
namespace {

// Copies the writer may fall behind by before the frames to copy are let go: a slow disk must not hold the
// module's buffers, and must not fill memory either.
constexpr std::size_t kMaxQueuedFrames = 32;
constexpr std::size_t kMaxQueuedBytes = std::size_t{256} << 20U;

} // namespace

FrameCollector::FrameCollector(Plan plan) : m_plan(std::move(plan)), m_sampler(m_plan.sheetTiles) {}

void FrameCollector::OnImageReady(ICameraObject* camera) {
    if (camera == nullptr) {
        return;
    }
    // The frame members describe this frame only while the call lasts.
    const auto frameId = static_cast<uint32_t>(camera->m_nFrameId.load(std::memory_order_relaxed));
    const int32_t width = camera->m_nWidth;
    const int32_t height = camera->m_nHeight;
    const unsigned char* pixels = camera->m_pImageData;

    const Decision decision = countFrame(frameId, width, height, pixels != nullptr);
    if (!decision.copy) {
        m_changed.notify_all();
        return;
    }
    CapturedFrame frame;
    frame.index = decision.index;
    frame.frameId = frameId;
    frame.width = width;
    frame.height = height;
    frame.save = decision.save;
    frame.sample = decision.sample;
    bool copied = true;
    try {
        frame.bytes.assign(pixels, pixels + decision.bytes);
    } catch (const std::bad_alloc&) {
        copied = false; // the frame goes unsaved, like one the writer had no room for
    }
    {
        const std::lock_guard lock(m_mutex);
        --m_nReserved;
        if (copied) {
            m_captured.push_back(std::move(frame));
        } else {
            m_nQueuedBytes -= decision.bytes;
            ++m_tally.writerBehind;
        }
    }
    m_changed.notify_all();
}

FrameCollector::Decision FrameCollector::countFrame(uint32_t frameId, int32_t width, int32_t height, bool hasPixels) {
    const Clock::time_point now = Clock::now();
    const std::lock_guard lock(m_mutex);
    Decision decision;
    if (m_plan.frameLimit > 0 && m_tally.received >= m_plan.frameLimit) {
        ++m_tally.beyondLimit;
        return decision;
    }
    decision.index = m_tally.received++;
    if (decision.index == 0) {
        m_tally.firstArrival = now;
        m_tally.width = width;
        m_tally.height = height;
    } else if (width != m_tally.width || height != m_tally.height) {
        m_tally.sizeChanged = true;
        m_tally.width = width;
        m_tally.height = height;
    }
    m_tally.lastArrival = now;
    followFrameId(frameId);

    decision.save = m_plan.saveEvery > 0 && decision.index % m_plan.saveEvery == 0;
    decision.sample = m_plan.sheetTiles > 0 && m_sampler.offer(decision.index);
    if (!decision.save && !decision.sample) {
        return decision;
    }
    const std::optional<std::size_t> bytes = m_plan.layout.frameBytes(width, height);
    if (!hasPixels || !bytes || (m_plan.readableBytes > 0 && *bytes > m_plan.readableBytes)) {
        ++m_tally.unreadable;
        return decision;
    }
    if (m_captured.size() + m_nReserved >= kMaxQueuedFrames || m_nQueuedBytes + *bytes > kMaxQueuedBytes) {
        ++m_tally.writerBehind;
        return decision;
    }
    ++m_nReserved;
    m_nQueuedBytes += *bytes;
    decision.copy = true;
    decision.bytes = *bytes;
    return decision;
}

// Frame IDs are the low 32 bits of the camera's counter, so they are compared modulo 2^32: a step forward of
// less than half the range is a step forward, anything else a repeat or a step back. Counting goes on from
// the newest ID either way, so that one reset of the counter costs one out-of-order frame, not all later ones.
void FrameCollector::followFrameId(uint32_t frameId) {
    if (!m_tally.firstFrameId) {
        m_tally.firstFrameId = frameId;
    } else {
        const uint32_t step = frameId - *m_tally.lastFrameId;
        if (step == 0 || step >= 0x80000000U) {
            ++m_tally.outOfOrder;
        } else if (step > 1) {
            ++m_tally.gaps;
            m_tally.lost += step - 1;
        }
    }
    m_tally.lastFrameId = frameId;
}

FrameTally FrameCollector::tally() const {
    const std::lock_guard lock(m_mutex);
    return m_tally;
}

FrameTally FrameCollector::waitForChange(int64_t seenReceived, Clock::time_point until) const {
    std::unique_lock lock(m_mutex);
    m_changed.wait_until(lock, until, [&] { return m_tally.received != seenReceived || !m_captured.empty(); });
    return m_tally;
}

std::vector<CapturedFrame> FrameCollector::takeCaptured(std::size_t most) {
    const std::lock_guard lock(m_mutex);
    const std::size_t count = most == 0 ? m_captured.size() : std::min(most, m_captured.size());
    std::vector<CapturedFrame> frames;
    frames.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        m_nQueuedBytes -= m_captured.front().bytes.size();
        frames.push_back(std::move(m_captured.front()));
        m_captured.pop_front();
    }
    return frames;
}

std::vector<int64_t> FrameCollector::sheetFrames() const {
    const std::lock_guard lock(m_mutex);
    return m_sampler.chosen();
}

bool FrameCollector::stillSampled(int64_t index) const {
    const std::lock_guard lock(m_mutex);
    return m_sampler.keeps(index);
}

} // namespace vxcam::host
