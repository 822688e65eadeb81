#pragma once
// The handler's broadcasts to its sessions besides realtime frames: status messages (rates,
// rectangular masks, setting changes), each to the sessions whose running mode takes them and
// framed by that mode, and live-feature images to the sessions that selected the camera. Every
// session reached is queued for service.
#include "protocol/common/abstract_config.h"
#include "protocol/common/records.h"
#include "protocol/frames/glob_interfaces.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_nullable.h"
#include "toolkit/lu_str.h"

class SessionEventLoop;

namespace SessionBroadcasts {

// Stored in the configuration and sent to the sessions monitoring it, unless it equals the
// stored value.
void rateChanged(SessionEventLoop& loop, RyStoreProtocol::AbstractConfig& config, RyStoreProtocol::RateKind kind,
                 float value);
void rectangularMasks(SessionEventLoop& loop, const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table);
void settingChanged(SessionEventLoop& loop, int camera, const LuStr& name, double value);
// Encoded once per form for all sessions, each under its own image flow control.
void liveFeatImage(SessionEventLoop& loop, int camera, const RyStoreProtocol::SegmentListInterface& segments,
                   const RyStoreProtocol::ImageView* image, const RyStoreProtocol::Timecode* timecode);

}  // namespace SessionBroadcasts
