// The GenTL functions of vxcam-sim.cti: the simulated cameras of the file VXCAM_SIM_CONFIG names, as a GenTL
// producer that any consumer can load. One system; one interface per interface of the file; one device per
// camera (its ID is its serial number); the streams the file gives each camera; the camera's features through
// its port, described by a GenICam description that the port serves itself ("Local:" URL).
//
// Handles are checked against the objects this library made and did not close yet: a stale or made-up handle
// gets GC_ERR_INVALID_HANDLE, never a crash. Every call holds what it works on for its duration, so a close on
// another thread ends an object only once the calls inside it returned (a wait for an event returns at once).
#include "sdk/gentl/GenTL.h"
#include "sdk/gentl/sim-cti/SimCtiCamera.h"
#include "sdk/gentl/sim-cti/SimCtiModulePort.h"
#include "sdk/gentl/sim-cti/SimCtiReply.h"
#include "sdk/gentl/sim-cti/SimCtiStream.h"
#include "sdk/sim/SimConfig.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sdk::simcti {
namespace {

constexpr const char* kTlType = "Custom";
constexpr const char* kProducerName = "vxcam-sim";

enum class Kind : uint8_t { System, Interface, Device, Port, Stream, Event };

struct Module {
    Module(Kind k, Module* p) : kind(k), parent(p) {}
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    virtual ~Module() = default;
    const Kind kind;
    Module* const parent; // the module this one was opened from; closed with it
    // The node map behind the module's own handle (GCReadPort on a system, interface, device or stream); set
    // once, right after the module is made, before its handle is given out.
    std::unique_ptr<ModulePort> nodeMap;
};

struct InterfaceEntry {
    std::string id;
    std::vector<std::shared_ptr<SimCtiCamera>> cameras;
    // Each camera's device ID: its serial where that names it alone in the interface, else "device<index>"
    // (an empty serial, or one camera on several paths, as the file may describe them).
    std::vector<std::string> deviceIds;
};

struct SystemModule final : Module {
    explicit SystemModule(std::vector<InterfaceEntry> list)
        : Module(Kind::System, nullptr), interfaces(std::move(list)) {}
    const std::vector<InterfaceEntry> interfaces; // fixed from the open on: the file is read once
};

struct InterfaceModule final : Module {
    InterfaceModule(SystemModule& system, const InterfaceEntry& e) : Module(Kind::Interface, &system), entry(e) {}
    const InterfaceEntry& entry; // the system's, which outlives the interface
};

struct DeviceModule final : Module {
    DeviceModule(InterfaceModule& iface, std::shared_ptr<SimCtiCamera> c)
        : Module(Kind::Device, &iface), camera(std::move(c)) {}
    const std::shared_ptr<SimCtiCamera> camera;
};

struct PortModule final : Module {
    PortModule(DeviceModule& device, std::shared_ptr<SimCtiCamera> c)
        : Module(Kind::Port, &device), camera(std::move(c)) {}
    const std::shared_ptr<SimCtiCamera> camera;
};

struct StreamModule final : Module {
    StreamModule(DeviceModule& device, std::shared_ptr<SimCtiStream> s)
        : Module(Kind::Stream, &device), stream(std::move(s)) {}
    ~StreamModule() override { stream->end(); }
    const std::shared_ptr<SimCtiStream> stream;
};

struct EventModule final : Module {
    EventModule(StreamModule& owner, std::shared_ptr<SimCtiStream> s)
        : Module(Kind::Event, &owner), stream(std::move(s)) {}
    const std::shared_ptr<SimCtiStream> stream;
};

// Everything the library has open. Guarded by `mutex`, which no call holds while it waits or works on a camera.
struct Library {
    std::mutex mutex;
    bool initialised = false;
    std::map<const void*, std::shared_ptr<Module>> live; // by handle
};

Library& library() {
    static auto* const instance = new Library; // NOLINT(cppcoreguidelines-owning-memory): lives for the process
    return *instance;
}

template <typename T>
GC_ERROR lookup(const void* handle, Kind kind, std::shared_ptr<T>& out) {
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    if (!lib.initialised) {
        return fail(GC_ERR_NOT_INITIALIZED, "GCInitLib was not called");
    }
    const auto found = lib.live.find(handle);
    if (handle == nullptr || found == lib.live.end() || found->second->kind != kind) {
        return fail(GC_ERR_INVALID_HANDLE, "the handle names no open object of its kind");
    }
    out = std::static_pointer_cast<T>(found->second);
    return GC_ERR_SUCCESS;
}

// Takes `module` and everything opened from it out of the table, children first. Returns them, so that the
// caller ends them (streams join their clocks) after letting the table's lock go.
void unlinkTree(Library& lib, const Module* module, std::vector<std::shared_ptr<Module>>& ended) {
    std::vector<const Module*> children;
    for (const auto& [handle, child] : lib.live) {
        if (child->parent == module) {
            children.push_back(child.get());
        }
    }
    for (const Module* child : children) {
        unlinkTree(lib, child, ended);
    }
    const auto found = lib.live.find(module);
    if (found != lib.live.end()) {
        ended.push_back(std::move(found->second));
        lib.live.erase(found);
    }
}

GC_ERROR closeModule(const void* handle, Kind kind) {
    std::vector<std::shared_ptr<Module>> ended;
    {
        Library& lib = library();
        const std::lock_guard lock(lib.mutex);
        if (!lib.initialised) {
            return fail(GC_ERR_NOT_INITIALIZED, "GCInitLib was not called");
        }
        const auto found = lib.live.find(handle);
        if (handle == nullptr || found == lib.live.end() || found->second->kind != kind) {
            return fail(GC_ERR_INVALID_HANDLE, "the handle names no open object of its kind");
        }
        unlinkTree(lib, found->second.get(), ended);
    }
    ended.clear(); // streams end here (their clocks are joined), children before parents
    return GC_ERR_SUCCESS;
}

template <typename T>
T* add(std::shared_ptr<T> module) {
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    T* raw = module.get();
    lib.live.emplace(raw, std::move(module));
    return raw;
}

// The open child of `parent` that satisfies `match`, if any. With the table's lock held.
template <typename T, typename Match>
std::shared_ptr<T> openChild(Library& lib, const Module* parent, Kind kind, Match match) {
    for (const auto& [handle, module] : lib.live) {
        if (module->parent == parent && module->kind == kind && match(static_cast<const T&>(*module))) {
            return std::static_pointer_cast<T>(module);
        }
    }
    return nullptr;
}

GC_ERROR needPointer(const void* pointer, const char* what) {
    return pointer != nullptr ? GC_ERR_SUCCESS : fail(GC_ERR_INVALID_PARAMETER, std::string("no ") + what + " given");
}

// Interfaces from the file: one per interface entry, its ID the file's (prefixed with the system's ID when two
// systems use the same one).
std::vector<InterfaceEntry> interfacesOf(const sim::SimConfig& config, const ProducerSettings& settings) {
    std::map<std::string, int> uses;
    for (const sim::SimSystemConfig& system : config.systems) {
        for (const sim::SimInterfaceConfig& iface : system.interfaces) {
            ++uses[iface.id];
        }
    }
    std::vector<InterfaceEntry> list;
    for (const sim::SimSystemConfig& system : config.systems) {
        for (const sim::SimInterfaceConfig& iface : system.interfaces) {
            InterfaceEntry entry;
            entry.id = uses[iface.id] > 1 ? system.id + "/" + iface.id : iface.id;
            for (const sim::SimDeviceConfig& device : iface.devices) {
                const bool taken =
                    std::find(entry.deviceIds.begin(), entry.deviceIds.end(), device.serial) != entry.deviceIds.end();
                entry.deviceIds.push_back(
                    device.serial.empty() || taken ? "device" + std::to_string(entry.cameras.size()) : device.serial);
                entry.cameras.push_back(std::make_shared<SimCtiCamera>(device, settings));
            }
            list.push_back(std::move(entry));
        }
    }
    return list;
}

const InterfaceEntry* findInterface(const SystemModule& system, const char* id) {
    for (const InterfaceEntry& entry : system.interfaces) {
        if (entry.id == id) {
            return &entry;
        }
    }
    return nullptr;
}

std::shared_ptr<SimCtiCamera> findCamera(const InterfaceEntry& entry, const char* id) {
    for (size_t i = 0; i < entry.cameras.size(); ++i) {
        if (entry.deviceIds[i] == id) {
            return entry.cameras[i];
        }
    }
    return nullptr;
}

const std::string& deviceIdOf(const InterfaceEntry& entry, const SimCtiCamera& camera) {
    for (size_t i = 0; i < entry.cameras.size(); ++i) {
        if (entry.cameras[i].get() == &camera) {
            return entry.deviceIds[i];
        }
    }
    return camera.config().serial;
}

GC_ERROR systemInfo(TL_INFO_CMD command, INFO_DATATYPE* type, void* buffer, size_t* size) {
    switch (command) {
    case TL_INFO_ID:
        return putString(type, buffer, size, kProducerName);
    case TL_INFO_VENDOR:
        return putString(type, buffer, size, kVendor);
    case TL_INFO_MODEL:
        return putString(type, buffer, size, "simulated cameras");
    case TL_INFO_VERSION:
        return putString(type, buffer, size, "1.0");
    case TL_INFO_TLTYPE:
        return putString(type, buffer, size, kTlType);
    case TL_INFO_NAME:
    case TL_INFO_PATHNAME:
        return putString(type, buffer, size, "vxcam-sim.cti");
    case TL_INFO_DISPLAYNAME:
        return putString(type, buffer, size, "vxcam simulated cameras");
    case TL_INFO_CHAR_ENCODING:
        return putInt32(type, buffer, size, TL_CHAR_ENCODING_UTF8);
    case TL_INFO_GENTL_VER_MAJOR:
        return putValue(type, buffer, size, INFO_DATATYPE_UINT32, uint32_t{GENTL_VERSION_MAJOR});
    case TL_INFO_GENTL_VER_MINOR:
        return putValue(type, buffer, size, INFO_DATATYPE_UINT32, uint32_t{GENTL_VERSION_MINOR});
    default:
        return unknownCommand(command);
    }
}

GC_ERROR interfaceInfo(const InterfaceEntry& entry, INTERFACE_INFO_CMD command, INFO_DATATYPE* type, void* buffer,
                       size_t* size) {
    switch (command) {
    case INTERFACE_INFO_ID:
    case INTERFACE_INFO_DISPLAYNAME:
        return putString(type, buffer, size, entry.id);
    case INTERFACE_INFO_TLTYPE:
        return putString(type, buffer, size, kTlType);
    default:
        return unknownCommand(command);
    }
}

GC_ERROR deviceInfo(const std::string& id, const SimCtiCamera& camera, bool open, DEVICE_INFO_CMD command,
                    INFO_DATATYPE* type, void* buffer, size_t* size) {
    const sim::SimDeviceConfig& config = camera.config();
    switch (command) {
    case DEVICE_INFO_ID:
        return putString(type, buffer, size, id);
    case DEVICE_INFO_SERIAL_NUMBER:
        return putString(type, buffer, size, config.serial);
    case DEVICE_INFO_VENDOR:
        return putString(type, buffer, size, kVendor);
    case DEVICE_INFO_MODEL:
        return putString(type, buffer, size, config.model);
    case DEVICE_INFO_TLTYPE:
        return putString(type, buffer, size, kTlType);
    case DEVICE_INFO_DISPLAYNAME:
        return putString(type, buffer, size, std::string(kVendor) + " " + config.model + " (" + config.serial + ")");
    case DEVICE_INFO_ACCESS_STATUS:
        return putInt32(type, buffer, size,
                        open ? DEVICE_ACCESS_STATUS_OPEN_READWRITE : DEVICE_ACCESS_STATUS_READWRITE);
    case DEVICE_INFO_USER_DEFINED_NAME:
        return putString(type, buffer, size, "");
    case DEVICE_INFO_VERSION:
        return putString(type, buffer, size, "1.0");
    case DEVICE_INFO_TIMESTAMP_FREQUENCY:
        return putUint64(type, buffer, size, 1000000000); // timestamps count nanoseconds
    default:
        return unknownCommand(command);
    }
}

bool deviceOpen(const InterfaceModule& iface, const SimCtiCamera& camera) {
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    return openChild<DeviceModule>(lib, &iface, Kind::Device,
                                   [&](const DeviceModule& d) { return d.camera.get() == &camera; }) != nullptr;
}

// A number of a stream's information, for its node map.
int64_t streamNumber(SimCtiStream& stream, STREAM_INFO_CMD command) {
    uint64_t value = 0;
    size_t size = sizeof value;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (command == STREAM_INFO_IS_GRABBING) {
        bool8_t grabbing = 0;
        size = sizeof grabbing;
        return stream.info(command, &type, &grabbing, &size) == GC_ERR_SUCCESS ? grabbing : 0;
    }
    return stream.info(command, &type, &value, &size) == GC_ERR_SUCCESS ? static_cast<int64_t>(value) : 0;
}

ModuleFeature text(const char* name, std::function<std::string()> value) {
    return ModuleFeature{name, std::move(value), {}};
}
ModuleFeature fixedText(const char* name, std::string value) {
    return text(name, [value = std::move(value)] { return value; });
}
ModuleFeature number(const char* name, std::function<int64_t()> value) {
    return ModuleFeature{name, {}, std::move(value)};
}

// The standard features of each module's node map.
void giveNodeMap(SystemModule& system) {
    system.nodeMap = std::make_unique<ModulePort>(
        "vxcam-sim-system.xml",
        std::vector<ModuleFeature>{fixedText("TLID", kProducerName), fixedText("TLVendorName", kVendor),
                                   fixedText("TLModelName", "simulated cameras"), fixedText("TLVersion", "1.0"),
                                   fixedText("TLType", kTlType), fixedText("TLPath", "vxcam-sim.cti"),
                                   number("GenTLVersionMajor", [] { return GENTL_VERSION_MAJOR; }),
                                   number("GenTLVersionMinor", [] { return GENTL_VERSION_MINOR; })},
        ModuleSelector{"InterfaceSelector", "InterfaceID", [&system] {
                           std::vector<std::string> ids;
                           for (const InterfaceEntry& entry : system.interfaces) {
                               ids.push_back(entry.id);
                           }
                           return ids;
                       }});
}

void giveNodeMap(InterfaceModule& iface) {
    const InterfaceEntry& entry = iface.entry;
    iface.nodeMap = std::make_unique<ModulePort>(
        "vxcam-sim-interface.xml",
        std::vector<ModuleFeature>{fixedText("InterfaceID", entry.id), fixedText("InterfaceType", kTlType)},
        ModuleSelector{"DeviceSelector", "DeviceID", [&entry] { return entry.deviceIds; }});
}

void giveNodeMap(DeviceModule& device, const std::string& id) {
    const sim::SimDeviceConfig& config = device.camera->config();
    std::vector<std::string> streams;
    for (uint32_t i = 0; i < config.streams; ++i) {
        streams.push_back("Stream" + std::to_string(i));
    }
    device.nodeMap = std::make_unique<ModulePort>(
        "vxcam-sim-device.xml",
        std::vector<ModuleFeature>{fixedText("DeviceID", id), fixedText("DeviceVendorName", kVendor),
                                   fixedText("DeviceModelName", config.model),
                                   fixedText("DeviceSerialNumber", config.serial), fixedText("DeviceType", kTlType),
                                   number("DeviceAccessStatus", [] { return DEVICE_ACCESS_STATUS_OPEN_READWRITE; })},
        ModuleSelector{"DataStreamSelector", "DataStreamID", [streams] { return streams; }});
}

void giveNodeMap(StreamModule& module) {
    SimCtiStream& stream = *module.stream;
    const auto info = [&stream](STREAM_INFO_CMD command) {
        return [&stream, command] { return streamNumber(stream, command); };
    };
    module.nodeMap = std::make_unique<ModulePort>(
        "vxcam-sim-stream.xml",
        std::vector<ModuleFeature>{fixedText("StreamID", stream.id()), fixedText("StreamType", kTlType),
                                   number("StreamAnnouncedBufferCount", info(STREAM_INFO_NUM_ANNOUNCED)),
                                   number("StreamDeliveredFrameCount", info(STREAM_INFO_NUM_DELIVERED)),
                                   number("StreamLostFrameCount", info(STREAM_INFO_NUM_UNDERRUN)),
                                   number("StreamIsGrabbing", info(STREAM_INFO_IS_GRABBING)),
                                   number("PayloadSize", info(STREAM_INFO_PAYLOAD_SIZE))},
        std::nullopt);
}

// The node map behind a module's own handle; `holder` keeps the module for the call.
GC_ERROR lookupNodeMap(const void* handle, std::shared_ptr<Module>& holder, ModulePort*& nodeMap) {
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    if (!lib.initialised) {
        return fail(GC_ERR_NOT_INITIALIZED, "GCInitLib was not called");
    }
    const auto found = lib.live.find(handle);
    if (handle == nullptr || found == lib.live.end() || found->second->nodeMap == nullptr) {
        return fail(GC_ERR_INVALID_HANDLE, "the handle names no open port");
    }
    holder = found->second;
    nodeMap = holder->nodeMap.get();
    return GC_ERR_SUCCESS;
}

GC_ERROR putListEntry(const std::string& text, char* out, size_t* size) {
    return putString(nullptr, out, size, text);
}

} // namespace
} // namespace sdk::simcti

using namespace sdk;         // NOLINT(google-build-using-namespace)
using namespace sdk::simcti; // NOLINT(google-build-using-namespace): the C functions below are this library's

// ---- library -------------------------------------------------------------------------------------------------

GC_API GCInitLib(void) {
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    if (lib.initialised) {
        return fail(GC_ERR_RESOURCE_IN_USE, "the library is initialised already");
    }
    lib.initialised = true;
    return GC_ERR_SUCCESS;
}

GC_API GCCloseLib(void) {
    std::vector<std::shared_ptr<Module>> ended;
    {
        Library& lib = library();
        const std::lock_guard lock(lib.mutex);
        if (!lib.initialised) {
            return fail(GC_ERR_NOT_INITIALIZED, "GCInitLib was not called");
        }
        lib.initialised = false;
        std::vector<const Module*> roots;
        for (const auto& [handle, module] : lib.live) {
            if (module->parent == nullptr) {
                roots.push_back(module.get());
            }
        }
        for (const Module* root : roots) {
            unlinkTree(lib, root, ended);
        }
    }
    ended.clear();
    return GC_ERR_SUCCESS;
}

GC_API GCGetInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return systemInfo(iInfoCmd, piType, pBuffer, piSize);
}

GC_API GCGetLastError(GC_ERROR* piErrorCode, char* sErrText, size_t* piSize) {
    if (piErrorCode == nullptr || piSize == nullptr) {
        return GC_ERR_INVALID_PARAMETER; // the last error stays what it was
    }
    *piErrorCode = lastErrorCode();
    // A copy: putString may record an error of its own.
    const std::string text = lastErrorText(); // NOLINT(performance-unnecessary-copy-initialization)
    return putString(nullptr, sErrText, piSize, text);
}

// ---- system --------------------------------------------------------------------------------------------------

GC_API TLOpen(TL_HANDLE* phTL) {
    if (const GC_ERROR error = needPointer(phTL, "place for the system handle")) {
        return error;
    }
    {
        Library& lib = library();
        const std::lock_guard lock(lib.mutex);
        if (!lib.initialised) {
            return fail(GC_ERR_NOT_INITIALIZED, "GCInitLib was not called");
        }
        for (const auto& [handle, module] : lib.live) {
            if (module->kind == Kind::System) {
                return fail(GC_ERR_RESOURCE_IN_USE, "the system is open already");
            }
        }
    }
    std::string settingsError;
    const std::optional<ProducerSettings> settings = settingsFromEnvironment(settingsError);
    if (!settings) {
        return fail(GC_ERR_INVALID_PARAMETER, settingsError);
    }
    const QString path = qEnvironmentVariable("VXCAM_SIM_CONFIG");
    sim::SimConfig config;
    if (!path.isEmpty()) {
        QString error;
        std::optional<sim::SimConfig> loaded = sim::loadSimConfig(path, error);
        if (!loaded) {
            return fail(GC_ERR_ERROR, "simulated-camera file " + path.toStdString() + " - " + error.toStdString());
        }
        config = std::move(*loaded);
    }
    auto system = std::make_shared<SystemModule>(interfacesOf(config, *settings));
    giveNodeMap(*system);
    *phTL = add(std::move(system));
    return GC_ERR_SUCCESS;
}

GC_API TLClose(TL_HANDLE hTL) {
    return closeModule(hTL, Kind::System);
}

GC_API TLGetInfo(TL_HANDLE hTL, TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    std::shared_ptr<SystemModule> system;
    if (const GC_ERROR error = lookup(hTL, Kind::System, system)) {
        return error;
    }
    return systemInfo(iInfoCmd, piType, pBuffer, piSize);
}

GC_API TLGetNumInterfaces(TL_HANDLE hTL, uint32_t* piNumIfaces) {
    std::shared_ptr<SystemModule> system;
    if (const GC_ERROR error = lookup(hTL, Kind::System, system)) {
        return error;
    }
    if (const GC_ERROR error = needPointer(piNumIfaces, "place for the count")) {
        return error;
    }
    *piNumIfaces = static_cast<uint32_t>(system->interfaces.size());
    return GC_ERR_SUCCESS;
}

GC_API TLGetInterfaceID(TL_HANDLE hTL, uint32_t iIndex, char* sID, size_t* piSize) {
    std::shared_ptr<SystemModule> system;
    if (const GC_ERROR error = lookup(hTL, Kind::System, system)) {
        return error;
    }
    if (iIndex >= system->interfaces.size()) {
        return fail(GC_ERR_INVALID_INDEX,
                    "the system has " + std::to_string(system->interfaces.size()) + " interfaces");
    }
    return putListEntry(system->interfaces[iIndex].id, sID, piSize);
}

GC_API TLGetInterfaceInfo(TL_HANDLE hTL, const char* sIfaceID, INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                          void* pBuffer, size_t* piSize) {
    std::shared_ptr<SystemModule> system;
    if (const GC_ERROR error = lookup(hTL, Kind::System, system)) {
        return error;
    }
    const InterfaceEntry* entry = sIfaceID != nullptr ? findInterface(*system, sIfaceID) : nullptr;
    if (entry == nullptr) {
        return fail(GC_ERR_INVALID_ID, "no interface of that ID");
    }
    return interfaceInfo(*entry, iInfoCmd, piType, pBuffer, piSize);
}

GC_API TLOpenInterface(TL_HANDLE hTL, const char* sIfaceID, IF_HANDLE* phIface) {
    std::shared_ptr<SystemModule> system;
    if (const GC_ERROR error = lookup(hTL, Kind::System, system)) {
        return error;
    }
    if (const GC_ERROR error = needPointer(phIface, "place for the interface handle")) {
        return error;
    }
    const InterfaceEntry* entry = sIfaceID != nullptr ? findInterface(*system, sIfaceID) : nullptr;
    if (entry == nullptr) {
        return fail(GC_ERR_INVALID_ID, "no interface of that ID");
    }
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    if (auto open = openChild<InterfaceModule>(lib, system.get(), Kind::Interface,
                                               [&](const InterfaceModule& i) { return &i.entry == entry; })) {
        *phIface = open.get(); // an interface is opened once; a second open gives the same handle
        return GC_ERR_SUCCESS;
    }
    auto module = std::make_shared<InterfaceModule>(*system, *entry);
    giveNodeMap(*module);
    *phIface = module.get();
    lib.live.emplace(module.get(), std::move(module));
    return GC_ERR_SUCCESS;
}

GC_API TLUpdateInterfaceList(TL_HANDLE hTL, bool8_t* pbChanged, uint64_t /*iTimeout*/) {
    std::shared_ptr<SystemModule> system;
    if (const GC_ERROR error = lookup(hTL, Kind::System, system)) {
        return error;
    }
    if (pbChanged != nullptr) {
        *pbChanged = 0; // the file is read once, when the system opens
    }
    return GC_ERR_SUCCESS;
}

// ---- interface -----------------------------------------------------------------------------------------------

GC_API IFClose(IF_HANDLE hIface) {
    return closeModule(hIface, Kind::Interface);
}

GC_API IFGetInfo(IF_HANDLE hIface, INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    std::shared_ptr<InterfaceModule> iface;
    if (const GC_ERROR error = lookup(hIface, Kind::Interface, iface)) {
        return error;
    }
    return interfaceInfo(iface->entry, iInfoCmd, piType, pBuffer, piSize);
}

GC_API IFGetNumDevices(IF_HANDLE hIface, uint32_t* piNumDevices) {
    std::shared_ptr<InterfaceModule> iface;
    if (const GC_ERROR error = lookup(hIface, Kind::Interface, iface)) {
        return error;
    }
    if (const GC_ERROR error = needPointer(piNumDevices, "place for the count")) {
        return error;
    }
    *piNumDevices = static_cast<uint32_t>(iface->entry.cameras.size());
    return GC_ERR_SUCCESS;
}

GC_API IFGetDeviceID(IF_HANDLE hIface, uint32_t iIndex, char* sIDeviceID, size_t* piSize) {
    std::shared_ptr<InterfaceModule> iface;
    if (const GC_ERROR error = lookup(hIface, Kind::Interface, iface)) {
        return error;
    }
    if (iIndex >= iface->entry.cameras.size()) {
        return fail(GC_ERR_INVALID_INDEX,
                    "the interface has " + std::to_string(iface->entry.cameras.size()) + " devices");
    }
    return putListEntry(iface->entry.deviceIds[iIndex], sIDeviceID, piSize);
}

GC_API IFUpdateDeviceList(IF_HANDLE hIface, bool8_t* pbChanged, uint64_t /*iTimeout*/) {
    std::shared_ptr<InterfaceModule> iface;
    if (const GC_ERROR error = lookup(hIface, Kind::Interface, iface)) {
        return error;
    }
    if (pbChanged != nullptr) {
        *pbChanged = 0;
    }
    return GC_ERR_SUCCESS;
}

GC_API IFGetDeviceInfo(IF_HANDLE hIface, const char* sDeviceID, DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                       void* pBuffer, size_t* piSize) {
    std::shared_ptr<InterfaceModule> iface;
    if (const GC_ERROR error = lookup(hIface, Kind::Interface, iface)) {
        return error;
    }
    const std::shared_ptr<SimCtiCamera> camera = sDeviceID != nullptr ? findCamera(iface->entry, sDeviceID) : nullptr;
    if (camera == nullptr) {
        return fail(GC_ERR_INVALID_ID, "no device of that ID");
    }
    return deviceInfo(sDeviceID, *camera, deviceOpen(*iface, *camera), iInfoCmd, piType, pBuffer, piSize);
}

GC_API IFOpenDevice(IF_HANDLE hIface, const char* sDeviceID, DEVICE_ACCESS_FLAGS iOpenFlags, DEV_HANDLE* phDevice) {
    std::shared_ptr<InterfaceModule> iface;
    if (const GC_ERROR error = lookup(hIface, Kind::Interface, iface)) {
        return error;
    }
    if (const GC_ERROR error = needPointer(phDevice, "place for the device handle")) {
        return error;
    }
    if (iOpenFlags != DEVICE_ACCESS_CONTROL && iOpenFlags != DEVICE_ACCESS_EXCLUSIVE &&
        iOpenFlags != DEVICE_ACCESS_READONLY) {
        return fail(GC_ERR_INVALID_PARAMETER, "unknown access flags " + std::to_string(iOpenFlags));
    }
    std::shared_ptr<SimCtiCamera> camera = sDeviceID != nullptr ? findCamera(iface->entry, sDeviceID) : nullptr;
    if (camera == nullptr) {
        return fail(GC_ERR_INVALID_ID, "no device of that ID");
    }
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    if (openChild<DeviceModule>(lib, iface.get(), Kind::Device,
                                [&](const DeviceModule& d) { return d.camera == camera; }) != nullptr) {
        return fail(GC_ERR_RESOURCE_IN_USE, "the device " + camera->config().serial + " is open already");
    }
    auto module = std::make_shared<DeviceModule>(*iface, std::move(camera));
    giveNodeMap(*module, sDeviceID);
    *phDevice = module.get();
    lib.live.emplace(module.get(), std::move(module));
    return GC_ERR_SUCCESS;
}

GC_API IFGetParentTL(IF_HANDLE hIface, TL_HANDLE* phSystem) {
    std::shared_ptr<InterfaceModule> iface;
    if (const GC_ERROR error = lookup(hIface, Kind::Interface, iface)) {
        return error;
    }
    if (const GC_ERROR error = needPointer(phSystem, "place for the system handle")) {
        return error;
    }
    *phSystem = iface->parent;
    return GC_ERR_SUCCESS;
}

// ---- device --------------------------------------------------------------------------------------------------

GC_API DevClose(DEV_HANDLE hDevice) {
    return closeModule(hDevice, Kind::Device);
}

GC_API DevGetInfo(DEV_HANDLE hDevice, DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    std::shared_ptr<DeviceModule> device;
    if (const GC_ERROR error = lookup(hDevice, Kind::Device, device)) {
        return error;
    }
    const auto& iface = static_cast<const InterfaceModule&>(*device->parent);
    return deviceInfo(deviceIdOf(iface.entry, *device->camera), *device->camera, true, iInfoCmd, piType, pBuffer,
                      piSize);
}

GC_API DevGetParentIF(DEV_HANDLE hDevice, IF_HANDLE* phIface) {
    std::shared_ptr<DeviceModule> device;
    if (const GC_ERROR error = lookup(hDevice, Kind::Device, device)) {
        return error;
    }
    if (const GC_ERROR error = needPointer(phIface, "place for the interface handle")) {
        return error;
    }
    *phIface = device->parent;
    return GC_ERR_SUCCESS;
}

GC_API DevGetPort(DEV_HANDLE hDevice, PORT_HANDLE* phRemoteDevice) {
    std::shared_ptr<DeviceModule> device;
    if (const GC_ERROR error = lookup(hDevice, Kind::Device, device)) {
        return error;
    }
    if (const GC_ERROR error = needPointer(phRemoteDevice, "place for the port handle")) {
        return error;
    }
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    if (auto port = openChild<PortModule>(lib, device.get(), Kind::Port, [](const PortModule&) { return true; })) {
        *phRemoteDevice = port.get();
        return GC_ERR_SUCCESS;
    }
    auto port = std::make_shared<PortModule>(*device, device->camera);
    *phRemoteDevice = port.get();
    lib.live.emplace(port.get(), std::move(port));
    return GC_ERR_SUCCESS;
}

GC_API DevGetNumDataStreams(DEV_HANDLE hDevice, uint32_t* piNumDataStreams) {
    std::shared_ptr<DeviceModule> device;
    if (const GC_ERROR error = lookup(hDevice, Kind::Device, device)) {
        return error;
    }
    if (const GC_ERROR error = needPointer(piNumDataStreams, "place for the count")) {
        return error;
    }
    *piNumDataStreams = device->camera->config().streams;
    return GC_ERR_SUCCESS;
}

GC_API DevGetDataStreamID(DEV_HANDLE hDevice, uint32_t iIndex, char* sDataStreamID, size_t* piSize) {
    std::shared_ptr<DeviceModule> device;
    if (const GC_ERROR error = lookup(hDevice, Kind::Device, device)) {
        return error;
    }
    if (iIndex >= device->camera->config().streams) {
        return fail(GC_ERR_INVALID_INDEX,
                    "the device has " + std::to_string(device->camera->config().streams) + " streams");
    }
    return putListEntry("Stream" + std::to_string(iIndex), sDataStreamID, piSize);
}

GC_API DevOpenDataStream(DEV_HANDLE hDevice, const char* sDataStreamID, DS_HANDLE* phDataStream) {
    std::shared_ptr<DeviceModule> device;
    if (const GC_ERROR error = lookup(hDevice, Kind::Device, device)) {
        return error;
    }
    if (const GC_ERROR error = needPointer(phDataStream, "place for the stream handle")) {
        return error;
    }
    const uint32_t streams = device->camera->config().streams;
    uint32_t index = streams;
    for (uint32_t i = 0; sDataStreamID != nullptr && i < streams; ++i) {
        if (("Stream" + std::to_string(i)) == sDataStreamID) {
            index = i;
        }
    }
    if (index == streams) {
        return fail(GC_ERR_INVALID_ID, "no stream of that ID");
    }
    {
        Library& lib = library();
        const std::lock_guard lock(lib.mutex);
        const std::string id = sDataStreamID;
        if (openChild<StreamModule>(lib, device.get(), Kind::Stream,
                                    [&](const StreamModule& s) { return s.stream->id() == id; }) != nullptr) {
            return fail(GC_ERR_RESOURCE_IN_USE, "the stream " + id + " is open already");
        }
    }
    auto stream = std::make_shared<SimCtiStream>(device->camera, index);
    auto module = std::make_shared<StreamModule>(*device, std::move(stream));
    giveNodeMap(*module);
    *phDataStream = add(std::move(module));
    return GC_ERR_SUCCESS;
}

// ---- port ------------------------------------------------------------------------------------------------------

namespace {
// A port call on a camera's port (DevGetPort) or on a module's own node map (its system, interface, device or
// stream handle).
template <typename OnCamera, typename OnModule>
GC_ERROR onPort(PORT_HANDLE handle, OnCamera onCamera, OnModule onModule) {
    std::shared_ptr<PortModule> port;
    if (lookup(handle, Kind::Port, port) == GC_ERR_SUCCESS) {
        return onCamera(*port);
    }
    std::shared_ptr<Module> holder;
    ModulePort* map = nullptr;
    if (const GC_ERROR error = lookupNodeMap(handle, holder, map)) {
        return error;
    }
    return onModule(*map);
}

// The versions every description has: schema 1.1, file 1.0.0.
GC_ERROR versionInfo(URL_INFO_CMD command, INFO_DATATYPE* type, void* buffer, size_t* size) {
    switch (command) {
    case URL_INFO_SCHEMA_VER_MAJOR:
    case URL_INFO_SCHEMA_VER_MINOR:
    case URL_INFO_FILE_VER_MAJOR:
        return putInt32(type, buffer, size, 1);
    case URL_INFO_FILE_VER_MINOR:
    case URL_INFO_FILE_VER_SUBMINOR:
        return putInt32(type, buffer, size, 0);
    default:
        return unknownCommand(command);
    }
}

const char* moduleName(Kind kind) {
    switch (kind) {
    case Kind::System:
        return "TLSystem";
    case Kind::Interface:
        return "TLInterface";
    case Kind::Device:
        return "TLDevice";
    case Kind::Stream:
        return "TLDataStream";
    default:
        return "Device";
    }
}
} // namespace

GC_API GCReadPort(PORT_HANDLE hPort, uint64_t iAddress, void* pBuffer, size_t* piSize) {
    if (const GC_ERROR error = needPointer(piSize, "size")) {
        return error;
    }
    return onPort(
        hPort, [&](PortModule& port) { return port.camera->readPort(iAddress, pBuffer, *piSize); },
        [&](ModulePort& map) { return map.read(iAddress, pBuffer, *piSize); });
}

GC_API GCWritePort(PORT_HANDLE hPort, uint64_t iAddress, const void* pBuffer, size_t* piSize) {
    if (const GC_ERROR error = needPointer(piSize, "size")) {
        return error;
    }
    return onPort(
        hPort, [&](PortModule& port) { return port.camera->writePort(iAddress, pBuffer, *piSize); },
        [&](ModulePort& map) { return map.write(iAddress, pBuffer, *piSize); });
}

GC_API GCGetPortURL(PORT_HANDLE hPort, char* sURL, size_t* piSize) {
    return onPort(
        hPort, [&](PortModule& port) { return putString(nullptr, sURL, piSize, port.camera->descriptionUrl()); },
        [&](ModulePort& map) { return putString(nullptr, sURL, piSize, map.url()); });
}

GC_API GCGetNumPortURLs(PORT_HANDLE hPort, uint32_t* piNumURLs) {
    if (const GC_ERROR error = needPointer(piNumURLs, "place for the count")) {
        return error;
    }
    const auto one = [&](auto& /*port*/) {
        *piNumURLs = 1;
        return GC_ERR_SUCCESS;
    };
    return onPort(hPort, one, one);
}

GC_API GCGetPortURLInfo(PORT_HANDLE hPort, uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                        void* pBuffer, size_t* piSize) {
    if (iURLIndex != 0) {
        return fail(GC_ERR_INVALID_INDEX, "the port has one URL");
    }
    const auto camera = [&](PortModule& port) {
        const SimCtiCamera& cam = *port.camera;
        switch (iInfoCmd) {
        case URL_INFO_URL:
            return putString(piType, pBuffer, piSize, cam.descriptionUrl());
        case URL_INFO_FILE_REGISTER_ADDRESS:
            if (!cam.descriptionInPort()) {
                return fail(GC_ERR_NOT_AVAILABLE, "the description is in a file, not in the port");
            }
            return putUint64(piType, pBuffer, piSize, reg::kDescription);
        case URL_INFO_FILE_SIZE:
            return putUint64(piType, pBuffer, piSize, cam.descriptionFileSize());
        case URL_INFO_SCHEME:
            return putInt32(piType, pBuffer, piSize, cam.descriptionInPort() ? URL_SCHEME_LOCAL : URL_SCHEME_FILE);
        case URL_INFO_FILENAME:
            return putString(piType, pBuffer, piSize, cam.descriptionFileName());
        default:
            return versionInfo(iInfoCmd, piType, pBuffer, piSize);
        }
    };
    const auto module = [&](ModulePort& map) {
        switch (iInfoCmd) {
        case URL_INFO_URL:
            return putString(piType, pBuffer, piSize, map.url());
        case URL_INFO_FILE_REGISTER_ADDRESS:
            return putUint64(piType, pBuffer, piSize, 0x100000);
        case URL_INFO_FILE_SIZE:
            return putUint64(piType, pBuffer, piSize, map.description().size());
        case URL_INFO_SCHEME:
            return putInt32(piType, pBuffer, piSize, URL_SCHEME_LOCAL);
        case URL_INFO_FILENAME:
            return putString(piType, pBuffer, piSize, map.fileName());
        default:
            return versionInfo(iInfoCmd, piType, pBuffer, piSize);
        }
    };
    return onPort(hPort, camera, module);
}

GC_API GCGetPortInfo(PORT_HANDLE hPort, PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    std::string model;
    std::string module;
    {
        std::shared_ptr<PortModule> port;
        std::shared_ptr<Module> holder;
        ModulePort* map = nullptr;
        if (lookup(hPort, Kind::Port, port) == GC_ERR_SUCCESS) {
            model = port->camera->config().model;
            module = "Device";
        } else if (const GC_ERROR error = lookupNodeMap(hPort, holder, map)) {
            return error;
        } else {
            model = "simulated cameras";
            module = moduleName(holder->kind);
        }
    }
    switch (iInfoCmd) {
    case PORT_INFO_ID:
    case PORT_INFO_PORTNAME:
        return putString(piType, pBuffer, piSize, module);
    case PORT_INFO_VENDOR:
        return putString(piType, pBuffer, piSize, kVendor);
    case PORT_INFO_MODEL:
        return putString(piType, pBuffer, piSize, model);
    case PORT_INFO_TLTYPE:
        return putString(piType, pBuffer, piSize, kTlType);
    case PORT_INFO_MODULE:
        return putString(piType, pBuffer, piSize, module);
    case PORT_INFO_LITTLE_ENDIAN:
    case PORT_INFO_ACCESS_READ:
    case PORT_INFO_ACCESS_WRITE:
        return putBool(piType, pBuffer, piSize, true);
    case PORT_INFO_BIG_ENDIAN:
    case PORT_INFO_ACCESS_NA:
    case PORT_INFO_ACCESS_NI:
        return putBool(piType, pBuffer, piSize, false);
    case PORT_INFO_VERSION:
        return putString(piType, pBuffer, piSize, "1.0");
    default:
        return unknownCommand(iInfoCmd);
    }
}

// ---- data stream ---------------------------------------------------------------------------------------------

namespace {
template <typename Call>
GC_ERROR onStream(DS_HANDLE handle, Call call) {
    std::shared_ptr<StreamModule> stream;
    if (const GC_ERROR error = lookup(handle, Kind::Stream, stream)) {
        return error;
    }
    return call(*stream->stream);
}
} // namespace

GC_API DSClose(DS_HANDLE hDataStream) {
    return closeModule(hDataStream, Kind::Stream);
}

GC_API DSAnnounceBuffer(DS_HANDLE hDataStream, void* pBuffer, size_t iSize, void* pPrivate, BUFFER_HANDLE* phBuffer) {
    return onStream(hDataStream, [&](SimCtiStream& s) { return s.announce(pBuffer, iSize, pPrivate, phBuffer); });
}

GC_API DSAllocAndAnnounceBuffer(DS_HANDLE hDataStream, size_t iSize, void* pPrivate, BUFFER_HANDLE* phBuffer) {
    return onStream(hDataStream, [&](SimCtiStream& s) { return s.allocateAndAnnounce(iSize, pPrivate, phBuffer); });
}

GC_API DSRevokeBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, void** pBuffer, void** pPrivate) {
    return onStream(hDataStream, [&](SimCtiStream& s) { return s.revoke(hBuffer, pBuffer, pPrivate); });
}

GC_API DSQueueBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer) {
    return onStream(hDataStream, [&](SimCtiStream& s) { return s.queue(hBuffer); });
}

GC_API DSFlushQueue(DS_HANDLE hDataStream, ACQ_QUEUE_TYPE iOperation) {
    return onStream(hDataStream, [&](SimCtiStream& s) { return s.flush(iOperation); });
}

GC_API DSStartAcquisition(DS_HANDLE hDataStream, ACQ_START_FLAGS /*iStartFlags*/, uint64_t iNumToAcquire) {
    return onStream(hDataStream, [&](SimCtiStream& s) { return s.start(iNumToAcquire); });
}

GC_API DSStopAcquisition(DS_HANDLE hDataStream, ACQ_STOP_FLAGS /*iStopFlags*/) {
    return onStream(hDataStream, [&](SimCtiStream& s) { return s.stop(); });
}

GC_API DSGetInfo(DS_HANDLE hDataStream, STREAM_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                 size_t* piSize) {
    return onStream(hDataStream, [&](SimCtiStream& s) { return s.info(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API DSGetBufferID(DS_HANDLE hDataStream, uint32_t iIndex, BUFFER_HANDLE* phBuffer) {
    return onStream(hDataStream, [&](SimCtiStream& s) { return s.bufferId(iIndex, phBuffer); });
}

GC_API DSGetBufferInfo(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, BUFFER_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                       void* pBuffer, size_t* piSize) {
    return onStream(hDataStream,
                    [&](SimCtiStream& s) { return s.bufferInfo(hBuffer, iInfoCmd, piType, pBuffer, piSize); });
}

// ---- events --------------------------------------------------------------------------------------------------

GC_API GCRegisterEvent(EVENTSRC_HANDLE hEventSrc, EVENT_TYPE iEventID, EVENT_HANDLE* phEvent) {
    std::shared_ptr<StreamModule> stream;
    if (const GC_ERROR error = lookup(hEventSrc, Kind::Stream, stream)) {
        return error == GC_ERR_INVALID_HANDLE
                   ? fail(GC_ERR_NOT_IMPLEMENTED, "only data streams give events (new buffers)")
                   : error;
    }
    if (iEventID != EVENT_NEW_BUFFER) {
        return fail(GC_ERR_NOT_IMPLEMENTED, "a data stream gives new-buffer events only");
    }
    if (const GC_ERROR error = needPointer(phEvent, "place for the event handle")) {
        return error;
    }
    if (const GC_ERROR error = stream->stream->registerNewBufferEvent()) {
        return error;
    }
    *phEvent = add(std::make_shared<EventModule>(*stream, stream->stream));
    return GC_ERR_SUCCESS;
}

GC_API GCUnregisterEvent(EVENTSRC_HANDLE hEventSrc, EVENT_TYPE iEventID) {
    std::shared_ptr<StreamModule> stream;
    if (const GC_ERROR error = lookup(hEventSrc, Kind::Stream, stream)) {
        return error;
    }
    if (iEventID != EVENT_NEW_BUFFER) {
        return fail(GC_ERR_NOT_IMPLEMENTED, "a data stream gives new-buffer events only");
    }
    std::shared_ptr<Module> event;
    {
        Library& lib = library();
        const std::lock_guard lock(lib.mutex);
        event = openChild<EventModule>(lib, stream.get(), Kind::Event, [](const EventModule&) { return true; });
        if (event != nullptr) {
            lib.live.erase(event.get());
        }
    }
    return stream->stream->unregisterNewBufferEvent();
}

GC_API EventGetData(EVENT_HANDLE hEvent, void* pBuffer, size_t* piSize, uint64_t iTimeout) {
    std::shared_ptr<EventModule> event;
    if (const GC_ERROR error = lookup(hEvent, Kind::Event, event)) {
        return error;
    }
    return event->stream->waitNewBuffer(pBuffer, piSize, iTimeout);
}

GC_API EventGetDataInfo(EVENT_HANDLE hEvent, const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                        INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize) {
    std::shared_ptr<EventModule> event;
    if (const GC_ERROR error = lookup(hEvent, Kind::Event, event)) {
        return error;
    }
    if (pInBuffer == nullptr || iInSize < sizeof(EVENT_NEW_BUFFER_DATA)) {
        return fail(GC_ERR_INVALID_PARAMETER, "no new-buffer event data given");
    }
    EVENT_NEW_BUFFER_DATA data{};
    std::memcpy(&data, pInBuffer, sizeof data);
    switch (iInfoCmd) {
    case EVENT_DATA_ID:
        return putPointer(piType, pOutBuffer, piOutSize, data.BufferHandle);
    case EVENT_DATA_VALUE:
        return putPointer(piType, pOutBuffer, piOutSize, data.pUserPointer);
    default:
        return unknownCommand(iInfoCmd);
    }
}

GC_API EventGetInfo(EVENT_HANDLE hEvent, EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                    size_t* piSize) {
    std::shared_ptr<EventModule> event;
    if (const GC_ERROR error = lookup(hEvent, Kind::Event, event)) {
        return error;
    }
    return event->stream->eventInfo(iInfoCmd, piType, pBuffer, piSize);
}

GC_API EventFlush(EVENT_HANDLE hEvent) {
    std::shared_ptr<EventModule> event;
    if (const GC_ERROR error = lookup(hEvent, Kind::Event, event)) {
        return error;
    }
    event->stream->flushEvents();
    return GC_ERR_SUCCESS;
}

GC_API EventKill(EVENT_HANDLE hEvent) {
    std::shared_ptr<EventModule> event;
    if (const GC_ERROR error = lookup(hEvent, Kind::Event, event)) {
        return error;
    }
    event->stream->killWait();
    return GC_ERR_SUCCESS;
}
