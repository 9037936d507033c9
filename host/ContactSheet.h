// Contact sheets: small copies of frames laid out in rows on one picture.
#pragma once

#include <QImage>

#include <vector>

namespace vxcam::host {

// `frame` as an RGB888 tile whose longer side is at most `maxSide`, shrunk by a whole factor (smaller frames
// keep their size). The tool does its own pixel work: Qt runs conversions and smooth scaling of large images
// on its thread pool, which the tool has no use for.
[[nodiscard]] QImage thumbnailOf(const QImage& frame, int maxSide = 240);

// `frame` (as frameImage makes it) as Format_RGB32, converted here rather than in Qt, whose conversions of larger
// images run on its thread pool.
[[nodiscard]] QImage rgb32Of(const QImage& frame);

// `tile` (RGB888) above a strip that carries `label` (the camera and the frame ID), as one RGB888 tile at least
// as wide as the text. Needs the GUI application object (for the font).
[[nodiscard]] QImage labelledTile(const QImage& tile, const QString& label);

// The label strip's height and colours, for whoever reads sheets back.
inline constexpr int kLabelHeight = 14;
inline constexpr unsigned char kLabelStrip[3] = {24, 32, 72};

// One RGB888 picture with the RGB888 tiles of each row left to right and the rows top to bottom, every tile in
// a cell as large as the largest tile, on a dark background. A null image when there is no tile.
[[nodiscard]] QImage composeSheet(const std::vector<std::vector<QImage>>& rows);

// `tiles` cut into rows of `columns`.
[[nodiscard]] std::vector<std::vector<QImage>> gridOf(const std::vector<QImage>& tiles, std::size_t columns);

} // namespace vxcam::host
