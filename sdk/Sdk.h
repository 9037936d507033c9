// The SDK layer, all of it: include this one header.
#pragma once

#include "sdk/Buffer.h"
#include "sdk/DataStream.h"
#include "sdk/Device.h"
#include "sdk/ImageProcessor.h"
#include "sdk/Interface.h"
#include "sdk/Node.h"
#include "sdk/SdkExceptions.h"
#include "sdk/SdkString.h"
#include "sdk/System.h"
#include "sdk/SystemList.h"
