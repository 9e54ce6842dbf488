#include "base/disk_space.h"

#include <sys/statvfs.h>

namespace zeq {

std::optional<std::uint64_t> freeBytes(const std::string& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

} // namespace zeq
