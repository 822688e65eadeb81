#include "sessions/read_only_config.h"

#include "sessions/access_policy.h"

void ReadOnlyConfig::refuse(const char* what) { access.reportRefusedChange(client, what); }

void ReadOnlyConfig::changeThreshold(int, int) { refuse("threshold change"); }

void ReadOnlyConfig::addRectangularMask(int, const RyRectangularMask&) { refuse("rectangular mask change"); }

void ReadOnlyConfig::deleteRectangularMask(int, const RyRectangularMask&) { refuse("rectangular mask change"); }

void ReadOnlyConfig::changeSetting(int, const LuStr&, double) { refuse("camera setting change"); }

void ReadOnlyConfig::setCircularMasks(const LuDArray<LuDArray<RyCircularMask>>&, const LuDArray<int>&) {
    refuse("circular mask change");
}
