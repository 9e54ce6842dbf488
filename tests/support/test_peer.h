#pragma once

// Test side of the scripted HTTPS peer (tests/support/zeq_test_peer.py, whose
// header describes the script language and the record). The suite runs under
// the peer's "run" command, which passes the peer directory in ZEQ_PEER_DIR.

#include <string>
#include <vector>

struct PeerRequest {
    std::string method;
    std::string path;
    std::string head; // request line and "Name: value" lines, CR LF each
    std::string body; // bytes exactly as received

    bool HasHeader(const char* name) const;
    // Value of the first header of that name (case-insensitive), "" if absent.
    std::string Header(const char* name) const;
};

// The peer directory in Windows form, or "" when the suite runs without the peer.
std::string PeerDirectory();

// Empties the record and hands the peer a new script; it applies from the next
// connection on. False when the files cannot be written.
bool SetPeerScenario(const std::string& script);

// The requests recorded under the current script, in arrival order.
std::vector<PeerRequest> PeerRequests();

// TCP connections accepted under the current script (0 when none arrived).
int PeerConnections();

// Percent-escapes bytes for a "text:" body or a header value of a script.
std::string PeerEscape(const std::string& bytes);
