// The summary of one grab, as text for people and as JSON for scripts.
#pragma once

#include "contract/IVeyraCameraObject.h"
#include "host/ExitCode.h"
#include "host/FrameCollector.h"
#include "host/FrameWriter.h"
#include "host/ReceivedLayout.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace vxcam::host {

struct GrabReport {
    QString camera;
    QString trigger;
    std::optional<int32_t> exposureUs;
    std::optional<int64_t> framesAsked;
    std::optional<double> durationAsked;

    FrameTally tally;
    double elapsedS = 0.0; // from the start to the end of collecting
    int64_t softwareTriggers = 0;
    bool interrupted = false;

    // What the camera's streams counted (IGetStreamStatistics), read after the stop; none when the module
    // could not say.
    std::optional<VeyraStreamStatistics> stream;

    QString cameraPixelFormat; // empty when unknown
    QString pixelFormatSource; // where it came from
    ReceivedLayout layout;     // of the first frame, as the module described it
    uint64_t linePitch = 0;    // of the first frame, as the module described it
    uint64_t byteSize = 0;     //
    QString pixelsNote;        // why pixels were not read, when they were not
    QString moduleError;       // the first error the module logged while frames came
    int32_t contractBitsPerPixel = 0;
    int32_t contractImageFormat = 0;

    QString saveDir; // empty: nothing saved
    int64_t saveEvery = 1;
    std::vector<SavedFrame> saved;
    QString contactSheet; // empty: none written
    std::vector<int64_t> sheetFrames;
    int64_t framesNotSaved = 0;
    int64_t earlierPictures = 0; // frame pictures the folder held before the run

    ExitCode exitCode = ExitCode::Success;
    QString problem; // what went wrong, empty on success
    QString warning; // on success: what the run lost all the same (frames), why and what to do

    // Frames per second between the first and the last frame; nothing with fewer than two frames.
    [[nodiscard]] std::optional<double> framesPerSecond() const;
    [[nodiscard]] QString text() const;
    [[nodiscard]] QJsonObject json() const;
};

// Why the stream's counts are high, and what to do; empty while they are not. High: more than 1 % of the frames
// torn or missing, or any packet dropped for want of a buffer.
[[nodiscard]] QString likelyStreamCause(const VeyraStreamStatistics& stream);

// "1 frame", "2 frames".
[[nodiscard]] QString plural(int64_t count, const char* one, const char* many);

} // namespace vxcam::host
