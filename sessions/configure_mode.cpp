#include "sessions/configure_mode.h"

#include "sessions/session_services.h"

bool ConfigureMode::start() {
    task = std::make_unique<RyStoreConfigureHandlerBase::HandleConfigurationRequestTask>(
        session.configureHandler(), session.socket(), session.cameras());
    return true;
}

bool ConfigureMode::step() {
    task->process();
    if (task->isAlive()) return false;
    next_ = Next::waitForClientToClose;
    return true;
}
