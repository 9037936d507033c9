// The Veyra family's camera object as a host may see it: the thirteen operations of ICameraObject followed by
// the family's own, ISendSoftTrigger, IGetFrameLayout and IGetStreamStatistics, in the same table. A host that knows it
// loaded vxCam_160 may view the ICameraObject it got from Camera_Create through this class. Where the module's answers,
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

// What the camera's data streams received since the camera was opened, as IGetStreamStatistics gives it. A plain
// record like VeyraFrameLayout: the host sets `recordSize` to sizeof(VeyraStreamStatistics). Counted by the
// transport (packets and buffers it saw), not inferred from frame IDs.
struct VeyraStreamStatistics {
    uint32_t recordSize = sizeof(VeyraStreamStatistics);
    uint64_t framesCompleted = 0;  // arrived whole and went on to delivery
    uint64_t framesIncomplete = 0; // arrived with packets missing even after resends; never reached the host
    uint64_t framesMissing = 0;    // not one packet of them arrived (0 where the transport cannot tell)
    // Frames sent while every buffer was in use (a host slower than the camera), where the transport counts
    // frames; GigE Vision counts the packets instead, in packetsNoBuffer, and leaves this 0.
    uint64_t framesLostNoBuffer = 0;
    uint64_t packetsNoBuffer = 0; // stream packets dropped because every buffer was in use (GigE Vision)
    uint64_t packetsMissing = 0;  // stream packets that did not arrive when expected (GigE Vision)
    uint64_t packetsResent = 0;   // stream packets the camera sent again on request (GigE Vision)
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

    // Fills `statistics` with the counts of the open camera's streams (summed when it has several): 1; 0 (and
    // `statistics` untouched) without an open camera, for a null record or one shorter than this version's, or on
    // an SDK error. Any thread, callbacks included; the counts start again with every IOpenCamera.
    virtual int32_t IGetStreamStatistics(VeyraStreamStatistics* statistics) = 0;
};

// The view a host takes of a camera object made by vxCam_160.
inline IVeyraCameraObject* asVeyraCamera(ICameraObject* camera) noexcept {
    return static_cast<IVeyraCameraObject*>(camera);
}
