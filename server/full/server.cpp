#include <frameyard/server.h>

#include "server/full/host_forwarder.h"

// The exported operations: each one forwards to the server core.
namespace store {

#include "server/public_operations.inc"

void Server::cameraSettingChanged(int camera) { impl->server().cameraSettingChanged(camera); }

void Server::cameraThresholdChanged(int camera) { impl->server().cameraThresholdChanged(camera); }

void Server::cameraRectangularMasksChanged(int camera) { impl->server().cameraRectangularMasksChanged(camera); }

}  // namespace store
