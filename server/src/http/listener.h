#pragma once

#include <optional>
#include <string>

#include "http/http_server.h"

// What the upload service and the console share about where they listen: TLS
// of their own, or plain HTTP on a loopback address behind a reverse proxy
// that ends TLS (or for a local demonstration).
namespace zeq::http {

bool isLoopbackAddress(const std::string& address);

// The certificate and key when both are named, none when neither is. Throws
// std::runtime_error with unpaired when only one is named, and with
// notLoopback when plain HTTP is asked for on an address others can reach.
std::optional<TlsFiles> listenerTls(const std::string& address, const std::string& certFile,
                                    const std::string& keyFile, const char* unpaired,
                                    const char* notLoopback);

// The address logs, quotas and throttles name: the peer, or, on a plain
// listener (which only the proxy can reach), the client the proxy forwards.
std::string clientAddressOf(const RequestHead& head, bool tls);

} // namespace zeq::http
