#include "sdk/gentl/GentlPortDevice.h"

#include <new>

namespace sdk::gentl {
namespace {

// What the GObject instance holds beyond Aravis's device: its port, the library, and the GenICam tree. Made in
// newPortDevice, ended by finalize.
struct PortState {
    std::shared_ptr<const GentlLibrary> library;
    PORT_HANDLE port = nullptr;
    std::string description;
    ArvGc* genicam = nullptr; // owned
};

struct VxGentlPortDevice {
    ArvDevice parent;
    PortState* state;
};

struct VxGentlPortDeviceClass {
    ArvDeviceClass parent_class;
};

GType vxGentlPortDeviceType();

PortState& stateOf(ArvDevice* device) {
    return *reinterpret_cast<VxGentlPortDevice*>(device)->state; // NOLINT: the GObject instance layout
}

// A GenTL error as Aravis's error, with the producer's own description.
void setError(const PortState& state, GC_ERROR code, GError** error, const char* what, guint64 address) {
    ArvDeviceError kind = ARV_DEVICE_ERROR_PROTOCOL_ERROR;
    switch (code) {
    case GC_ERR_ACCESS_DENIED:
        kind = ARV_DEVICE_ERROR_PROTOCOL_ERROR_ACCESS_DENIED;
        break;
    case GC_ERR_INVALID_ADDRESS:
        kind = ARV_DEVICE_ERROR_PROTOCOL_ERROR_INVALID_ADDRESS;
        break;
    case GC_ERR_INVALID_VALUE:
    case GC_ERR_INVALID_PARAMETER:
        kind = ARV_DEVICE_ERROR_PROTOCOL_ERROR_INVALID_PARAMETER;
        break;
    case GC_ERR_NOT_IMPLEMENTED:
    case GC_ERR_NOT_AVAILABLE:
        kind = ARV_DEVICE_ERROR_PROTOCOL_ERROR_NOT_IMPLEMENTED;
        break;
    case GC_ERR_TIMEOUT:
        kind = ARV_DEVICE_ERROR_TIMEOUT;
        break;
    case GC_ERR_BUSY:
    case GC_ERR_RESOURCE_IN_USE:
        kind = ARV_DEVICE_ERROR_PROTOCOL_ERROR_BUSY;
        break;
    case GC_ERR_INVALID_HANDLE:
        kind = ARV_DEVICE_ERROR_NOT_CONNECTED;
        break;
    default:
        break;
    }
    const std::string text = state.library->lastError(code);
    g_set_error(error, ARV_DEVICE_ERROR, kind, "%s at 0x%llx: %s", what, static_cast<unsigned long long>(address),
                text.c_str());
}

gboolean readMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer, GError** error) {
    PortState& state = stateOf(device);
    size_t length = size;
    const GC_ERROR code = state.library->fn().GCReadPort(state.port, address, buffer, &length);
    if (code != GC_ERR_SUCCESS) {
        setError(state, code, error, "reading the port", address);
        return FALSE;
    }
    if (length != size) {
        g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_TRANSFER_ERROR, "the port gave %zu of %u bytes at 0x%llx",
                    length, size, static_cast<unsigned long long>(address));
        return FALSE;
    }
    return TRUE;
}

gboolean writeMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer, GError** error) {
    PortState& state = stateOf(device);
    size_t length = size;
    const GC_ERROR code = state.library->fn().GCWritePort(state.port, address, buffer, &length);
    if (code != GC_ERR_SUCCESS) {
        setError(state, code, error, "writing the port", address);
        return FALSE;
    }
    return TRUE;
}

// 32-bit registers are memory of four bytes; the byte order is the description's business.
gboolean readRegister(ArvDevice* device, guint64 address, guint32* value, GError** error) {
    return readMemory(device, address, sizeof *value, value, error);
}

gboolean writeRegister(ArvDevice* device, guint64 address, guint32 value, GError** error) {
    return writeMemory(device, address, sizeof value, &value, error);
}

ArvGc* genicamOf(ArvDevice* device) {
    return stateOf(device).genicam;
}

const char* descriptionOf(ArvDevice* device, size_t* size) {
    const PortState& state = stateOf(device);
    *size = state.description.size();
    return state.description.c_str();
}

ArvStream* noStream(ArvDevice* /*device*/, ArvStreamCallback /*callback*/, void* /*data*/, GDestroyNotify /*destroy*/,
                    GError** error) {
    g_set_error(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_NO_STREAM_CHANNEL,
                "frames of a GenTL device come through its GenTL data streams");
    return nullptr;
}

GObjectClass* g_parentClass = nullptr; // set once by the class initialiser, under GLib's type lock

void finalize(GObject* object) {
    auto* self = reinterpret_cast<VxGentlPortDevice*>(object); // NOLINT: the GObject instance layout
    if (self->state != nullptr) {
        if (self->state->genicam != nullptr) {
            g_object_unref(self->state->genicam);
        }
        delete self->state; // NOLINT(cppcoreguidelines-owning-memory): the instance's own state
        self->state = nullptr;
    }
    g_parentClass->finalize(object);
}

void classInit(gpointer klass, gpointer /*data*/) {
    g_parentClass = static_cast<GObjectClass*>(g_type_class_peek_parent(klass));
    auto* objectClass = static_cast<GObjectClass*>(klass);
    objectClass->finalize = &finalize;
    auto* deviceClass = static_cast<ArvDeviceClass*>(klass);
    deviceClass->create_stream = &noStream;
    deviceClass->get_genicam_xml = &descriptionOf;
    deviceClass->get_genicam = &genicamOf;
    deviceClass->read_memory = &readMemory;
    deviceClass->write_memory = &writeMemory;
    deviceClass->read_register = &readRegister;
    deviceClass->write_register = &writeRegister;
}

// GLib's type names are process-wide: a second copy of this file in one process (a test's own) names its type
// otherwise.
#ifndef VXCAM_GENTL_PORT_DEVICE_TYPE
#define VXCAM_GENTL_PORT_DEVICE_TYPE "VxGentlPortDevice"
#endif

GType vxGentlPortDeviceType() {
    static const GType type = g_type_register_static_simple(arv_device_get_type(), VXCAM_GENTL_PORT_DEVICE_TYPE,
                                                            sizeof(VxGentlPortDeviceClass), &classInit,
                                                            sizeof(VxGentlPortDevice), nullptr, GTypeFlags{});
    return type;
}

} // namespace

ArvDevice* newPortDevice(std::shared_ptr<const GentlLibrary> library, PORT_HANDLE port, const std::string& description,
                         std::string& error) {
    auto* device = static_cast<ArvDevice*>(g_object_new(vxGentlPortDeviceType(), nullptr));
    auto* self = reinterpret_cast<VxGentlPortDevice*>(device); // NOLINT: the GObject instance layout
    self->state = new (std::nothrow) PortState; // NOLINT(cppcoreguidelines-owning-memory): freed by finalize
    if (self->state == nullptr) {
        g_object_unref(device);
        error = "no memory for the device";
        return nullptr;
    }
    self->state->library = std::move(library);
    self->state->port = port;
    self->state->description = description;
    self->state->genicam = arv_gc_new(device, self->state->description.data(), self->state->description.size());
    if (self->state->genicam == nullptr) {
        g_object_unref(device);
        error = "Aravis cannot read the device's GenICam description";
        return nullptr;
    }
    return device;
}

} // namespace sdk::gentl
