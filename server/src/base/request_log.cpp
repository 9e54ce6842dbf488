#include "base/request_log.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace zeq {

namespace {

constexpr std::size_t kMaxLoggedPath = 200;
constexpr std::size_t kMaxLoggedMethod = 16;
constexpr std::size_t kMaxLoggedClient = 64;

std::tm utc(std::int64_t unixSeconds) {
    std::time_t time = static_cast<std::time_t>(unixSeconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    return parts;
}

} // namespace

std::string sanitizeForLog(std::string_view text, std::size_t maxBytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        std::size_t need = (byte > 0x20 && byte < 0x7F && byte != '%') ? 1 : 3;
        if (out.size() + need > maxBytes) {
            out += "...";
            break;
        }
        if (need == 1) {
            out += c;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
        }
    }
    return out.empty() ? "-" : out;
}

std::string formatUtcTime(std::int64_t unixSeconds) {
    std::tm parts = utc(unixSeconds);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::string formatRequestLine(const RequestRecord& record) {
    std::tm parts = utc(record.unixMillis / 1000);
    char time[80];
    std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(record.unixMillis % 1000));
    char counts[96];
    std::snprintf(counts, sizeof counts, " %d in=%" PRIu64 " out=%" PRIu64 " %" PRId64 "ms",
                  record.status, record.bytesIn, record.bytesOut, record.millis);
    return std::string(time) + " " + sanitizeForLog(record.client, kMaxLoggedClient) + " " +
           sanitizeForLog(record.method, kMaxLoggedMethod) + " " +
           sanitizeForLog(record.path, kMaxLoggedPath) + counts;
}

void writeLogLine(const std::string& line) {
    std::string text = line + "\n";
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return; // a log that cannot be written must not stop the service
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

} // namespace zeq
