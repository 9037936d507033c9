// Throughput of the image processor on 2448 x 2048 frames, one core: each conversion next to the bare OpenCV call
// on the same buffer (where OpenCV has one) and next to a memcpy of the BGR8 output, all in megapixels per
// second. The three run in turn within each iteration, so that whatever else the machine does weighs on all of
// them alike and their ratios can be read off one row. Small frames show the fixed cost per frame, with and
// without an SDK session whose call gate is asked.
//
// Run: taskset -c 1 build/bin/vxcam_convert_bench   (OpenCV's own threads are switched off in main)
#include "sdk/ImageProcessor.h"
#include "sdk/SystemList.h"
#include "sdk/core/PixelFormats.h"
#include "sdk/sim/SimPattern.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kWidth = 2448;
constexpr uint32_t kHeight = 2048;

// Rendered once per format and kept: rendering is slow on purpose.
std::vector<unsigned char>& frameOf(const std::string& format, uint32_t width, uint32_t height) {
    static std::map<std::string, std::vector<unsigned char>> frames;
    const std::string key = format + "/" + std::to_string(width) + "x" + std::to_string(height);
    auto it = frames.find(key);
    if (it == frames.end()) {
        const sdk::core::PixelFormatInfo* info = sdk::core::findPixelFormat(format);
        std::vector<unsigned char> frame(info != nullptr ? sdk::core::framePayloadSize(*info, width, height) : 0);
        if (!sdk::sim::renderColourBars(format, width, height, frame.data(), frame.size())) {
            throw std::runtime_error("cannot render " + key);
        }
        it = frames.emplace(key, std::move(frame)).first;
    }
    return it->second;
}

// One frame through the SDK: an image over the frame, its BGR8 conversion, both released.
void convertWithProcessor(sdk::ImageProcessor& processor, const std::string& format, uint32_t width, uint32_t height,
                          std::vector<unsigned char>& frame) {
    sdk::Image* source = processor.CreateImage(width, height, format.c_str(), frame.data(), frame.size());
    sdk::Image* bgr = source->TransformImage("BGR8");
    benchmark::DoNotOptimize(bgr->GetBuffer());
    source->Release();
    bgr->Release();
    benchmark::ClobberMemory();
}

void convertSmallFrames(benchmark::State& state, const std::string& format, uint32_t width, uint32_t height) {
    std::vector<unsigned char>& frame = frameOf(format, width, height);
    sdk::ImageProcessor& processor = *sdk::ImageProcessor::GetInstance();
    for (auto _ : state) {
        convertWithProcessor(processor, format, width, height, frame);
    }
}

// The bare OpenCV calls that do the same work, on the same buffer, into a BGR8 output allocated once.
using OpenCvCall = std::function<void(const cv::Mat& frame, cv::Mat& bgr)>;

OpenCvCall colourConversion(int code) {
    return [code](const cv::Mat& frame, cv::Mat& bgr) { cv::cvtColor(frame, bgr, code); };
}

// 16-bit containers: OpenCV's way is to scale to bytes first, then convert.
OpenCvCall scaledThenConverted(int code, int significantBits) {
    return [code, significantBits](const cv::Mat& frame, cv::Mat& bgr) {
        thread_local cv::Mat bytes;
        frame.convertTo(bytes, CV_8U, 1.0 / static_cast<double>(1 << (significantBits - 8)));
        cv::cvtColor(bytes, bgr, code);
    };
}

struct Conversion {
    const char* format;
    int inputType;     // OpenCV element type of the frame, for the bare call
    OpenCvCall openCv; // empty where OpenCV has no kernel
};

std::vector<Conversion> conversions() {
    const OpenCvCall none;
    return {
        {"Mono8", CV_8UC1, colourConversion(cv::COLOR_GRAY2BGR)},
        {"Mono10", CV_16UC1, scaledThenConverted(cv::COLOR_GRAY2BGR, 10)},
        {"Mono12", CV_16UC1, scaledThenConverted(cv::COLOR_GRAY2BGR, 12)},
        {"Mono16", CV_16UC1, scaledThenConverted(cv::COLOR_GRAY2BGR, 16)},
        {"Mono10p", CV_8UC1, none},
        {"Mono12p", CV_8UC1, none},
        {"Mono12Packed", CV_8UC1, none},
        {"Mono10Packed", CV_8UC1, none},
        {"BayerRG8", CV_8UC1, colourConversion(cv::COLOR_BayerBG2BGR)},
        {"BayerGB8", CV_8UC1, colourConversion(cv::COLOR_BayerGR2BGR)},
        {"BayerRG10", CV_16UC1, scaledThenConverted(cv::COLOR_BayerBG2BGR, 10)},
        {"BayerRG12", CV_16UC1, scaledThenConverted(cv::COLOR_BayerBG2BGR, 12)},
        {"BayerRG16", CV_16UC1, scaledThenConverted(cv::COLOR_BayerBG2BGR, 16)},
        {"BayerRG10p", CV_8UC1, none},
        {"BayerRG12p", CV_8UC1, none},
        {"BayerRG12Packed", CV_8UC1, none},
        {"BayerRG10Packed", CV_8UC1, none},
        {"BayerBG10Packed", CV_8UC1, none},
        {"RGB8", CV_8UC3, colourConversion(cv::COLOR_RGB2BGR)},
        {"BayerRGB8Packed", CV_8UC3, colourConversion(cv::COLOR_RGB2BGR)},
        {"BGR8", CV_8UC3, [](const cv::Mat& frame, cv::Mat& bgr) { frame.copyTo(bgr); }},
        {"RGBa8", CV_8UC4, colourConversion(cv::COLOR_RGBA2BGR)},
        {"BGRa8", CV_8UC4, colourConversion(cv::COLOR_BGRA2BGR)},
        {"YUV422Packed", CV_8UC2, colourConversion(cv::COLOR_YUV2BGR_UYVY)},
        {"YUV422_8", CV_8UC2, colourConversion(cv::COLOR_YUV2BGR_YUY2)},
        {"YUV411Packed", CV_8UC1, none},
        {"YUV444Packed", CV_8UC1, none},
        {"YUV422_8_UYVY", CV_8UC2, colourConversion(cv::COLOR_YUV2BGR_UYVY)},
        {"YUV411_8_UYYVYY", CV_8UC1, none},
        {"YUV8_UYV", CV_8UC1, none},
    };
}

// The calling thread's CPU time: on a machine shared with other work, time spent descheduled counts for none of
// the three.
struct Clock {
    using time_point = double; // seconds
    static time_point now() noexcept {
        timespec spec{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spec);
        return static_cast<double>(spec.tv_sec) + static_cast<double>(spec.tv_nsec) * 1e-9;
    }
};

double secondsSince(Clock::time_point& mark) {
    const Clock::time_point now = Clock::now();
    const double seconds = now - mark;
    mark = now;
    return seconds;
}

// Ours, the bare OpenCV call (if any) and the memcpy of the output, in turn, each timed on its own. A memcpy runs
// before each conversion and leaves the caches in the same state for both; the two conversions take turns at
// going first, so that neither profits from the other having just read the frame.
void compareOnFullFrames(benchmark::State& state, const Conversion& c) {
    std::vector<unsigned char>& frame = frameOf(c.format, kWidth, kHeight);
    sdk::ImageProcessor& processor = *sdk::ImageProcessor::GetInstance();
    const cv::Mat input(static_cast<int>(kHeight), static_cast<int>(kWidth), c.inputType, frame.data());
    cv::Mat bgr(static_cast<int>(kHeight), static_cast<int>(kWidth), CV_8UC3);
    const std::size_t outputBytes = std::size_t{kWidth} * kHeight * 3;
    std::vector<unsigned char> copyFrom(outputBytes, 7);
    std::vector<unsigned char> copyTo(outputBytes);
    double ours = 0;
    double openCv = 0;
    double copy = 0;
    uint64_t copies = 0;
    const auto copyOutput = [&](Clock::time_point& mark) {
        std::memcpy(copyTo.data(), copyFrom.data(), outputBytes);
        benchmark::DoNotOptimize(copyTo.data());
        benchmark::ClobberMemory();
        copy += secondsSince(mark);
        ++copies;
    };
    const auto runOurs = [&](Clock::time_point& mark) {
        convertWithProcessor(processor, c.format, kWidth, kHeight, frame);
        ours += secondsSince(mark);
    };
    const auto runOpenCv = [&](Clock::time_point& mark) {
        c.openCv(input, bgr);
        benchmark::DoNotOptimize(bgr.data);
        benchmark::ClobberMemory();
        openCv += secondsSince(mark);
    };
    bool oursFirst = true;
    for (auto _ : state) {
        Clock::time_point mark = Clock::now();
        copyOutput(mark);
        if (oursFirst || !c.openCv) {
            runOurs(mark);
        } else {
            runOpenCv(mark);
        }
        if (c.openCv) {
            copyOutput(mark);
            if (oursFirst) {
                runOpenCv(mark);
            } else {
                runOurs(mark);
            }
        }
        oursFirst = !oursFirst;
    }
    const double frames = static_cast<double>(state.iterations());
    const double megapixels = static_cast<double>(kWidth) * kHeight / 1e6;
    const double copySeconds = copy / static_cast<double>(copies);
    state.counters["ours_MPix/s"] = megapixels * frames / ours;
    state.counters["memcpy_MPix/s"] = megapixels / copySeconds;
    state.counters["ours/memcpy"] = copySeconds * frames / ours;
    if (c.openCv) {
        state.counters["opencv_MPix/s"] = megapixels * frames / openCv;
        state.counters["ours/opencv"] = openCv / ours;
    }
}

// An SDK session for the gate benchmarks, from a configuration with one simulated camera and, optionally, one
// fault rule that never strikes the conversion calls (so that the gate takes its slow path).
class BenchSession {
public:
    explicit BenchSession(bool withRule) {
        QFile file(m_dir.filePath(QStringLiteral("cameras.json")));
        if (!file.open(QIODevice::WriteOnly)) {
            throw std::runtime_error("cannot write the session's configuration");
        }
        file.write(
            withRule
                ? R"({ "systems": [ { "id": "s", "interfaces": [ { "id": "i", "devices": [ { "serial": "B1" } ] } ] } ],
                    "faults": [ { "call": "Device::Open", "match": "nobody" } ] })"
                : R"({ "systems": [ { "id": "s", "interfaces": [ { "id": "i", "devices": [ { "serial": "B1" } ] } ] } ] })");
        file.close();
        qputenv("VXCAM_SIM_CONFIG", file.fileName().toLocal8Bit());
        static_cast<void>(sdk::SystemList::GetInstance());
    }
    ~BenchSession() {
        sdk::SystemList::ReleaseInstance();
        qunsetenv("VXCAM_SIM_CONFIG");
    }
    BenchSession(const BenchSession&) = delete;
    BenchSession& operator=(const BenchSession&) = delete;

private:
    QTemporaryDir m_dir;
};

void registerAll() {
    for (const Conversion& c : conversions()) {
        benchmark::RegisterBenchmark(c.format, [c](benchmark::State& state) {
            compareOnFullFrames(state, c);
        })->Unit(benchmark::kMillisecond);
    }
    // The fixed cost of a frame, on a 16 x 2 frame that our own kernel converts in a few nanoseconds: without a
    // session, in a session (the call gate is looked up), and in one with fault rules (the gate also checks them).
    static const char* const kNames[] = {"per_frame/no_session", "per_frame/session", "per_frame/session_rules"};
    for (const int session : {0, 1, 2}) {
        benchmark::RegisterBenchmark(kNames[session], [session](benchmark::State& state) {
            std::unique_ptr<BenchSession> open;
            if (session > 0) {
                open = std::make_unique<BenchSession>(session == 2);
            }
            convertSmallFrames(state, "YUV444Packed", 16, 2);
        });
    }
}

} // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1); // one core for OpenCV inside the SDK and for the bare calls alike
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
