// The test client's own behaviour that suites rely on: connecting from a
// chosen loopback source address, so one machine acts as several clients.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "support/http_client.h"

namespace zeq {
namespace {

// A plain TCP listener on 127.0.0.1 that reports where each connection came from.
class Listener {
  public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
    }
    ~Listener() {
        ::close(fd_);
    }
    int port() const {
        return port_;
    }
    std::string acceptPeer() {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int connection = ::accept(fd_, reinterpret_cast<sockaddr*>(&peer), &length);
        if (connection < 0) {
            return "";
        }
        ::close(connection);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        return text;
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(HttpClientSource, ConnectsFromTheChosenLoopbackAddress) {
    Listener listener;
    struct Case {
        std::string source; // as given to the client
        std::string seen;   // as the server sees it
    };
    const Case cases[] = {
        {"", "127.0.0.1"},
        {"127.0.0.2", "127.0.0.2"},
        {"127.0.0.25", "127.0.0.25"},
        {"127.1.2.3", "127.1.2.3"},
    };
    for (const Case& c : cases) {
        test::HttpClient client(listener.port(), "", c.source);
        EXPECT_EQ(client.sourceAddress(), c.source);
        std::string error;
        auto connection = client.connect(&error);
        ASSERT_TRUE(connection) << c.source << ": " << error;
        EXPECT_EQ(listener.acceptPeer(), c.seen) << c.source;
    }
}

TEST(HttpClientSource, TheSetterChangesLaterConnections) {
    Listener listener;
    test::HttpClient client(listener.port(), "");
    ASSERT_TRUE(client.sourceAddress("127.0.0.7").connect());
    EXPECT_EQ(listener.acceptPeer(), "127.0.0.7");
    ASSERT_TRUE(client.sourceAddress("").connect());
    EXPECT_EQ(listener.acceptPeer(), "127.0.0.1");
}

// Many connections from one address: the port is picked per destination at
// connect(), so a run of short connections does not exhaust bind()'s ports.
TEST(HttpClientSource, ManyConnectionsFromOneAddress) {
    Listener listener;
    test::HttpClient client(listener.port(), "", "127.0.0.9");
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(client.connect()) << i;
        ASSERT_EQ(listener.acceptPeer(), "127.0.0.9") << i;
    }
}

TEST(HttpClientSource, ANonAddressIsRefusedAtOnce) {
    for (const char* bad : {"localhost", "::1", "127.0.0", "127.0.0.256", " 127.0.0.2"}) {
        EXPECT_THROW(test::HttpClient(1, "", bad), std::invalid_argument) << bad;
    }
    // An address that is not this machine's: connect() fails and says why.
    test::HttpClient client(1, "", "192.0.2.1");
    std::string error;
    EXPECT_FALSE(client.connect(&error));
    EXPECT_NE(error.find("bind 192.0.2.1"), std::string::npos) << error;
}

} // namespace
} // namespace zeq
