#include "sdk/aravis/AravisObjects.h"

#include "sdk/SdkExceptions.h"

namespace sdk::aravis {

Q_LOGGING_CATEGORY(lcAravisCategory, "vxcam.aravis")

const QLoggingCategory& lcAravis() {
    return lcAravisCategory();
}

const TransportInfo& infoOf(Transport transport) noexcept {
    static const TransportInfo gev{"gev", "Aravis-GEV", "GEV", "GigEVision"};
    static const TransportInfo u3v{"u3v", "Aravis-U3V", "U3V", "USB3Vision"};
    static const TransportInfo virt{"virtual", "Aravis-Virtual", "Virtual", "Fake"};
    switch (transport) {
    case Transport::GigEVision:
        return gev;
    case Transport::Usb3Vision:
        return u3v;
    case Transport::Virtual:
        break;
    }
    return virt;
}

ArvInterface* interfaceOf(Transport transport) {
    switch (transport) {
    case Transport::GigEVision:
        return arv_gv_interface_get_instance();
    case Transport::Usb3Vision:
        return arv_uv_interface_get_instance();
    case Transport::Virtual:
        break;
    }
    return arv_fake_interface_get_instance();
}

void DeviceLink::requireConnected(const char* function) const {
    if (lost.load()) {
        Exceptions::raise("NotAvailableException", function,
                          "camera " + serial + " is no longer reachable (control lost)");
    }
}

} // namespace sdk::aravis
