// frameyard-client: speaks every client-side protocol of a frameyard server from the shell.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/frameyard-client/cli_args.h"
#include "tools/frameyard-client/commands.h"

namespace fycli {
namespace {

const char kGeneralUsage[] =
    "usage: frameyard-client [--host HOST] [--port PORT] [--timeout MS] COMMAND [ARGS]\n"
    "Talks to a frameyard server (default 127.0.0.1:4000).\n"
    "\n"
    "commands:\n"
    "  cameras                         camera descriptions and thresholds as a table\n"
    "  stream [options]                realtime frames: frames/s, centroids, timecode\n"
    "  watch [options]                 a live picture of each camera's blobs\n"
    "  live CAMERA [options]           one camera's run segments and images\n"
    "  threshold CAMERA VALUE          change a camera's threshold (0 to 255)\n"
    "  setting CAMERA NAME VALUE       change a camera's number setting\n"
    "  masks get|set|add-rect|delete-rect ...   circular and rectangular masks\n"
    "  acquire --fields N [options]    record fields on the host and download them\n"
    "  command 'JSON' ['JSON' ...]     raw command exchanges on one connection\n"
    "  record --out FILE [options]     realtime frames written to a recording file\n"
    "  export FILE --csv OUT|--summary a recording as CSV rows or per-camera figures\n"
    "\n"
    "  --host HOST     server address (default 127.0.0.1)\n"
    "  --port PORT     server port (default 4000)\n"
    "  --timeout MS    longest wait for the server (default 5000)\n"
    "Run 'frameyard-client COMMAND --help' for a command's options.\n";

const std::vector<Subcommand> kSubcommands = {
    {"cameras",
     "usage: frameyard-client cameras [--json]\n"
     "Lists every camera: name, image region (display coordinates), threshold and number settings\n"
     "with their ranges and precisions.\n"
     "  --json    print the server's camera descriptions as they came\n",
     runCameras},
    {"stream",
     "usage: frameyard-client stream [--cameras NAME,...] [--compact] [--timecodes] [--messages]\n"
     "                               [--seconds S] [--print]\n"
     "Opens a realtime session and prints a line per second: frames/s, the centroid count of each\n"
     "camera and the latest timecode.\n"
     "  --cameras NAME,...  only these cameras, in this order (default: all)\n"
     "  --compact           ask for 4-byte fixed-point centroids\n"
     "  --timecodes         ask for a timecode with every frame\n"
     "  --messages          tagged stream with notifications; enables every monitor and prints\n"
     "                      each message as it comes\n"
     "  --seconds S         stop after S seconds (default 0: until interrupted)\n"
     "  --print             print every frame with its centroids instead of the summary\n",
     runStream},
    {"watch",
     "usage: frameyard-client watch [--cameras NAME,...] [--seconds S]\n"
     "Draws each camera's blobs in the terminal, redrawn in place about ten times a second.\n"
     "  --cameras NAME,...  only these cameras, in this order (default: all)\n"
     "  --seconds S         stop after S seconds (default 0: until interrupted)\n",
     runWatch},
    {"live",
     "usage: frameyard-client live CAMERA [--images] [--seconds S] [--save DIR] [--view]\n"
     "Selects the camera for live features and prints a line per second: frames/s, segments per\n"
     "frame, images/s, bytes/s and the latest timecode. Every image is acknowledged on receipt.\n"
     "  --images     ask for the camera's 8-bit images too\n"
     "  --seconds S  stop after S seconds (default 0: until interrupted)\n"
     "  --save DIR   write each image to DIR as a binary PGM file, CAMERA_hh-mm-ss-ff.pgm\n"
     "               (implies --images)\n"
     "  --view       draw the latest image in the terminal instead of the lines (implies --images)\n",
     runLive},
    {"threshold",
     "usage: frameyard-client threshold CAMERA VALUE\n"
     "Sets the camera's threshold (0 to 255) over a realtime session and waits for the server's\n"
     "confirmation.\n",
     runThreshold},
    {"setting",
     "usage: frameyard-client setting CAMERA NAME VALUE\n"
     "Changes a number setting of the camera (for example gain) and prints the value the host\n"
     "then holds.\n",
     runSetting},
    {"masks",
     "usage: frameyard-client masks get [CAMERA]\n"
     "       frameyard-client masks set CAMERA [X,Y,RADIUS ...]\n"
     "       frameyard-client masks add-rect CAMERA X1 Y1 X2 Y2\n"
     "       frameyard-client masks delete-rect CAMERA X1 Y1 X2 Y2\n"
     "Masks in display coordinates (a 512-unit space centred at 256,256).\n"
     "  get          circular and rectangular masks of every camera, or of one\n"
     "  set          replaces the camera's circular masks (none given: removes them)\n"
     "  add-rect     adds a rectangular mask\n"
     "  delete-rect  deletes the rectangular mask at those coordinates\n",
     runMasks},
    {"acquire",
     "usage: frameyard-client acquire --fields N [--start ID] [--globs] [--images] [--steps K]\n"
     "                                [--out DIR]\n"
     "Asks the host to record N fields, arms it, starts the recording and shows its progress;\n"
     "Ctrl-C stops the recording early. Then downloads every recorded field.\n"
     "  --fields N   fields to record (1 to 16777216)\n"
     "  --start ID   number of the first field (default 0)\n"
     "  --globs      download the centroids (the default when --images is not given)\n"
     "  --images     download the images\n"
     "  --steps K    step the armed host K fields ahead before recording (default 0)\n"
     "  --out DIR    write DIR/centroids.csv (field, timecode, camera, x, y, flags) and one PGM\n"
     "               picture per field and camera, named fieldNUMBER_cameraC.pgm\n",
     runAcquire},
    {"command",
     "usage: frameyard-client command 'JSON' ['JSON' ...]\n"
     "Sends each text as one command exchange on one connection and prints each reply.\n"
     "Exits with status 1 at the first reply of the form [\"error\",...].\n"
     "example: frameyard-client command '[\"want_cameras\",[\"cam1\"]]' '[\"get_thresholds\"]'\n",
     runCommand},
    {"record",
     "usage: frameyard-client record --out FILE [--cameras NAME,...] [--seconds S] [--compact]\n"
     "                               [--image-size WxH[,WxH...]]\n"
     "Records a realtime session: every frame with its receive time and timecode, the cameras'\n"
     "descriptions and thresholds, and the frame and timecode rates the server announces. Prints a\n"
     "line per second and a summary; Ctrl-C stops it with the file whole up to the last frame.\n"
     "Positions are stored in image pixels (docs/recording-format.md).\n"
     "  --out FILE          the recording to write (replaced if it exists)\n"
     "  --cameras NAME,...  only these cameras, in this order (default: all)\n"
     "  --seconds S         stop after S seconds (default 0: until interrupted)\n"
     "  --compact           receive 4-byte fixed-point centroids (1/128 display unit)\n"
     "  --image-size WxH    the cameras' image size in pixels, one for all or one per camera;\n"
     "                      the wire does not carry it (without it, positions stay in display units)\n",
     runRecord},
    {"export",
     "usage: frameyard-client export FILE [--csv OUT] [--summary]\n"
     "Reads a recording made by 'record'. A damaged file is exported up to the damage, which is\n"
     "then reported with its offset (exit status 1).\n"
     "  --csv OUT    one row per centroid: frame,receive_time,timecode,camera,x,y (OUT - : stdout)\n"
     "  --summary    per camera: frames, centroids per frame min/mean/max, frame-rate jitter p50/p99\n",
     runExport},
};

const Subcommand* findSubcommand(const std::string& name) {
    for (const Subcommand& s : kSubcommands) {
        if (name == s.name) return &s;
    }
    return nullptr;
}

}  // namespace

const std::vector<Subcommand>& subcommands() { return kSubcommands; }

bool printedHelp(const char* name, bool help) {
    if (!help) return false;
    const Subcommand* s = findSubcommand(name);
    std::fputs(s ? s->usage : kGeneralUsage, stdout);
    return true;
}

}  // namespace fycli

int main(int argc, char** argv) {
    using namespace fycli;
    std::signal(SIGPIPE, SIG_IGN);
    frameyard::Endpoint endpoint;
    std::vector<std::string> rest;
    const Subcommand* command = nullptr;
    try {
        // Global options may come before or after the command name.
        for (int i = 1; i < argc; ++i) {
            std::string word = argv[i];
            auto takeValue = [&](const char* option) {
                if (i + 1 >= argc) throw UsageError(std::string(option) + " needs a value");
                return std::string(argv[++i]);
            };
            if (word == "--host") {
                endpoint.host = takeValue("--host");
            } else if (word == "--port") {
                endpoint.port = static_cast<int>(parseInteger(takeValue("--port"), "--port", 1, 65535));
            } else if (word == "--timeout") {
                endpoint.timeoutMs = static_cast<int>(parseInteger(takeValue("--timeout"), "--timeout", 1, 3600000));
            } else if (command == nullptr && (word == "--help" || word == "-h" || word == "help")) {
                if (word == "help" && i + 1 < argc && findSubcommand(argv[i + 1])) {
                    return printedHelp(argv[i + 1], true) ? 0 : 1;
                }
                std::fputs(kGeneralUsage, stdout);
                return 0;
            } else if (command == nullptr && word.rfind("-", 0) != 0) {
                command = findSubcommand(word);
                if (command == nullptr) throw UsageError("unknown command '" + word + "'");
            } else if (command == nullptr) {
                throw UsageError("unknown option '" + word + "'");
            } else {
                rest.push_back(word);
            }
        }
        if (command == nullptr) throw UsageError("no command given");
        return command->run(endpoint, rest);
    } catch (const UsageError& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "frameyard-client: %s\n", error.what());
        std::fprintf(stderr, "%s", command ? command->usage : "Run 'frameyard-client --help' for the commands.\n");
        return 2;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "frameyard-client: %s\n", error.what());
        return 1;
    }
}
