// The Veyra family's camera object as a host may see it: the thirteen operations of ICameraObject followed by
// the family's own, ISendSoftTrigger, in the same table. A host that knows it loaded vxCam_160 may view the
// ICameraObject it got from Camera_Create through this class to fire software triggers.
#pragma once

#include "contract/ICameraObject.h"

class IVeyraCameraObject : public ICameraObject {
public:
    using ICameraObject::ICameraObject;

    // Fires one software trigger; 1 when the camera took it, 0 without an open camera or on an SDK error.
    virtual int32_t ISendSoftTrigger() = 0;
};

// The view a host takes of a camera object made by vxCam_160.
inline IVeyraCameraObject* asVeyraCamera(ICameraObject* camera) noexcept {
    return static_cast<IVeyraCameraObject*>(camera);
}
