#include "cli/password_prompt.h"

#include <sodium.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace zeq {

namespace {

// Longer input cannot be a valid password (128 characters of at most 4
// bytes); reading stops there so that a stray file on standard input is not
// taken whole into memory.
constexpr std::size_t kMaxLineBytes = 600;

// The terminal's settings while echo is off, for the signal handler.
termios savedTerminal{};

// Ctrl-C (or a hang-up) at the prompt must not leave the terminal silent:
// the settings come back before the signal does what it would have done.
// tcsetattr is safe to call in a signal handler.
void restoreTerminalAndRaise(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Echo off for as long as the object lives, whatever path leaves the scope.
class EchoOff {
  public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) {
            return;
        }
        for (int signal : kInterruptions) {
            std::signal(signal, restoreTerminalAndRaise);
        }
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) {
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        }
        for (int signal : kInterruptions) {
            std::signal(signal, SIG_DFL);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    bool active_ = false;
};

// One line of standard input without its "\n" or "\r\n"; nullopt at the end
// of input before any byte, or for a line longer than kMaxLineBytes (the rest
// of it is still read, so nothing of it is left for a later read).
std::optional<std::string> readLine() {
    std::string line;
    bool tooLong = false;
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
        if (line.size() < kMaxLineBytes) {
            line.push_back(static_cast<char>(c));
        } else {
            tooLong = true;
        }
    }
    if ((c == EOF && line.empty()) || tooLong) {
        wipe(line);
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::optional<std::string> askQuietly(const char* prompt) {
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    std::optional<std::string> line;
    {
        EchoOff echoOff;
        line = readLine();
    }
    std::fputs("\n", stderr);
    return line;
}

} // namespace

void wipe(std::string& text) {
    sodium_memzero(text.data(), text.size());
    text.clear();
}

std::optional<std::string> readNewPassword(const std::string& accountName, std::string& problem) {
    problem = "no se ha leído ninguna contraseña";
    if (!::isatty(STDIN_FILENO)) {
        return readLine();
    }
    std::string prompt = "Contraseña para " + accountName + ": ";
    std::optional<std::string> first = askQuietly(prompt.c_str());
    if (!first) {
        return std::nullopt;
    }
    std::optional<std::string> second = askQuietly("Repita la contraseña: ");
    bool same = second && *second == *first;
    if (second) {
        wipe(*second);
    }
    if (!same) {
        wipe(*first);
        problem = "las dos contraseñas no coinciden";
        return std::nullopt;
    }
    return first;
}

} // namespace zeq
