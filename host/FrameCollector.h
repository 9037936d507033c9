// The tool's callback object: counts every frame the module delivers, follows the frame IDs, and copies out
// the frames that are to be saved or sampled, for the host thread to write. Nothing of a frame is kept past
// OnImageReady except those copies.
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

// A frame copied out of the callback.
struct CapturedFrame {
    int64_t index = 0; // arrival order, from 0
    uint32_t frameId = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<unsigned char> bytes; // in the received layout
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
    int64_t beyondLimit = 0;              // frames that came after the limit and were not counted
    int64_t unreadable = 0;               // frames to copy whose pixels the host could not read
    int64_t writerBehind = 0;             // frames to copy that found the writer's queue full
};

class FrameCollector final : public ICameraCallback {
public:
    struct Plan {
        ReceivedLayout layout;      // how to read m_pImageData
        uint64_t readableBytes = 0; // the most bytes a frame's memory is known to hold; 0: no limit known
        int64_t frameLimit = 0;     // frames to count, 0 for no limit
        int64_t saveEvery = 0;      // copy every k-th frame for saving; 0: none
        std::size_t sheetTiles = 0; // frames the contact sheet shows; 0: no sampling
    };

    explicit FrameCollector(Plan plan);

    // Called on the module's delivery thread, possibly from several at once.
    void OnImageReady(ICameraObject* camera) override;

    // ---- host thread ----
    [[nodiscard]] FrameTally tally() const;
    // Returns once the count differs from `seenReceived`, a copied frame is waiting, or at `until`.
    FrameTally waitForChange(int64_t seenReceived, Clock::time_point until) const;
    // The oldest copied frames waiting to be written, at most `most` of them (0: all), out of the queue.
    [[nodiscard]] std::vector<CapturedFrame> takeCaptured(std::size_t most = 0);
    // The arrival indices of the frames the contact sheet shows.
    [[nodiscard]] std::vector<int64_t> sheetFrames() const;
    [[nodiscard]] bool stillSampled(int64_t index) const;

private:
    struct Decision {
        int64_t index = -1;
        bool save = false;
        bool sample = false;
        bool copy = false;
        std::size_t bytes = 0;
    };
    Decision countFrame(uint32_t frameId, int32_t width, int32_t height, bool hasPixels);
    void followFrameId(uint32_t frameId);

    const Plan m_plan;
    // Guards every member below: frames arrive on the delivery threads while the host thread reads.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed; // a frame was counted or copied
    FrameTally m_tally;
    FrameSampler m_sampler;
    std::deque<CapturedFrame> m_captured; // copies waiting for the host thread
    std::size_t m_nReserved = 0;          // queue places held by copies in progress, counted with m_captured
    std::size_t m_nQueuedBytes = 0;       // bytes of the copies queued or in progress
};

} // namespace vxcam::host
