// Turns the frames copied out of the callback into PNG files and contact-sheet tiles, on threads of its own,
// so that pictures of large frames are encoded side by side while the camera runs.
#pragma once

#include "host/FrameCollector.h"

#include <QImage>
#include <QString>

#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vxcam::host {

struct SavedFrame {
    QString path;
    int64_t index = 0;
    uint32_t frameId = 0;
};

// A sampled frame, shrunk for the contact sheet.
struct FrameTile {
    QImage picture;
    uint32_t frameId = 0;
};

// Writes `image` as PNG at `path`, or says why it could not: nothing is left under `path` then (the picture
// goes to a temporary name first and is renamed once it is complete). Thread-safe.
[[nodiscard]] std::optional<QString> writePng(const QImage& image, const QString& path);

class FrameWriter {
public:
    // Pictures go into `directory` (which must exist) as frame-NNNNNN.png, NNNNNN the arrival index. Starts the
    // threads, which take frames from `collector` until its captures are closed; `collector` outlives the
    // writer. Host thread.
    FrameWriter(QString directory, FrameCollector& collector);
    // Closes the collector's captures and waits for the threads.
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Host thread, after the camera has stopped: writes what is still queued and waits for the threads. The
    // calls below give the whole run's answers only after it.
    void finish();

    // The tiles of `indices`, in that order, leaving out those the writer never got.
    [[nodiscard]] std::vector<FrameTile> tilesOf(const std::vector<int64_t>& indices) const;
    // In arrival order.
    [[nodiscard]] std::vector<SavedFrame> saved() const;
    // Pictures that could not be written, and the first reason.
    [[nodiscard]] int64_t failures() const;
    [[nodiscard]] QString firstFailure() const;

    // Writes `image` as PNG at `path`; false, with the reason kept, when that fails. Thread-safe.
    bool savePng(const QImage& image, const QString& path);

private:
    void writeFrames();
    void write(CapturedFrame& frame);
    void fail(const QString& reason);

    const QString m_directory;
    FrameCollector& m_collector;
    std::vector<std::thread> m_threads; // host thread only
    // Guards the members below, which the writer's threads fill and the host thread reads.
    mutable std::mutex m_mutex;
    std::vector<SavedFrame> m_saved;
    std::map<int64_t, FrameTile> m_tiles; // by arrival index
    int64_t m_nFailures = 0;
    QString m_firstFailure;
};

} // namespace vxcam::host
