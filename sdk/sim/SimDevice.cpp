#include "sdk/sim/SimDevice.h"

#include "sdk/core/PixelFormats.h"

#include <algorithm>
#include <limits>

namespace sdk::sim {

// ---- data-stream list ------------------------------------------------------------------------------------

SimDataStreamList::SimDataStreamList(SimDevice& device) : DataStreamList(device.site()), m_device(device) {}

void SimDataStreamList::doRefresh() {
    m_entries.clear();
    m_device.makeStreams();
    for (const auto& stream : m_device.m_streams) {
        m_entries.emplace_back(stream->GetID().str(), stream.get());
    }
}

// ---- device ----------------------------------------------------------------------------------------------

namespace {

// Bytes of one buffer: as configured, or what width, height and pixel format need (one byte a pixel for a
// format the SDK does not know).
uint64_t payloadSizeOf(const SimDeviceConfig& config) {
    if (config.payloadSize != 0) {
        return config.payloadSize;
    }
    if (const core::PixelFormatInfo* format = core::findPixelFormat(config.pixelFormat)) {
        return core::framePayloadSize(*format, config.width, config.height);
    }
    return uint64_t{config.width} * config.height;
}

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

SimDevice::SimDevice(core::CallGate& gate, std::string id, SimDeviceConfig config)
    : Device(gate, std::move(id), config.serial, config.model), m_gate(gate), m_config(std::move(config)),
      m_pEngine(SimAcquisition::create(m_config, payloadSizeOf(m_config))), m_features(gate, m_config.serial),
      m_streamList(*this) {
    buildFeatures();
}

// Streams go first: each ends its delivery thread.
SimDevice::~SimDevice() {
    doEndStreams();
}

// Made by the stream list's first refresh after an opening (or after a close that raised and left the device
// open), ended by the close.
void SimDevice::makeStreams() {
    if (!m_streams.empty()) {
        return;
    }
    const uint64_t payload = payloadSizeOf(m_config);
    for (uint32_t index = 0; index < m_config.streams; ++index) {
        m_streams.push_back(SimDataStream::create(m_gate, m_config.serial + "/" + std::to_string(index), m_pEngine,
                                                  payload, m_config.nullBufferList));
    }
}

void SimDevice::doEndStreams() noexcept {
    m_streamList.forget();
    m_streams.clear();
}

void SimDevice::buildFeatures() {
    const auto add = [&](std::unique_ptr<SimNode> node) {
        if (listed(m_config.absent, node->name())) {
            return;
        }
        if (listed(m_config.unavailable, node->name())) {
            node->setAccessMode(AccessMode::NotAvailable);
        } else if (listed(m_config.readOnly, node->name())) {
            node->setAccessMode(AccessMode::ReadOnly);
        }
        m_features.add(std::move(node));
    };
    const CallSite& device = site();
    SimAcquisition& engine = *m_pEngine;
    add(SimNode::enumeration(device, "PixelFormat", {m_config.pixelFormat}, m_config.pixelFormat));
    add(SimNode::enumeration(device, "TriggerMode", {"Off", "On"}, "Off",
                             [&engine](const SimNode& node) { engine.setTriggerMode(node.stringValue()); }));
    add(SimNode::enumeration(device, "TriggerSource", m_config.triggerSources,
                             m_config.triggerSources.empty() ? std::string() : m_config.triggerSources.front(),
                             [&engine](const SimNode& node) { engine.setTriggerSource(node.stringValue()); }));
    add(SimNode::command(device, "TriggerSoftware", [&engine](const SimNode&) { engine.fireSoftwareTrigger(); }));
    add(SimNode::command(device, "AcquisitionStart", [&engine](const SimNode&) { engine.startAcquisition(); }));
    add(SimNode::command(device, "AcquisitionStop", [&engine](const SimNode&) { engine.stopAcquisition(); }));
    add(SimNode::command(device, "AcquisitionAbort", [&engine](const SimNode&) { engine.stopAcquisition(); }));
    const SimExposureConfig& exposure = m_config.exposure;
    add(SimNode::floating(device, exposure.feature, exposure.min, exposure.max, exposure.value));

    // What the camera tells about its image and itself; fixed by its configuration, so read-only.
    const auto fixed = [&](std::unique_ptr<SimNode> node) {
        node->setAccessMode(AccessMode::ReadOnly);
        add(std::move(node));
    };
    fixed(SimNode::integer(device, "Width", 1, m_config.width, 1, m_config.width));
    fixed(SimNode::integer(device, "Height", 1, m_config.height, 1, m_config.height));
    const auto payload = static_cast<int64_t>(payloadSizeOf(m_config));
    fixed(SimNode::integer(device, "PayloadSize", payload, payload, 1, payload));
    fixed(SimNode::text(device, "DeviceSerialNumber", m_config.serial));
    fixed(SimNode::text(device, "DeviceModelName", m_config.model));
}

} // namespace sdk::sim
