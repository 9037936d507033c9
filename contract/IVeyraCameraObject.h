// The Veyra family's camera object as a host may see it: the thirteen operations of ICameraObject followed by
// the family's own, ISendSoftTrigger and IGetFrameLayout, in the same table. A host that knows it loaded
// vxCam_160 may view the ICameraObject it got from Camera_Create through this class. Where the module's answers,
// frame IDs or log lines differ from what the contract documents, docs/contract-changes.md says so, and why.
#pragma once

#include "contract/ICameraObject.h"

#include <cstdint>

// What the current frame holds, as IGetFrameLayout describes it. A plain record: the host owns it, sets
// `recordSize` to sizeof(VeyraFrameLayout) and the module fills the rest, so that a later, longer record can
// be told from this one.
struct VeyraFrameLayout {
    uint32_t recordSize = sizeof(VeyraFrameLayout);
    // The layout of the bytes at m_pImageData, as a GenICam PFNC name: "Mono8", "Mono12", "Mono12p",
    // "Mono12Packed", "RGB8", "BGR8", ... Converted frames say "BGR8".
    char pixelFormat[32] = {};
    // The camera's own pixel format for this frame, as the camera names it ("BayerRG8", "RGB8Packed", ...).
    char cameraPixelFormat[32] = {};
    uint64_t width = 0;     // pixels per line
    uint64_t height = 0;    // lines
    uint64_t linePitch = 0; // bytes from the start of one line to the next; 0 when lines do not start on a byte
    uint64_t byteSize = 0;  // bytes of the frame at m_pImageData
    // The camera's own full frame number. m_nFrameId holds its low 32 bits, except after a start in trigger mode 3
    // (FreeRunResetFrameId): m_nFrameId then counts from 0 at the first frame delivered after that start (and after
    // an ISetSoftTriggerMode while mode 3 is applied), and this member still gives the camera's own number, so
    // that a host can match frames with the camera's records.
    uint64_t frameId = 0;
};

class IVeyraCameraObject : public ICameraObject {
public:
    using ICameraObject::ICameraObject;

    // Fires one software trigger; 1 when the camera took it, 0 without an open camera or on an SDK error.
    virtual int32_t ISendSoftTrigger() = 0;

    // Describes the frame being delivered. Call it inside OnImageReady, on the thread that runs it: 1 and
    // `layout` filled; 0 (and `layout` untouched) anywhere else, for a null record or one shorter than this
    // version's.
    virtual int32_t IGetFrameLayout(VeyraFrameLayout* layout) = 0;
};

// The view a host takes of a camera object made by vxCam_160.
inline IVeyraCameraObject* asVeyraCamera(ICameraObject* camera) noexcept {
    return static_cast<IVeyraCameraObject*>(camera);
}
