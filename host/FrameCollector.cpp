#include "host/FrameCollector.h"

#include "contract/IVeyraCameraObject.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace vxcam::host {
namespace {

// Where the lines of a frame lie in the module's memory, when all of them lie within what it may read.
struct LinePlan {
    std::size_t frameBytes = 0; // of the copy, lines without padding
    std::size_t lineBytes = 0;  // 0: one bit stream, copied whole
    std::size_t pitch = 0;      // in the module's memory
};

std::optional<LinePlan> linePlanOf(const FrameFormat& format, int32_t width, int32_t height) {
    if (!format.described) {
        return std::nullopt;
    }
    const std::optional<std::size_t> bytes = format.layout.frameBytes(width, height);
    if (!bytes) {
        return std::nullopt;
    }
    LinePlan plan;
    plan.frameBytes = *bytes;
    const std::optional<std::size_t> line = lineBytes(format.layout, width);
    if (line && format.linePitch > 0 && format.linePitch != *line) {
        if (format.linePitch < *line) {
            return std::nullopt;
        }
        plan.lineBytes = *line;
        plan.pitch = static_cast<std::size_t>(format.linePitch);
        const uint64_t reach = uint64_t{plan.pitch} * static_cast<uint64_t>(height - 1) + *line;
        return reach <= format.byteSize ? std::optional<LinePlan>(plan) : std::nullopt;
    }
    return plan.frameBytes <= format.byteSize ? std::optional<LinePlan>(plan) : std::nullopt;
}

} // namespace

FrameFormat describeFrame(ICameraObject& camera) {
    VeyraFrameLayout layout;
    FrameFormat format;
    if (asVeyraCamera(&camera)->IGetFrameLayout(&layout) != 1) {
        return format;
    }
    const auto text = [](const char* name, std::size_t size) {
        return QString::fromLatin1(name, static_cast<int>(qstrnlen(name, static_cast<uint>(size))));
    };
    format.described = true;
    format.cameraPixelFormat = text(layout.cameraPixelFormat, sizeof layout.cameraPixelFormat);
    format.layout = layoutNamed(text(layout.pixelFormat, sizeof layout.pixelFormat));
    format.linePitch = layout.linePitch;
    format.byteSize = layout.byteSize;
    return format;
}

std::optional<std::size_t> copyableBytes(const FrameFormat& format, int32_t width, int32_t height) {
    const std::optional<LinePlan> plan = linePlanOf(format, width, height);
    return plan ? std::optional(plan->frameBytes) : std::nullopt;
}

void copyFrame(const unsigned char* pixels, const FrameFormat& format, int32_t width, int32_t height,
               std::vector<unsigned char>& out) {
    const std::optional<LinePlan> plan = linePlanOf(format, width, height);
    if (!plan) {
        out.clear();
        return;
    }
    if (plan->lineBytes == 0) {
        out.assign(pixels, pixels + plan->frameBytes);
        return;
    }
    out.resize(plan->frameBytes);
    for (int32_t row = 0; row < height; ++row) {
        const auto line = static_cast<std::size_t>(row);
        std::memcpy(out.data() + line * plan->lineBytes, pixels + line * plan->pitch, plan->lineBytes);
    }
}

FrameCollector::FrameCollector(Plan plan) : m_plan(plan), m_sampler(m_plan.sheetTiles) {}

void FrameCollector::OnImageReady(ICameraObject* camera) {
    if (camera == nullptr) {
        return;
    }
    // The frame members and the description are this frame's only while the call lasts.
    const auto frameId = static_cast<uint32_t>(camera->m_nFrameId.load(std::memory_order_relaxed));
    const int32_t width = camera->m_nWidth;
    const int32_t height = camera->m_nHeight;
    const unsigned char* pixels = camera->m_pImageData;
    const FrameFormat format = describeFrame(*camera);

    const Decision decision = countFrame(frameId, width, height, format, pixels != nullptr);
    if (!decision.copy) {
        m_changed.notify_all();
        return;
    }
    CapturedFrame frame;
    frame.index = decision.index;
    frame.frameId = frameId;
    frame.width = width;
    frame.height = height;
    frame.layout = format.layout;
    frame.save = decision.save;
    frame.sample = decision.sample;
    bool copied = true;
    try {
        copyFrame(pixels, format, width, height, frame.bytes);
    } catch (const std::bad_alloc&) {
        copied = false; // the frame goes unsaved, like one the writer had no room for
    }
    {
        const std::lock_guard lock(m_mutex);
        if (copied) {
            m_captured.push_back(std::move(frame));
        } else {
            m_nKeptBytes -= decision.bytes;
            ++m_tally.writerBehind;
        }
    }
    m_changed.notify_all();
    m_captures.notify_one();
}

FrameCollector::Decision FrameCollector::countFrame(uint32_t frameId, int32_t width, int32_t height,
                                                    const FrameFormat& format, bool hasPixels) {
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
        m_tally.format = format;
    } else {
        if (width != m_tally.width || height != m_tally.height) {
            m_tally.sizeChanged = true;
            m_tally.width = width;
            m_tally.height = height;
        }
        if (!format.sameKind(*m_tally.format)) {
            m_tally.formatChanged = true;
        }
    }
    m_tally.lastArrival = now;
    followFrameId(frameId);

    decision.save = m_plan.saveEvery > 0 && decision.index % m_plan.saveEvery == 0;
    decision.sample = m_plan.sheetTiles > 0 && m_sampler.offer(decision.index);
    if (!decision.save && !decision.sample) {
        return decision;
    }
    const std::optional<std::size_t> bytes = copyableBytes(format, width, height);
    if (!hasPixels || !bytes) {
        ++m_tally.unreadable;
        return decision;
    }
    if (m_bClosed || m_nKeptBytes + *bytes > kMaxKeptBytes) {
        ++m_tally.writerBehind;
        return decision;
    }
    m_nKeptBytes += *bytes;
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
    m_changed.wait_until(lock, until, [&] { return m_tally.received != seenReceived; });
    return m_tally;
}

void FrameCollector::closeCaptures() {
    {
        const std::lock_guard lock(m_mutex);
        m_bClosed = true;
    }
    m_captures.notify_all();
}

std::optional<CapturedFrame> FrameCollector::nextCaptured() {
    std::unique_lock lock(m_mutex);
    m_captures.wait(lock, [&] { return !m_captured.empty() || m_bClosed; });
    if (m_captured.empty()) {
        return std::nullopt;
    }
    CapturedFrame frame = std::move(m_captured.front());
    m_captured.pop_front();
    return frame;
}

void FrameCollector::frameWritten(std::size_t bytes) {
    const std::lock_guard lock(m_mutex);
    m_nKeptBytes -= std::min(bytes, m_nKeptBytes);
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
