#include "upload/secret_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/crypto.h"
#include "base/file_path.h"

namespace zeq {

namespace {

// Closes a descriptor when the scope ends.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const {
        return fd_;
    }

  private:
    int fd_;
};

[[noreturn]] void fail(const std::string& path, const std::string& what) {
    throw std::runtime_error("secreto " + path + ": " + what);
}

[[noreturn]] void failErrno(const std::string& path, const std::string& what) {
    fail(path, what + " (" + std::strerror(errno) + ")");
}

void writeAll(int fd, const unsigned char* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failErrno(path, "no se puede escribir");
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// Creates the file under its final name unless it appeared meanwhile.
void createSecret(const std::string& path) {
    std::string temporary = path + ".tmp-XXXXXX";
    int fd = ::mkstemp(temporary.data()); // mode 0600
    if (fd < 0) {
        failErrno(path, "no se puede crear");
    }
    FileDescriptor file(fd);
    std::vector<unsigned char> secret = randomBytes(kSecretBytes);
    try {
        writeAll(fd, secret.data(), secret.size(), temporary);
        if (::fsync(fd) != 0) {
            failErrno(temporary, "no se puede guardar");
        }
        // link() never replaces: if another process won the race, its secret stays.
        if (::link(temporary.c_str(), path.c_str()) != 0 && errno != EEXIST) {
            failErrno(path, "no se puede crear");
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    ::unlink(temporary.c_str());
    FileDescriptor directory(::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY));
    if (directory.get() >= 0) {
        ::fsync(directory.get());
    }
}

} // namespace

std::vector<unsigned char> loadOrCreateSecret(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        createSecret(path);
        fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
    FileDescriptor file(fd);
    if (file.get() < 0) {
        failErrno(path, "no se puede abrir");
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        failErrno(path, "no se puede leer");
    }
    if (!S_ISREG(status.st_mode)) {
        fail(path, "no es un fichero normal");
    }
    if ((status.st_mode & 077) != 0) {
        fail(path, "otros usuarios pueden leerlo o cambiarlo; corríjalo con chmod 600 " + path);
    }
    if (status.st_size != static_cast<off_t>(kSecretBytes)) {
        fail(path, "tamaño incorrecto (se esperaban " + std::to_string(kSecretBytes) + " bytes)");
    }
    std::vector<unsigned char> secret(kSecretBytes);
    std::size_t got = 0;
    while (got < secret.size()) {
        ssize_t n = ::read(file.get(), secret.data() + got, secret.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            failErrno(path, "no se puede leer");
        }
        if (n == 0) {
            fail(path, "el fichero se ha acortado mientras se leía");
        }
        got += static_cast<std::size_t>(n);
    }
    return secret;
}

} // namespace zeq
