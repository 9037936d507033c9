#include "sdk/sim/SimDevice.h"

#include "sdk/SdkExceptions.h"
#include "sdk/core/PixelFormats.h"

#include <algorithm>

namespace sdk::sim {

// ---- data-stream list ------------------------------------------------------------------------------------

void SimDataStreamList::Refresh() {
    m_device.m_site.pass("DataStreamList::Refresh");
    m_entries.clear();
    for (const auto& stream : m_device.m_streams) {
        m_entries.emplace_back(stream->GetID().str(), stream.get());
    }
}

void SimDataStreamList::onBegin() {
    m_device.m_site.pass("DataStreamList::begin");
}
void SimDataStreamList::onLookup(const std::string& key) {
    m_device.m_site.pass("DataStreamList::operator[]", key);
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

} // namespace

SimDevice::SimDevice(core::CallGate& gate, std::string id, SimDeviceConfig config)
    : m_id(std::move(id)), m_config(std::move(config)), m_site(gate, m_config.serial),
      m_pEngine(SimAcquisition::create(m_config, payloadSizeOf(m_config))), m_features(gate, m_config.serial),
      m_streamList(*this) {
    buildFeatures();
    const uint64_t payload = payloadSizeOf(m_config);
    for (uint32_t index = 0; index < m_config.streams; ++index) {
        m_streams.push_back(std::make_unique<SimDataStream>(gate, m_config.serial + "/" + std::to_string(index),
                                                            m_pEngine, index, payload, m_config.nullBufferList));
    }
}

// Streams go first: each ends its delivery thread.
SimDevice::~SimDevice() {
    m_streams.clear();
}

void SimDevice::buildFeatures() {
    const auto absent = [this](const std::string& name) {
        return std::find(m_config.absent.begin(), m_config.absent.end(), name) != m_config.absent.end();
    };
    const auto add = [&](std::unique_ptr<SimNode> node) {
        if (!absent(node->name())) {
            m_features.add(std::move(node));
        }
    };
    SimAcquisition& engine = *m_pEngine;
    add(SimNode::enumeration(m_site, "PixelFormat", {m_config.pixelFormat}, m_config.pixelFormat));
    add(SimNode::enumeration(m_site, "TriggerMode", {"Off", "On"}, "Off",
                             [&engine](const SimNode& node) { engine.setTriggerMode(node.stringValue()); }));
    add(SimNode::enumeration(m_site, "TriggerSource", m_config.triggerSources,
                             m_config.triggerSources.empty() ? std::string() : m_config.triggerSources.front(),
                             [&engine](const SimNode& node) { engine.setTriggerSource(node.stringValue()); }));
    add(SimNode::command(m_site, "TriggerSoftware", [&engine](const SimNode&) { engine.fireSoftwareTrigger(); }));
    add(SimNode::command(m_site, "AcquisitionStart", [&engine](const SimNode&) { engine.startAcquisition(); }));
    add(SimNode::command(m_site, "AcquisitionStop", [&engine](const SimNode&) { engine.stopAcquisition(); }));
    add(SimNode::command(m_site, "AcquisitionAbort", [&engine](const SimNode&) { engine.stopAcquisition(); }));
    const SimExposureConfig& exposure = m_config.exposure;
    add(SimNode::floating(m_site, exposure.feature, exposure.min, exposure.max, exposure.value));
}

void SimDevice::requireOpen(const char* call) const {
    if (!m_bOpen) {
        Exceptions::raise("NotAvailableException", call, "device " + m_config.serial + " is not open");
    }
}

String SimDevice::GetSerialNumber() {
    m_site.pass("Device::GetSerialNumber");
    return String(m_config.serial);
}

String SimDevice::GetModel() {
    m_site.pass("Device::GetModel");
    return String(m_config.model);
}

bool SimDevice::IsOpen() {
    m_site.pass("Device::IsOpen");
    return m_bOpen;
}

void SimDevice::Open() {
    m_site.pass("Device::Open");
    if (m_bOpen) {
        Exceptions::raise("ResourceException", "Device::Open", "device " + m_config.serial + " is already open");
    }
    m_bOpen = true;
}

// A closed camera sends nothing: its acquisition stops with it.
void SimDevice::Close() {
    m_site.pass("Device::Close");
    requireOpen("Device::Close");
    m_pEngine->stopAcquisition();
    m_bOpen = false;
}

NodeMap* SimDevice::GetRemoteNodeList() {
    m_site.pass("Device::GetRemoteNodeList");
    requireOpen("Device::GetRemoteNodeList");
    return &m_features;
}

Node* SimDevice::GetRemoteNode(const String& name) {
    m_site.passOn("Device::GetRemoteNode", name.view());
    requireOpen("Device::GetRemoteNode");
    SimNode* node = m_features.find(name.view());
    if (node == nullptr) {
        Exceptions::raise("NotFoundException", "Device::GetRemoteNode",
                          "device " + m_config.serial + " has no feature '" + name.str() + "'");
    }
    return node;
}

DataStreamList* SimDevice::GetDataStreams() {
    m_site.pass("Device::GetDataStreams");
    requireOpen("Device::GetDataStreams");
    return m_config.nullStreamList ? nullptr : &m_streamList;
}

} // namespace sdk::sim
