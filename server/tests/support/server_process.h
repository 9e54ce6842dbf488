#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zeq::test {

// A zeq-server child process. Its standard error goes to a log file; the
// constructor waits for the "escuchando en" line and takes the port from it.
class ServerProcess {
  public:
    ServerProcess(const std::vector<std::string>& args, const std::string& logPath);
    ~ServerProcess(); // SIGTERM and wait, if still running
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const {
        return port_;
    }
    // The console's port, from its "consola en" line (logged before the
    // upload listener's); 0 when the console is off.
    int consolePort() const;
    pid_t pid() const {
        return pid_;
    }
    void signal(int number) const;
    // Waits for the process to end and returns its exit status (-1 if killed).
    int wait();
    std::string log() const;
    // CPU time the process has used so far (user + system), from /proc.
    double cpuSeconds() const;
    // The most resident memory the process has had so far (VmHWM), in KiB.
    long peakMemoryKiB() const;

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string logPath_;
};

// CPU time (user + system) a running process has used so far, from /proc; 0
// if there is no such process.
double processCpuSeconds(pid_t pid);

// Runs a command to its end; returns its exit status and fills the outputs.
// Standard input is `input` when given (a file, so never a terminal), else the
// caller's.
int runProgram(const std::vector<std::string>& args, std::string* out = nullptr,
               std::string* err = nullptr, const std::string* input = nullptr);

std::string readFile(const std::string& path);

// A fresh directory under the build tree's temporary area, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const {
        return path_;
    }
    std::string file(const std::string& name) const {
        return path_ + "/" + name;
    }

  private:
    std::string path_;
};

} // namespace zeq::test
