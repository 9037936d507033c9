// A GenTL producer library (.cti) loaded into the process, with every function of the transport-layer C
// interface resolved by name.
#pragma once

#include "sdk/gentl/GenTL.h"

#include <QLibrary>

#include <memory>
#include <string>

namespace sdk::gentl {

// Every function a producer exports, in the standard's order.
#define VXCAM_GENTL_FUNCTIONS(X)                                                                                       \
    X(GCGetInfo)                                                                                                       \
    X(GCGetLastError)                                                                                                  \
    X(GCInitLib)                                                                                                       \
    X(GCCloseLib)                                                                                                      \
    X(GCReadPort)                                                                                                      \
    X(GCWritePort)                                                                                                     \
    X(GCGetPortURL)                                                                                                    \
    X(GCGetPortInfo)                                                                                                   \
    X(GCRegisterEvent)                                                                                                 \
    X(GCUnregisterEvent)                                                                                               \
    X(GCGetNumPortURLs)                                                                                                \
    X(GCGetPortURLInfo)                                                                                                \
    X(EventGetData)                                                                                                    \
    X(EventGetDataInfo)                                                                                                \
    X(EventGetInfo)                                                                                                    \
    X(EventFlush)                                                                                                      \
    X(EventKill)                                                                                                       \
    X(TLOpen)                                                                                                          \
    X(TLClose)                                                                                                         \
    X(TLGetInfo)                                                                                                       \
    X(TLGetNumInterfaces)                                                                                              \
    X(TLGetInterfaceID)                                                                                                \
    X(TLGetInterfaceInfo)                                                                                              \
    X(TLOpenInterface)                                                                                                 \
    X(TLUpdateInterfaceList)                                                                                           \
    X(IFClose)                                                                                                         \
    X(IFGetInfo)                                                                                                       \
    X(IFGetNumDevices)                                                                                                 \
    X(IFGetDeviceID)                                                                                                   \
    X(IFUpdateDeviceList)                                                                                              \
    X(IFGetDeviceInfo)                                                                                                 \
    X(IFOpenDevice)                                                                                                    \
    X(IFGetParentTL)                                                                                                   \
    X(DevGetPort)                                                                                                      \
    X(DevGetNumDataStreams)                                                                                            \
    X(DevGetDataStreamID)                                                                                              \
    X(DevOpenDataStream)                                                                                               \
    X(DevGetInfo)                                                                                                      \
    X(DevClose)                                                                                                        \
    X(DevGetParentIF)                                                                                                  \
    X(DSAnnounceBuffer)                                                                                                \
    X(DSAllocAndAnnounceBuffer)                                                                                        \
    X(DSFlushQueue)                                                                                                    \
    X(DSStartAcquisition)                                                                                              \
    X(DSStopAcquisition)                                                                                               \
    X(DSGetInfo)                                                                                                       \
    X(DSGetBufferID)                                                                                                   \
    X(DSClose)                                                                                                         \
    X(DSRevokeBuffer)                                                                                                  \
    X(DSQueueBuffer)                                                                                                   \
    X(DSGetBufferInfo)

struct GentlFunctions {
#define VXCAM_GENTL_MEMBER(name) P##name name = nullptr;
    VXCAM_GENTL_FUNCTIONS(VXCAM_GENTL_MEMBER)
#undef VXCAM_GENTL_MEMBER
};

// A loaded producer. The library is initialised (GCInitLib) by load() and closed (GCCloseLib) and unloaded by
// the destructor; what it opened must be closed before.
class GentlLibrary {
public:
    // Loads the file at `path` and resolves every function; null, with `error` saying why, when the file cannot
    // be loaded, lacks a function or refuses GCInitLib.
    static std::shared_ptr<GentlLibrary> load(const QString& path, std::string& error);
    ~GentlLibrary();
    GentlLibrary(const GentlLibrary&) = delete;
    GentlLibrary& operator=(const GentlLibrary&) = delete;

    [[nodiscard]] const GentlFunctions& fn() const noexcept { return m_functions; }
    [[nodiscard]] const QString& path() const noexcept { return m_path; }
    // The producer's description of its calling thread's last error ("" when it gives none), with its code.
    [[nodiscard]] std::string lastError(GC_ERROR code) const;

private:
    explicit GentlLibrary(const QString& path);

    QString m_path;
    QLibrary m_library;
    GentlFunctions m_functions;
    bool m_bInitialised = false;
};

} // namespace sdk::gentl
