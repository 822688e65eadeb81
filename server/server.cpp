#include <frameyard/server.h>

#include "server/server_impl.h"

// The exported operations: each one forwards to the implementation object.
namespace store {

Server::Server() : impl(new Impl(this)) {}

Server::~Server() { delete impl; }

void Server::setListenPort(int port) { impl->setListenPort(port); }

bool Server::startListening() { return impl->startListening(); }

void Server::stopListening() { impl->stopListening(); }

void Server::checkForEvent() { impl->checkForEvent(); }

unsigned int Server::clientCount() const { return impl->clientCount(); }

void Server::setFrameRate(float rate) { impl->setFrameRate(rate); }

void Server::setTimecodeRate(float rate) { impl->setTimecodeRate(rate); }

void Server::cameraSettingChanged(int camera) { impl->cameraSettingChanged(camera); }

void Server::cameraThresholdChanged(int camera) { impl->cameraThresholdChanged(camera); }

void Server::cameraRectangularMasksChanged(int camera) { impl->cameraRectangularMasksChanged(camera); }

}  // namespace store
