#include <frameyard/server.h>

#include "server/full/host_forwarder.h"

// The exported operations: each one forwards to the server core.
namespace store {

Server::Server() : impl(new Impl(*this)) {}

Server::~Server() { delete impl; }

void Server::setListenPort(int port) { impl->server().setListenPort(port); }

bool Server::startListening() { return impl->server().startListening(); }

void Server::stopListening() { impl->server().stopListening(); }

void Server::checkForEvent() { impl->server().checkForEvent(); }

unsigned int Server::clientCount() const { return impl->server().clientCount(); }

void Server::setFrameRate(float rate) { impl->server().setFrameRate(rate); }

void Server::setTimecodeRate(float rate) { impl->server().setTimecodeRate(rate); }

void Server::cameraSettingChanged(int camera) { impl->server().cameraSettingChanged(camera); }

void Server::cameraThresholdChanged(int camera) { impl->server().cameraThresholdChanged(camera); }

void Server::cameraRectangularMasksChanged(int camera) { impl->server().cameraRectangularMasksChanged(camera); }

}  // namespace store
