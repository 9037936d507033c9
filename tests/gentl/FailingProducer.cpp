// vxcam-failing.cti: a GenTL producer that refuses every call with an error and its own description, for tests
// of what a broken maker's producer does to the host. The functions that VXCAM_FAILING_CTI_ANSWERS names
// (comma-separated) answer instead, as a producer with one system, one interface "bad0" and one device "BAD1"
// would, so that a test chooses how far a consumer gets before the refusals start.
//
// VXCAM_FAILING_CTI_GARBAGE makes those answers broken instead, as a faulty producer's can be:
// - "null-handles": success, with a null handle;
// - "unterminated": texts that fill the whole room given, without a terminator, and report a size beyond it;
// - "counts": four billion interfaces, devices or streams.
//
// VXCAM_FAILING_CTI_BLOCKS names one function that does not return until the process ends, whether it answers
// or refuses.
#define GENTL_PRODUCER
#include "sdk/gentl/GenTL.h"

// The refusals need none of their arguments, and the answers few.
// NOLINTBEGIN(readability-named-parameter)

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

thread_local std::string t_lastError;
int g_token = 0; // the one handle of every kind this producer gives

bool garbage(const char* kind) {
    const char* chosen = std::getenv("VXCAM_FAILING_CTI_GARBAGE"); // NOLINT(concurrency-mt-unsafe): read only
    return chosen != nullptr && std::strcmp(chosen, kind) == 0;
}

// Calls blocked by the choice below. They are let go when the process ends, and the end waits (a second at
// most) until they have left the producer: a thread still inside it would be in the way of the process's last
// checks (the leak checker's).
std::mutex g_blockMutex;
std::condition_variable g_blockChanged;
bool g_released = false; // guarded by g_blockMutex
int g_blocked = 0;       // guarded by g_blockMutex

void releaseBlocked() {
    std::unique_lock lock(g_blockMutex);
    g_released = true;
    g_blockChanged.notify_all();
    g_blockChanged.wait_for(lock, std::chrono::seconds(1), [] { return g_blocked == 0; });
}

const int g_releaseAtExit = std::atexit(&releaseBlocked);

// Blocks the calling thread until the process ends when `function` is the one chosen to block.
void blockIfChosen(const char* function) {
    const char* chosen = std::getenv("VXCAM_FAILING_CTI_BLOCKS"); // NOLINT(concurrency-mt-unsafe): read only
    if (chosen == nullptr || std::strcmp(chosen, function) != 0) {
        return;
    }
    std::unique_lock lock(g_blockMutex);
    ++g_blocked;
    g_blockChanged.wait(lock, [] { return g_released; });
    --g_blocked;
    g_blockChanged.notify_all();
}

bool answers(const char* function) {
    const char* list = std::getenv("VXCAM_FAILING_CTI_ANSWERS"); // NOLINT(concurrency-mt-unsafe): read only
    if (list == nullptr) {
        return false;
    }
    const std::string names = std::string(",") + list + ",";
    return names.find(std::string(",") + function + ",") != std::string::npos;
}

GC_ERROR refuse(const char* function) {
    t_lastError = std::string("the failing producer refuses ") + function;
    return GC_ERR_ERROR;
}

GC_ERROR putText(const char* text, void* buffer, size_t* size) {
    if (size == nullptr) {
        return GC_ERR_INVALID_PARAMETER;
    }
    const size_t needed = std::strlen(text) + 1;
    if (garbage("unterminated")) {
        if (buffer != nullptr) {
            std::memset(buffer, 'X', *size);
        }
        *size += 100;
        return GC_ERR_SUCCESS;
    }
    if (buffer != nullptr) {
        if (*size < needed) {
            return GC_ERR_BUFFER_TOO_SMALL;
        }
        std::memcpy(buffer, text, needed);
    }
    *size = needed;
    return GC_ERR_SUCCESS;
}

GC_ERROR putHandle(void** handle) {
    if (handle != nullptr) {
        *handle = garbage("null-handles") ? nullptr : &g_token;
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR putOne(uint32_t* count) {
    if (count != nullptr) {
        *count = garbage("counts") ? 0xFFFFFFFFU : 1;
    }
    return GC_ERR_SUCCESS;
}

} // namespace

#define REFUSE_UNLESS(name)                                                                                            \
    blockIfChosen(#name);                                                                                              \
    if (!answers(#name)) {                                                                                             \
        return refuse(#name);                                                                                          \
    }

GC_API GCGetLastError(GC_ERROR* piErrorCode, char* sErrText, size_t* piSize) {
    if (piErrorCode != nullptr) {
        *piErrorCode = GC_ERR_ERROR;
    }
    return putText(t_lastError.c_str(), sErrText, piSize);
}
GC_API GCInitLib(void) {
    REFUSE_UNLESS(GCInitLib)
    return GC_ERR_SUCCESS;
}
GC_API GCCloseLib(void) {
    REFUSE_UNLESS(GCCloseLib)
    return GC_ERR_SUCCESS;
}
GC_API TLOpen(TL_HANDLE* phTL) {
    REFUSE_UNLESS(TLOpen)
    return putHandle(phTL);
}
GC_API TLGetNumInterfaces(TL_HANDLE, uint32_t* piNumIfaces) {
    REFUSE_UNLESS(TLGetNumInterfaces)
    return putOne(piNumIfaces);
}
GC_API TLGetInterfaceID(TL_HANDLE, uint32_t, char* sID, size_t* piSize) {
    REFUSE_UNLESS(TLGetInterfaceID)
    return putText("bad0", sID, piSize);
}
GC_API TLOpenInterface(TL_HANDLE, const char*, IF_HANDLE* phIface) {
    REFUSE_UNLESS(TLOpenInterface)
    return putHandle(phIface);
}
GC_API TLUpdateInterfaceList(TL_HANDLE, bool8_t*, uint64_t) {
    REFUSE_UNLESS(TLUpdateInterfaceList)
    return GC_ERR_SUCCESS;
}
GC_API IFGetNumDevices(IF_HANDLE, uint32_t* piNumDevices) {
    REFUSE_UNLESS(IFGetNumDevices)
    return putOne(piNumDevices);
}
GC_API IFGetDeviceID(IF_HANDLE, uint32_t, char* sIDeviceID, size_t* piSize) {
    REFUSE_UNLESS(IFGetDeviceID)
    return putText("BAD1", sIDeviceID, piSize);
}
GC_API IFUpdateDeviceList(IF_HANDLE, bool8_t*, uint64_t) {
    REFUSE_UNLESS(IFUpdateDeviceList)
    return GC_ERR_SUCCESS;
}
GC_API IFGetDeviceInfo(IF_HANDLE, const char*, DEVICE_INFO_CMD, INFO_DATATYPE*, void* pBuffer, size_t* piSize) {
    REFUSE_UNLESS(IFGetDeviceInfo)
    return putText("BAD1", pBuffer, piSize);
}
GC_API IFOpenDevice(IF_HANDLE, const char*, DEVICE_ACCESS_FLAGS, DEV_HANDLE* phDevice) {
    REFUSE_UNLESS(IFOpenDevice)
    return putHandle(phDevice);
}
GC_API DevGetPort(DEV_HANDLE, PORT_HANDLE* phRemoteDevice) {
    REFUSE_UNLESS(DevGetPort)
    return putHandle(phRemoteDevice);
}

// Everything else refuses whatever the list says.
#define ALWAYS_REFUSE(name, ...)                                                                                       \
    GC_API name(__VA_ARGS__) {                                                                                         \
        blockIfChosen(#name);                                                                                          \
        return refuse(#name);                                                                                          \
    }

ALWAYS_REFUSE(GCGetInfo, TL_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(GCReadPort, PORT_HANDLE, uint64_t, void*, size_t*)
ALWAYS_REFUSE(GCWritePort, PORT_HANDLE, uint64_t, const void*, size_t*)
ALWAYS_REFUSE(GCGetPortURL, PORT_HANDLE, char*, size_t*)
ALWAYS_REFUSE(GCGetPortInfo, PORT_HANDLE, PORT_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(GCRegisterEvent, EVENTSRC_HANDLE, EVENT_TYPE, EVENT_HANDLE*)
ALWAYS_REFUSE(GCUnregisterEvent, EVENTSRC_HANDLE, EVENT_TYPE)
ALWAYS_REFUSE(GCGetNumPortURLs, PORT_HANDLE, uint32_t*)
ALWAYS_REFUSE(GCGetPortURLInfo, PORT_HANDLE, uint32_t, URL_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(EventGetData, EVENT_HANDLE, void*, size_t*, uint64_t)
ALWAYS_REFUSE(EventGetDataInfo, EVENT_HANDLE, const void*, size_t, EVENT_DATA_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(EventGetInfo, EVENT_HANDLE, EVENT_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(EventFlush, EVENT_HANDLE)
ALWAYS_REFUSE(EventKill, EVENT_HANDLE)
ALWAYS_REFUSE(TLClose, TL_HANDLE)
ALWAYS_REFUSE(TLGetInfo, TL_HANDLE, TL_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(TLGetInterfaceInfo, TL_HANDLE, const char*, INTERFACE_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(IFClose, IF_HANDLE)
ALWAYS_REFUSE(IFGetInfo, IF_HANDLE, INTERFACE_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(IFGetParentTL, IF_HANDLE, TL_HANDLE*)
ALWAYS_REFUSE(DevGetNumDataStreams, DEV_HANDLE, uint32_t*)
ALWAYS_REFUSE(DevGetDataStreamID, DEV_HANDLE, uint32_t, char*, size_t*)
ALWAYS_REFUSE(DevOpenDataStream, DEV_HANDLE, const char*, DS_HANDLE*)
ALWAYS_REFUSE(DevGetInfo, DEV_HANDLE, DEVICE_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(DevClose, DEV_HANDLE)
ALWAYS_REFUSE(DevGetParentIF, DEV_HANDLE, IF_HANDLE*)
ALWAYS_REFUSE(DSAnnounceBuffer, DS_HANDLE, void*, size_t, void*, BUFFER_HANDLE*)
ALWAYS_REFUSE(DSAllocAndAnnounceBuffer, DS_HANDLE, size_t, void*, BUFFER_HANDLE*)
ALWAYS_REFUSE(DSFlushQueue, DS_HANDLE, ACQ_QUEUE_TYPE)
ALWAYS_REFUSE(DSStartAcquisition, DS_HANDLE, ACQ_START_FLAGS, uint64_t)
ALWAYS_REFUSE(DSStopAcquisition, DS_HANDLE, ACQ_STOP_FLAGS)
ALWAYS_REFUSE(DSGetInfo, DS_HANDLE, STREAM_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
ALWAYS_REFUSE(DSGetBufferID, DS_HANDLE, uint32_t, BUFFER_HANDLE*)
ALWAYS_REFUSE(DSClose, DS_HANDLE)
ALWAYS_REFUSE(DSRevokeBuffer, DS_HANDLE, BUFFER_HANDLE, void**, void**)
ALWAYS_REFUSE(DSQueueBuffer, DS_HANDLE, BUFFER_HANDLE)
ALWAYS_REFUSE(DSGetBufferInfo, DS_HANDLE, BUFFER_HANDLE, BUFFER_INFO_CMD, INFO_DATATYPE*, void*, size_t*)

// NOLINTEND(readability-named-parameter)
