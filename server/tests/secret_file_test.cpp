#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "cli/commands.h"
#include "base/file_path.h"
#include "upload/secret_file.h"
#include "support/server_process.h"

namespace zeq {
namespace {

mode_t modeOf(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

void writeBytes(const std::string& path, std::size_t size, mode_t mode) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'k');
    ::chmod(path.c_str(), mode);
}

TEST(SecretFile, IsCreatedPrivateOnFirstUseAndReadAfterwards) {
    test::TempDir dir;
    std::string path = dir.file("token-secret");
    std::vector<unsigned char> first = loadOrCreateSecret(path);
    EXPECT_EQ(first.size(), kSecretBytes);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(std::filesystem::file_size(path), kSecretBytes);
    EXPECT_EQ(loadOrCreateSecret(path), first);
    // Only the secret itself is left in the directory.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(SecretFile, TwoSecretsAreNotAlike) {
    test::TempDir dir;
    EXPECT_NE(loadOrCreateSecret(dir.file("a")), loadOrCreateSecret(dir.file("b")));
}

TEST(SecretFile, ServersStartingTogetherAgreeOnOneSecret) {
    test::TempDir dir;
    std::string path = dir.file("token-secret");
    std::vector<std::vector<unsigned char>> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] { seen[i] = loadOrCreateSecret(path); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& secret : seen) {
        EXPECT_EQ(secret, seen[0]);
    }
}

TEST(SecretFile, RefusesFilesOthersCouldReadOrThatAreNotASecret) {
    test::TempDir dir;
    struct Case {
        const char* name;
        std::size_t size;
        mode_t mode;
    };
    const Case cases[] = {
        {"group-readable", kSecretBytes, 0640}, {"world-readable", kSecretBytes, 0604},
        {"group-writable", kSecretBytes, 0620}, {"short", kSecretBytes - 1, 0600},
        {"long", kSecretBytes + 1, 0600},       {"empty", 0, 0600},
    };
    for (const Case& c : cases) {
        std::string path = dir.file(c.name);
        writeBytes(path, c.size, c.mode);
        EXPECT_THROW(loadOrCreateSecret(path), std::runtime_error) << c.name;
        // A refused file is left as it was, never replaced.
        EXPECT_EQ(std::filesystem::file_size(path), c.size) << c.name;
    }
}

TEST(SecretFile, RefusesDirectoriesSymlinksAndMissingDirectories) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.file("directory"));
    EXPECT_THROW(loadOrCreateSecret(dir.file("directory")), std::runtime_error);

    writeBytes(dir.file("target"), kSecretBytes, 0600);
    std::filesystem::create_symlink(dir.file("target"), dir.file("link"));
    EXPECT_THROW(loadOrCreateSecret(dir.file("link")), std::runtime_error);

    EXPECT_THROW(loadOrCreateSecret(dir.file("missing/token-secret")), std::runtime_error);
}

TEST(SecretFile, ReadsAnExistingPrivateSecret) {
    test::TempDir dir;
    writeBytes(dir.file("secret"), kSecretBytes, 0400);
    EXPECT_EQ(loadOrCreateSecret(dir.file("secret")), std::vector<unsigned char>(32, 'k'));
}

TEST(SecretFile, ByDefaultLivesBesideTheDatabase) {
    struct Case {
        const char* database;
        const char* directory;
        const char* secret;
    };
    const Case cases[] = {
        {"/var/lib/zeq-server/reports.db", "/var/lib/zeq-server",
         "/var/lib/zeq-server/token-secret"},
        {"data/reports.db", "data", "data/token-secret"},
        {"reports.db", ".", "./token-secret"},
        {"/reports.db", "/", "/token-secret"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(directoryOf(c.database), c.directory) << c.database;
        EXPECT_EQ(defaultSecretPath(c.database), c.secret) << c.database;
    }
}

} // namespace
} // namespace zeq
