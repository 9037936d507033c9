// Export macro of the SDK layer's shared library.
#pragma once

#if defined(_WIN32)
#if defined(VXSDK_BUILDING)
#define VXSDK_API __declspec(dllexport)
#else
#define VXSDK_API __declspec(dllimport)
#endif
#else
#define VXSDK_API __attribute__((visibility("default")))
#endif
