#include "tools/tools_test_support.h"
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "toolkit/test_ports.h"

extern char** environ;

namespace toolstest {
namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

// Waits for the child until the deadline; -2 while it still runs.
int waitUntil(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (Clock::now() >= deadline) return -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int killAndReap(pid_t pid) {
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return -1;
}

}  // namespace

std::string temporaryPath(const char* stem) {
    std::string path = std::string("/tmp/") + stem + "-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

// The program's end within the time-out, with its output; the output files are removed.
RunResult finish(pid_t pid, int timeoutMs, const std::string& outPath, const std::string& errPath) {
    RunResult result;
    result.status = waitUntil(pid, Clock::now() + std::chrono::milliseconds(timeoutMs));
    if (result.status == -2) {
        result.timedOut = true;
        result.status = killAndReap(pid);
    }
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return result;
}

}  // namespace

RunResult run(const std::vector<std::string>& argv, int timeoutMs) {
    std::string outPath = temporaryPath("fy-tools-out"), errPath = temporaryPath("fy-tools-err");
    return finish(spawn(argv, outPath, errPath), timeoutMs, outPath, errPath);
}

Process::Process(const std::vector<std::string>& argv)
    : outPath(temporaryPath("fy-process-out")), errPath(temporaryPath("fy-process-err")) {
    pid = spawn(argv, outPath, errPath);
}

Process::~Process() {
    if (pid > 0) stop(SIGKILL, 5000);
}

RunResult Process::stop(int signal, int timeoutMs) {
    kill(pid, signal);
    RunResult result = finish(pid, timeoutMs, outPath, errPath);
    pid = -1;
    return result;
}

RunResult client(int port, const std::vector<std::string>& words, int timeoutMs) {
    std::vector<std::string> argv{FY_CLIENT_PATH, "--port", std::to_string(port)};
    argv.insert(argv.end(), words.begin(), words.end());
    return run(argv, timeoutMs);
}

int freePort() { return fy_test::freeLoopbackPort(); }

bool canConnect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

SimHost::SimHost(const std::vector<std::string>& extra) {
    outPath = temporaryPath("fy-simhost-out");
    errPath = temporaryPath("fy-simhost-err");
    // Another process may take the free port between our look and the host's bind: try again.
    for (int attempt = 0; attempt < 5 && pid < 0; ++attempt) {
        listenPort = freePort();
        // The host stops by itself after two minutes even if a test never stops it.
        std::vector<std::string> argv{FY_SIMHOST_PATH, "--port", std::to_string(listenPort), "--seconds", "120"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        pid_t child = spawn(argv, outPath, errPath);
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child) {
                child = -1;   // it could not listen
                break;
            }
            if (canConnect(listenPort)) {
                pid = child;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (pid < 0 && child > 0) killAndReap(child);
    }
    if (pid < 0) throw std::runtime_error("frameyard-simhost did not start: " + readFile(errPath));
}

SimHost::~SimHost() {
    if (pid > 0) stop();
    unlink(outPath.c_str());
    unlink(errPath.c_str());
}

int SimHost::stop() {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    int status = waitUntil(pid, Clock::now() + std::chrono::seconds(10));
    if (status == -2) status = killAndReap(pid);
    pid = -1;
    return status;
}

std::string SimHost::output() const { return readFile(outPath); }

std::string SimHost::errors() const { return readFile(errPath); }

}  // namespace toolstest
