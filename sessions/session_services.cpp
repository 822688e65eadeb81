#include "sessions/session_services.h"

#include "protocol/configure/configure_handler.h"

namespace {

// Counts one more or one fewer subscriber of a camera; true when the camera's first
// subscriber came or its last one left (the host is told only then).
bool countSubscription(std::map<int, int>& counts, int camera, bool on) {
    if (on) return ++counts[camera] == 1;
    auto found = counts.find(camera);
    // A release without a matching acquire would drive the count below zero; it changes
    // nothing the host has been told.
    if (found == counts.end()) return false;
    if (--found->second > 0) return false;
    counts.erase(found);
    return true;
}

}  // namespace

RyStoreProtocol::AbstractConfig& SessionServices::config() { return configure_.config(); }

int SessionServices::takeAcquisitionId() {
    int id = 0;
    while (acquisitionIds_.count(id) > 0) ++id;
    acquisitionIds_.insert(id);
    return id;
}

void SessionServices::setFeatureCamera(int camera, bool on) {
    if (countSubscription(featureCameraCounts_, camera, on) && liveFeat_ != nullptr)
        liveFeat_->setFeaturesWanted(camera, on);
}

void SessionServices::setImageCamera(int camera, bool on) {
    if (countSubscription(imageCameraCounts_, camera, on) && liveFeat_ != nullptr)
        liveFeat_->setImagesWanted(camera, on);
}
