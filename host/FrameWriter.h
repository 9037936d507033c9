// Turns the frames copied out of the callback into PNG files and contact-sheet tiles, on the host thread.
#pragma once

#include "host/FrameCollector.h"
#include "host/ReceivedLayout.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

namespace vxcam::host {

struct SavedFrame {
    QString path;
    int64_t index = 0;
    uint32_t frameId = 0;
};

class FrameWriter {
public:
    // Pictures go into `directory` (which must exist) as frame-NNNNNN.png, NNNNNN the arrival index.
    FrameWriter(QString directory, ReceivedLayout layout);

    // Writes the frames that are to be saved and keeps tiles of those sampled that `collector` still samples.
    void take(std::vector<CapturedFrame> frames, const FrameCollector& collector);

    // The tiles of `indices`, in that order, leaving out those the writer never got.
    [[nodiscard]] std::vector<QImage> tilesOf(const std::vector<int64_t>& indices) const;

    [[nodiscard]] const std::vector<SavedFrame>& saved() const { return m_saved; }
    // Pictures that could not be written, and the first reason.
    [[nodiscard]] int64_t failures() const { return m_nFailures; }
    [[nodiscard]] QString firstFailure() const { return m_firstFailure; }

    // Writes `image` as PNG at `path`; false, with the reason kept, when that fails.
    bool savePng(const QImage& image, const QString& path);

private:
    void fail(const QString& reason);

    QString m_directory;
    ReceivedLayout m_layout;
    std::vector<SavedFrame> m_saved;
    std::map<int64_t, QImage> m_tiles; // by arrival index
    int64_t m_nFailures = 0;
    QString m_firstFailure;
};

} // namespace vxcam::host
