#pragma once
// libframeyard-client: everything a program needs to be a client of a frameyard host. C++17,
// namespace frameyard. See docs/client-guide.md.
//
//   frameyard::Host host("127.0.0.1", 4000);            // descriptions, thresholds, settings, masks
//   frameyard::RealtimeStream stream(host.endpoint());   // frames of every camera
//   frameyard::Frame frame;
//   std::string message;
//   if (stream.next(frame, message, 1000) == frameyard::Got::frame) { ... frame.camera(0) ... }
#include "frameyard/client/acquisition.h"
#include "frameyard/client/api.h"
#include "frameyard/client/cameras.h"
#include "frameyard/client/connection.h"
#include "frameyard/client/decoders.h"
#include "frameyard/client/error.h"
#include "frameyard/client/host.h"
#include "frameyard/client/json.h"
#include "frameyard/client/records.h"
#include "frameyard/client/requests.h"
#include "frameyard/client/streams.h"
