#include "tests/support/SdkInspection.h"

#include <cstddef>
#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocators count their own heap; the call comes with every sanitizer runtime.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes(); // NOLINT(bugprone-reserved-identifier)
#define VXCAM_TEST_SANITIZED_HEAP 1
#endif

namespace vxcam::test {

std::vector<sdk::Device*> allDevices() {
    std::vector<sdk::Device*> found;
    sdk::SystemList* systems = sdk::SystemList::GetInstance();
    if (systems == nullptr) {
        return found;
    }
    for (auto& system : *systems) {
        sdk::InterfaceList* interfaces = system.second->GetInterfaces();
        if (interfaces == nullptr) {
            continue;
        }
        interfaces->Refresh(0);
        for (auto& iface : *interfaces) {
            sdk::DeviceList* devices = iface.second->GetDevices();
            if (devices == nullptr) {
                continue;
            }
            devices->Refresh(0);
            for (auto& device : *devices) {
                found.push_back(device.second);
            }
        }
    }
    return found;
}

std::vector<sdk::Device*> devicesWithSerial(const std::string& serial) {
    std::vector<sdk::Device*> found;
    for (sdk::Device* device : allDevices()) {
        if (device->GetSerialNumber().str() == serial) {
            found.push_back(device);
        }
    }
    return found;
}

std::vector<uint64_t> bufferListSizes(sdk::Device* device) {
    const bool wasOpen = device->IsOpen();
    if (!wasOpen) {
        device->Open();
    }
    std::vector<uint64_t> sizes;
    if (sdk::DataStreamList* streams = device->GetDataStreams()) {
        streams->Refresh();
        for (auto& stream : *streams) {
            sdk::BufferList* buffers = stream.second->GetBufferList();
            sizes.push_back(buffers != nullptr ? buffers->size() : 0);
        }
    }
    if (!wasOpen) {
        device->Close();
    }
    return sizes;
}

void awaitStreamsIdle(sdk::Device* device) {
    const bool wasOpen = device->IsOpen();
    if (!wasOpen) {
        device->Open();
    }
    if (sdk::DataStreamList* streams = device->GetDataStreams()) {
        streams->Refresh();
        for (auto& stream : *streams) {
            stream.second->StopAcquisition();
        }
    }
    if (!wasOpen) {
        device->Close();
    }
}

uint64_t heapBytesInUse() {
#if defined(VXCAM_TEST_SANITIZED_HEAP)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

} // namespace vxcam::test
