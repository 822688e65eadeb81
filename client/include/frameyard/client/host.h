#pragma once
// A host as a client program sees it: its cameras, thresholds, settings and masks, each call
// on a connection of its own (the server answers one configure request per connection), every
// wait bounded by the endpoint's time-out. Failures throw frameyard::Error.
#include <string>
#include <vector>

#include "frameyard/client/api.h"
#include "frameyard/client/cameras.h"
#include "frameyard/client/connection.h"
#include "frameyard/client/decoders.h"
#include "frameyard/client/records.h"

namespace frameyard {

class FRAMEYARD_CLIENT_API Host {
public:
    explicit Host(const Endpoint& endpoint) : endpoint_(endpoint) {}
    Host(const std::string& address, int port, int timeoutMs = 5000) : endpoint_{address, port, timeoutMs} {}

    const Endpoint& endpoint() const { return endpoint_; }

    // Every camera of the host, in host order, with its image region and settings.
    std::vector<Camera> cameras();
    // The description text as the server sent it (a JSON array).
    std::string camerasText();
    std::vector<int> thresholds();
    AspectAnswer aspect();
    CameraCountAnswer cameraCount();

    // One threshold, 0 to 255; throws Error for an unknown camera or a value out of range. The
    // host applies it at once and tells the clients that watch camera messages.
    void setThreshold(const std::string& camera, int threshold);
    // A camera's number setting, through the command exchange; throws Error with the server's
    // answer unless it is "ok".
    void setSetting(const std::string& camera, const std::string& setting, double value);

    // Circular masks of every camera, in host order, in display units.
    MaskTable circularMasks();
    // Sends a whole table (one list per camera, host order). The server sends no answer: read
    // the masks back to see what the host made of it.
    void setCircularMasks(const MaskTable& table);

    // Rectangular masks, in display units: added or deleted through a camera message.
    void addRectangularMask(const std::string& camera, float x1, float y1, float x2, float y2);
    void deleteRectangularMask(const std::string& camera, float x1, float y1, float x2, float y2);

    // Command exchanges in order on one connection; each reply as the server sent it (errors
    // included, not thrown).
    std::string command(const std::string& json);
    std::vector<std::string> commands(const std::vector<std::string>& jsons);

private:
    // A live-feature connection (it starts nothing on the host until a camera is selected),
    // for commands that only the streams carry.
    void sendOnStream(const Bytes& command);

    Endpoint endpoint_;
};

// One command exchange on an open connection: sends 'C' and the text, returns the reply.
FRAMEYARD_CLIENT_API std::string exchangeCommand(Connection& connection, const std::string& json);

}  // namespace frameyard
