#pragma once
// The subcommands of frameyard-client. Each takes the words after its name, prints its results
// on standard output and returns the exit status; failures are thrown as frameyard::Error (exit 1)
// or UsageError (exit 2) and reported by main().
#include <string>
#include <vector>

#include <frameyard/client.h>

namespace fycli {

struct Subcommand {
    const char* name;
    const char* usage;   // the full --help text
    int (*run)(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
};

// Every subcommand, in the order the general help lists them.
const std::vector<Subcommand>& subcommands();

int runCameras(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runStream(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runWatch(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runLive(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runThreshold(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runSetting(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runMasks(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runAcquire(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runCommand(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runRecord(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);
int runExport(const frameyard::Endpoint& endpoint, const std::vector<std::string>& words);

// Prints a subcommand's usage and returns 0 when --help was given.
bool printedHelp(const char* name, bool help);

}  // namespace fycli
