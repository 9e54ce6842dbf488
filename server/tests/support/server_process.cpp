#include "server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zeq::test {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(15);

std::vector<char*> argvOf(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// As a shell reports it: 128 + the signal for a process a signal ended.
int exitStatus(int status) {
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ServerProcess::ServerProcess(const std::vector<std::string>& args, const std::string& logPath)
    : logPath_(logPath) {
    // The log may already hold lines of an earlier run: only what the new
    // process writes counts. Measured before the spawn, which may write fast.
    std::size_t skip = readFile(logPath).size();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv = argvOf(args);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + std::strerror(rc));
    }
    static const std::regex listening("escuchando en https?://[^ ]*:([0-9]+)");
    auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        std::string text = readFile(logPath);
        std::smatch match;
        std::string fresh = text.size() > skip ? text.substr(skip) : std::string();
        if (std::regex_search(fresh, match, listening)) {
            port_ = std::stoi(match[1]);
            return;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("server ended at start: " + fresh);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    throw std::runtime_error("server did not start in time");
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

int ServerProcess::consolePort() const {
    static const std::regex console("consola en https?://[^ ]*:([0-9]+)");
    // The last one: a log may hold earlier runs of the server.
    std::string text = readFile(logPath_);
    int port = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), console), end; it != end; ++it) {
        port = std::stoi((*it)[1]);
    }
    return port;
}

void ServerProcess::signal(int number) const {
    if (pid_ > 0) {
        ::kill(pid_, number);
    }
}

int ServerProcess::wait() {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return exitStatus(status);
}

double ServerProcess::cpuSeconds() const {
    return processCpuSeconds(pid_);
}

double processCpuSeconds(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::size_t close = stat.rfind(')');
    if (pid <= 0 || close == std::string::npos) {
        return 0;
    }
    // Fields after the command name: state is field 3; utime and stime are 14 and 15.
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number >= 14) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long ServerProcess::peakMemoryKiB() const {
    std::string status = readFile("/proc/" + std::to_string(pid_) + "/status");
    std::size_t at = status.find("VmHWM:");
    return pid_ > 0 && at != std::string::npos ? std::stol(status.substr(at + 6)) : 0;
}

std::string ServerProcess::log() const {
    return readFile(logPath_);
}

int runProgram(const std::vector<std::string>& args, std::string* out, std::string* err,
               const std::string* input) {
    TempDir capture;
    std::string outPath = capture.file("out"), errPath = capture.file("err");
    std::string inPath = capture.file("in");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input != nullptr) {
        std::ofstream(inPath, std::ios::binary) << *input;
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inPath.c_str(), O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv = argvOf(args);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error(std::string("cannot run ") + argv[0] + ": " + std::strerror(rc));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (out != nullptr) {
        *out = readFile(outPath);
    }
    if (err != nullptr) {
        *err = readFile(errPath);
    }
    return exitStatus(status);
}

TempDir::TempDir() {
    std::string base = std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/zeq-server-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace zeq::test
