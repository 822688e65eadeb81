#pragma once
// Camera messages a streaming client sends inside its realtime or live-feature session:
// ["camera",N,["add_rectangular_mask",MASK]], ["camera",N,["delete_rectangular_mask",MASK]] and
// ["camera",N,["change_setting",NAME,VALUE]]. They get no reply; their effect comes back as
// notifications.
#include "protocol/common/abstract_config.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {

// True when the message was a well-formed camera message for one of the session's cameras and
// its command ran; false leaves everything unchanged (the caller then reports the message).
bool handleCameraMessage(const LuStr& message, const LuDArray<int>& cameras, AbstractConfig& config);

}  // namespace RyStoreProtocol
