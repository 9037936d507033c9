// What the simulated cameras show, as the tests expect to find it in the pictures: eight vertical bars, left to
// right white, yellow, cyan, green, magenta, red, blue, black (bar k spans columns k*w/8 to (k+1)*w/8); mono
// cameras send the BT.601 luma of each bar, scaled to their bit depth.
#pragma once

#include <QImage>
#include <QRgb>

#include <array>
#include <utility>
#include <vector>

namespace vxcam::test {

struct Colour {
    int red;
    int green;
    int blue;
    bool operator==(const Colour& other) const {
        return red == other.red && green == other.green && blue == other.blue;
    }
};

// Every channel within `tolerance`: YUV's 8-bit round trip may move a channel by one.
bool closeTo(const Colour& seen, const Colour& expected, int tolerance);

inline constexpr std::array<Colour, 8> kBars{{
    {255, 255, 255},
    {255, 255, 0},
    {0, 255, 255},
    {0, 255, 0},
    {255, 0, 255},
    {255, 0, 0},
    {0, 0, 255},
    {0, 0, 0},
}};

// The middle column of bar `bar` in a picture `width` wide.
int barMiddle(int bar, int width);

// The grey value a camera of `bits` bits sends for `bar`: its luma scaled to 2^bits - 1, rounded.
int cameraGrey(int bar, int bits);
// That value stretched to 16 bits as the tool writes deeper-than-8-bit grey (v * 65535 / (2^bits - 1), rounded).
int stretchedGrey(int bar, int bits);

Colour colourAt(const QImage& image, int x, int y);
// The 16-bit value of a Grayscale16 picture.
int grey16At(const QImage& image, int x, int y);

// Along row `y`, the colours of the runs of at least `shortest` equal pixels that are not `background`, one
// entry per run.
std::vector<Colour> colourRuns(const QImage& image, int y, Colour background, int shortest = 1);
// The first and the last row of each band of rows that hold anything but `background`, top to bottom.
std::vector<std::pair<int, int>> bands(const QImage& image, Colour background);
// The rows in the middle of each such band.
std::vector<int> bandMiddles(const QImage& image, Colour background);

} // namespace vxcam::test
