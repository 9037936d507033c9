// The simulated producer's configuration: systems, interfaces and devices described in a JSON file, and the
// faults to inject into SDK calls.
#pragma once

#include "sdk/core/CallGate.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sdk::sim {

struct SimExposureConfig {
    std::string feature = "ExposureTime"; // or "ExposureTimeAbs"
    double min = 10.0;
    double max = 1000000.0;
    double value = 5000.0;
};

struct SimDeviceConfig {
    std::string serial; // required
    std::string model = "VX-1";
    std::string pixelFormat = "Mono8";
    uint32_t width = 640;
    uint32_t height = 480;
    double frameRate = 30.0; // frames per second in free run
    double lineRate = 0.0;   // pulses per second on Line0
    uint32_t streams = 1;
    uint64_t firstFrameId = 0;
    uint64_t payloadSize = 0; // bytes per buffer; 0: what width, height and pixel format need
    std::vector<std::string> triggerSources{"Line0", "Software"};
    SimExposureConfig exposure;
    std::vector<std::string> absent;      // features the camera lacks
    std::vector<std::string> readOnly;    // features it has read-only
    std::vector<std::string> unavailable; // features it has, not available now
    double incompleteRatio = 0.0;         // share of frames that arrive with packets lost: 0..1
    bool nullStreamList = false;          // Device::GetDataStreams answers null
    bool nullBufferList = false;          // DataStream::GetBufferList answers null
};

struct SimInterfaceConfig {
    std::string id;
    std::vector<SimDeviceConfig> devices;
    bool nullDeviceList = false; // Interface::GetDevices answers null
};

struct SimSystemConfig {
    std::string id;
    std::vector<SimInterfaceConfig> interfaces;
    bool nullInterfaceList = false; // System::GetInterfaces answers null
};

struct SimConfig {
    std::vector<SimSystemConfig> systems;
    std::vector<core::FaultRule> faults;
    bool nullSystemList = false; // SystemList::GetInstance answers null
};

// Reads the file at `path`. On failure returns nothing and sets `error` to what is wrong and where.
std::optional<SimConfig> loadSimConfig(const QString& path, QString& error);
// Parses `json`, as loadSimConfig does with a file's content.
std::optional<SimConfig> parseSimConfig(const QByteArray& json, QString& error);

} // namespace sdk::sim
