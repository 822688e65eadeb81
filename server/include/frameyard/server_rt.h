#ifndef FRAMEYARD_SERVER_RT_H
#define FRAMEYARD_SERVER_RT_H
// frameyard-rt: serves a camera host's realtime frames and camera configuration to TCP clients
// from inside the host's own main loop. It is the realtime-only build of frameyard: clients may
// stream frames ('R'), send configure requests ('c') and command exchanges ('C'); there are no
// live features, no camera images and no acquisitions, and so no callbacks for them.
//
// Derive your host class from store::Server, implement the 18 callbacks, optionally call
// setListenPort(), call startListening() and then checkForEvent() on every pass of your main
// loop. The library starts no thread and never blocks: every callback is invoked from inside
// one of your calls into this class, in your thread. Do not call back into the server from
// inside a callback. Link with -lframeyard-rt. This header is self-contained and valid C++11;
// include it or <frameyard/server.h>, never both.

#include <array>
#include <string>
#include <vector>

// The library is built with hidden visibility; this class is the only thing it exports.
#if defined(__GNUC__)
#define FRAMEYARD_RT_EXPORT __attribute__((visibility("default")))
#else
#define FRAMEYARD_RT_EXPORT
#endif

namespace store {

class FRAMEYARD_RT_EXPORT Server {
public:
    // Centroids inside the circle (display coordinates, see below) are not sent.
    struct CircularMask { float x; float y; float radius; };
    // One blob centre in image pixels.
    struct Centroid { float x; float y; };
    // Timecode components; clients receive the low byte of each.
    using Timecode = std::array<int, 4>;
    // The newest frame: one centroid list per camera, cameraCount() lists in camera order.
    struct Frame { std::vector<std::vector<Centroid>> centroids; Timecode timecode; };

    // Listen port 4000, no clients, not listening.
    Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Port for the next startListening(); a running listener is not affected.
    void setListenPort(int port);
    // Where startListening() listens: an IPv4 or IPv6 address in numeric form ("127.0.0.1",
    // "::1", "0.0.0.0" for every IPv4 address, "::" for every address). The default is
    // "0.0.0.0". Takes effect at the next startListening(); an address that cannot be parsed
    // or bound makes that call fail through reportError, like a busy port.
    void setListenAddress(const std::string& address);
    // Which clients may connect: a comma-separated list of addresses and networks in prefix
    // form ("127.0.0.1,192.168.10.0/24,fd00::/8"). Empty, the default, admits every client.
    // A connection from elsewhere is closed as soon as it is accepted, before anything is
    // read from it. A malformed list returns false and changes nothing.
    bool setAllowedClients(const std::string& networks);
    // Which admitted clients may change the host: thresholds, camera settings, circular and
    // rectangular masks, acquisitions. Same list form; empty, the default, lets every admitted
    // client change. The others may read and stream only.
    bool setControllingClients(const std::string& networks);
    // At most this many clients at once; 0, the default, sets no limit of its own. A
    // connection beyond the limit is closed as soon as it is accepted.
    void setMaxClients(unsigned int count);
    // Opens the listening socket on the listen address. True on success or when already
    // listening ("Already listening." goes to reportWarning); a failure goes to reportError,
    // for example "Error binding socket: Address already in use", and returns false.
    bool startListening();
    // Closes the listening socket; connected clients stay connected ("Not listening." when idle).
    void stopListening();
    // One turn of the event pump: serves every client with what has arrived or can be sent
    // without blocking, moves at most one realtime frame from the host to the clients, accepts
    // new connections, and returns.
    void checkForEvent();
    // Client sessions currently held, in any state.
    unsigned int clientCount() const;
    // Notifications of host state: clients that monitor these are told, and only on a change.
    void setFrameRate(float rate);
    void setTimecodeRate(float rate);

    // ---- Host callbacks, slots 0 to 17. Cameras are 0-based indices below cameraCount().
    // Display coordinates: a 512-unit space centred at (256, 256); a w x h camera maps with
    // the scale min(512 / w, 368 / h).
    virtual void reportError(const std::string& message) = 0;
    virtual void reportWarning(const std::string& message) = 0;
    virtual int cameraCount() = 0;
    virtual int cameraThreshold(int camera) = 0;
    virtual bool setCameraThreshold(int camera, int threshold) = 0;
    virtual float cameraPixelAspectRatio(int camera) = 0;
    virtual std::vector<CircularMask> cameraCircularMasks(int camera) = 0;
    virtual void setCameraCircularMasks(int camera, const std::vector<CircularMask>& masks) = 0;
    virtual std::string cameraName(int camera) = 0;
    virtual int cameraImageWidth(int camera) = 0;
    virtual int cameraImageHeight(int camera) = 0;
    // The first realtime client is ready; startRealtime() follows at once.
    virtual void realtimeStarting() = 0;
    // Polled once per checkForEvent() while realtime streaming is active.
    virtual bool frameAvailable() = 0;
    // Called right after frameAvailable() answered true; the frame is copied at once.
    virtual const Frame* currentFrame() = 0;
    virtual void startRealtime() = 0;
    virtual void stopRealtime() = 0;
    // Never called by the library; they keep the slot order of the callback table.
    virtual void reserved16() = 0;
    virtual void reserved17() = 0;

protected:
    ~Server();   // not virtual (keeps the slot order); protected so that no host deletes through Server*

private:
    class Impl;
    Impl* impl;
};

}  // namespace store

#endif  // FRAMEYARD_SERVER_RT_H
