#pragma once
// Running the two programs from tests: a simulated host on a free loopback port, and client
// invocations with their exit status and output, every wait bounded.
#include <sys/types.h>

#include <string>
#include <vector>

namespace toolstest {

struct RunResult {
    int status = -1;        // exit status, or -1 when killed
    bool timedOut = false;
    std::string out, err;
};

// Runs a program to its end (killed after timeoutMs) with stdout and stderr captured.
RunResult run(const std::vector<std::string>& argv, int timeoutMs);

// frameyard-client with --port and the given words.
RunResult client(int port, const std::vector<std::string>& words, int timeoutMs = 20000);

// A port nobody listens on right now.
int freePort();
bool canConnect(int port);

// frameyard-simhost on a free port, started and waited for; stopped by SIGTERM at the end.
class SimHost {
public:
    explicit SimHost(const std::vector<std::string>& extra = {});
    ~SimHost();
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    int port() const { return listenPort; }
    bool running() const { return pid > 0; }
    // Sends SIGTERM and waits (bounded); returns the exit status (-1 when it had to be killed).
    int stop();
    // What the host wrote so far.
    std::string output() const;
    std::string errors() const;

private:
    pid_t pid = -1;
    int listenPort = 0;
    std::string outPath, errPath;
};

// A program left running (a client that records until interrupted, say), stopped by a signal.
class Process {
public:
    explicit Process(const std::vector<std::string>& argv);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Sends the signal (0: none, the program ends by itself) and waits for the end, bounded:
    // killed after timeoutMs.
    RunResult stop(int signal, int timeoutMs = 10000);
    pid_t processId() const { return pid; }

private:
    pid_t pid = -1;
    std::string outPath, errPath;
};

std::string readFile(const std::string& path);
std::string temporaryPath(const char* stem);

}  // namespace toolstest
