// The tool's callback object: counts every frame the module delivers, follows the frame IDs, asks the module
// what each frame's bytes are (IGetFrameLayout), and copies out the frames that are to be saved or sampled, for
// the picture writer's threads. Nothing of a frame is kept past OnImageReady except those copies.
#pragma once

#include "contract/ICameraObject.h"
#include "host/FrameSampler.h"
#include "host/ReceivedLayout.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace vxcam::host {

using Clock = std::chrono::steady_clock;

// What the module says a frame's bytes are.
struct FrameFormat {
    bool described = false;    // false: the module described nothing, and the pixels are not read
    QString cameraPixelFormat; // the camera's own, such as "BayerRG8"
    ReceivedLayout layout;     // of the bytes at m_pImageData, such as BGR8 for a converted frame
    uint64_t linePitch = 0;    // bytes from one line to the next; 0 when lines do not start on a byte
    uint64_t byteSize = 0;     // bytes the host may read at m_pImageData

    [[nodiscard]] bool sameKind(const FrameFormat& other) const {
        return cameraPixelFormat == other.cameraPixelFormat && layout.name == other.layout.name;
    }
};

// A frame copied out of the callback.
struct CapturedFrame {
    int64_t index = 0; // arrival order, from 0
    uint32_t frameId = 0;
    int32_t width = 0;
    int32_t height = 0;
    ReceivedLayout layout;
    std::vector<unsigned char> bytes; // in `layout`, lines one after another without padding
    bool save = false;                // to be written as a picture
    bool sample = false;              // offered to the contact sheet
};

// What the frames so far add up to.
struct FrameTally {
    int64_t received = 0;                 // frames counted (up to the limit)
    std::optional<uint32_t> firstFrameId; //
    std::optional<uint32_t> lastFrameId;  //
    int64_t gaps = 0;                     // places where the frame ID skipped ahead
    int64_t lost = 0;                     // frame IDs skipped in all
    int64_t outOfOrder = 0;               // frames whose ID repeated or went back
    Clock::time_point firstArrival{};     //
    Clock::time_point lastArrival{};      //
    int32_t width = 0;                    // of the last frame
    int32_t height = 0;                   //
    bool sizeChanged = false;             // not every frame had the first frame's size
    std::optional<FrameFormat> format;    // of the first frame
    bool formatChanged = false;           // not every frame had the first frame's format
    int64_t beyondLimit = 0;              // frames that came after the limit and were not counted
    int64_t unreadable = 0;               // frames to copy whose pixels the host could not read
    int64_t writerBehind = 0;             // frames to copy that found the writer's memory budget spent
};

// The module's description of the frame being delivered. Delivery thread, during OnImageReady only.
[[nodiscard]] FrameFormat describeFrame(ICameraObject& camera);
// Bytes of a copy of the frame (its lines without padding), when all of it lies within the memory the module
// lets the host read; nothing otherwise, or when the layout is one the tool does not read.
[[nodiscard]] std::optional<std::size_t> copyableBytes(const FrameFormat& format, int32_t width, int32_t height);
// Copies the frame at `pixels` into `out`, lines without padding; copyableBytes must have answered.
void copyFrame(const unsigned char* pixels, const FrameFormat& format, int32_t width, int32_t height,
               std::vector<unsigned char>& out);

class FrameCollector final : public ICameraCallback {
public:
    struct Plan {
        int64_t frameLimit = 0;     // frames to count, 0 for no limit
        int64_t saveEvery = 0;      // copy every k-th frame for saving; 0: none
        std::size_t sheetTiles = 0; // frames the contact sheet shows; 0: no sampling
    };

    explicit FrameCollector(Plan plan);

    // Called on the module's delivery thread, possibly from several at once.
    void OnImageReady(ICameraObject* camera) override;

    // ---- host thread ----
    [[nodiscard]] FrameTally tally() const;
    // Returns once the count differs from `seenReceived`, or at `until`.
    FrameTally waitForChange(int64_t seenReceived, Clock::time_point until) const;
    // No frame is copied any more (the camera has stopped); writers get what is queued, then nothing.
    void closeCaptures();
    // The arrival indices of the frames the contact sheet shows.
    [[nodiscard]] std::vector<int64_t> sheetFrames() const;

    // ---- the picture writer's threads (thread-safe) ----
    // The oldest copied frame; waits for one, and gives nothing once captures are closed and all are taken.
    [[nodiscard]] std::optional<CapturedFrame> nextCaptured();
    // A frame taken from nextCaptured is written: its bytes leave the memory budget.
    void frameWritten(std::size_t bytes);
    [[nodiscard]] bool stillSampled(int64_t index) const;

    // Copies may hold this many bytes before frames to save are let go: the writer's threads may fall behind
    // a fast camera for a while, but must not fill memory.
    static constexpr std::size_t kMaxKeptBytes = std::size_t{2} << 30U;

private:
    struct Decision {
        int64_t index = -1;
        bool save = false;
        bool sample = false;
        bool copy = false;
        std::size_t bytes = 0;
    };
    Decision countFrame(uint32_t frameId, int32_t width, int32_t height, const FrameFormat& format, bool hasPixels);
    void followFrameId(uint32_t frameId);

    const Plan m_plan;
    // Guards every member below: frames arrive on the delivery threads while the host thread and the writer's
    // threads read.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;  // a frame was counted or copied
    mutable std::condition_variable m_captures; // a copy was queued, or captures were closed
    FrameTally m_tally;
    FrameSampler m_sampler;
    std::deque<CapturedFrame> m_captured; // copies waiting for a writer thread
    std::size_t m_nKeptBytes = 0;         // bytes of the copies in progress, queued or being written
    bool m_bClosed = false;               // no more copies come
};

} // namespace vxcam::host
