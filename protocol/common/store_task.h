#pragma once
// A pollable unit of work: sessions, protocol objects, the configure task and the multi-client
// handler are all advanced by calling process() from the host's thread until they report that
// they are no longer alive. Nothing in process() ever waits.

class RyStoreTask {
public:
    virtual ~RyStoreTask() = default;
    virtual void process() = 0;
    virtual bool isAlive() = 0;
};
