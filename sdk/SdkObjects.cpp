// Out-of-line destructors: they anchor each facade class's virtual table in the SDK library.
#include "sdk/DataStream.h"
#include "sdk/Device.h"
#include "sdk/ImageProcessor.h"
#include "sdk/Interface.h"
#include "sdk/Node.h"
#include "sdk/System.h"

namespace sdk {
Node::~Node() = default;
NodeMap::~NodeMap() = default;
InterfaceList::~InterfaceList() = default;
System::~System() = default;
DeviceList::~DeviceList() = default;
Interface::~Interface() = default;
DataStreamList::~DataStreamList() = default;
Device::~Device() = default;
BufferList::~BufferList() = default;
Events::DataStreamEventControl::~DataStreamEventControl() = default;
Image::~Image() = default;
} // namespace sdk
