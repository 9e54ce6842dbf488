#!/usr/bin/python3
"""Scripted HTTPS peer for the tests that talk to serverHost (localhost) on port 443.

Standard library only (socketserver, http.server, ssl); certificates are made with the
openssl command. Run it with Debian's /usr/bin/python3.

COMMANDS

  zeq_test_peer.py run --state DIR [--prefix WINEPREFIX --wine-run SCRIPT --trust-helper EXE]
                       [--port 443] -- COMMAND [ARGS...]
      Makes the certificates (once), has the Wine prefix trust the test authority (once per
      prefix), listens on 127.0.0.1 (and ::1 where it exists), runs COMMAND with ZEQ_PEER_DIR
      in its environment, stops listening and exits with COMMAND's exit code. Nothing is left
      running. This is how CTest runs a suite that needs the peer (tests/support/CMakeLists.txt,
      zeq_add_peer_test); such entries carry RESOURCE_LOCK port443.
  zeq_test_peer.py serve --state DIR [--port 443]
      The same peer in the foreground until interrupted, for trying things by hand.
  zeq_test_peer.py certs --state DIR
      Only makes the certificates.

FILES (under the state directory, inside the build tree)

  certs/ca.pem, ca.der        the test certificate authority that the test prefix trusts
  certs/localhost.pem, .key   server certificate for localhost, signed by that authority
  certs/rogue-ca.pem          a second authority that nobody trusts
  certs/untrusted.pem, .key   certificate for localhost signed by the second authority
  peer/                       the peer directory of the current run (ZEQ_PEER_DIR); it is
                              emptied when a run starts and kept afterwards for inspection
  peer/peer.log               one line per connection, request and answer

THE PEER DIRECTORY

  ZEQ_PEER_DIR holds the directory in Windows form (Z:\\...; Wine maps Z: to /).

  scenario.txt   written by the test: the script of the next connections. Write it whole
                 (write another name, then rename over it). The peer takes it at the next
                 connection it accepts: it renames it to scenario.active, starts at its first
                 answer and counts connections and requests from zero again. Until a new
                 script arrives, the active one goes on.
  record/        written by the peer. The test empties it when it hands over a new script.
    NNN.head     request N of the active script (001, 002, ...): the request line and the
                 header lines as "Name: value", each ending in CR LF, then an empty line
    NNN.body     the request body, byte for byte (Content-Length or chunked)
    connections  decimal count of TCP connections accepted under the active script,
                 handshake failures included
  Every record file is complete when it appears (written aside, then renamed), the body
  before the head, and a request is recorded before it is answered: once the client has an
  answer (or has given up on one), the record of its request is there.

SCENARIO SCRIPT (one item per line; blank lines and lines starting with # are ignored)

  tls MODE      TLS of the connections under this script: default (certificate from the
                trusted authority, TLS 1.2 or newer), tls1.1 (same certificate, TLS 1.1 only)
                or untrusted (TLS 1.2 or newer, certificate from the second authority)
  STATUS [BODY] [header:NAME=VALUE]... [delay:MS]
                one answer: status code, body, extra headers, wait before answering
  hang          take the request and never answer it; the connection stays open until the
                client closes it or the peer stops

  Each request takes the next answer; requests beyond the script are answered
  500 "scenario exhausted" (and recorded). BODY is one of:
    empty               no body (the default)
    text:TEXT           TEXT with %XX escapes decoded (%20 space, %0D%0A a line end)
    hex:HEX             bytes in hexadecimal
  VALUE of a header is %XX-decoded like TEXT. Every answer carries Content-Length (except
  1xx, 204 and 304, which have no body) and "Connection: close".

  Example, a whole submission:
    200 text:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef
    200 text:ZEQ-0000-0000-0000

FROM THE TESTS

  C++ under Wine: tests/support/test_peer.h (SetPeerScenario, PeerRequests, PeerConnections,
  PeerEscape), library zeq_test_peer_client. CMake: zeq_add_peer_test() in
  tests/support/test_peer.cmake registers a GoogleTest suite that runs under "run".
  By hand, inside a network namespace of its own so that port 443 is free:
    unshare -n sh -c 'ip link set lo up; /usr/bin/python3 zeq_test_peer.py run \
        --state BUILD/test-peer --prefix BUILD/wineprefix --wine-run scripts/wine-run.sh \
        --trust-helper BUILD/tests/zeq_trust_root.exe -- scripts/wine-run.sh BUILD/wineprefix \
        BUILD/tests/https_exchange_test.exe --gtest_filter=...'
"""

import argparse
import fcntl
import hashlib
import os
import shutil
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
import warnings
from http.server import BaseHTTPRequestHandler

TLS_MODES = ("default", "tls1.1", "untrusted")
NO_BODY_STATUSES = (204, 304)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write_atomically(path, data):
    temporary = path + ".part"
    with open(temporary, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


# ---------------------------------------------------------------- certificates

def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make_authority(directory, name, common_name):
    key = os.path.join(directory, name + ".key")
    pem = os.path.join(directory, name + ".pem")
    openssl("req", "-x509", "-new", "-newkey", "rsa:2048", "-nodes", "-sha256",
            "-keyout", key, "-out", pem, "-days", "3650", "-subj", "/CN=" + common_name,
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return key, pem


def make_server_certificate(directory, name, authority_key, authority_pem):
    key = os.path.join(directory, name + ".key")
    csr = os.path.join(directory, name + ".csr")
    pem = os.path.join(directory, name + ".pem")
    extensions = os.path.join(directory, name + ".ext")
    with open(extensions, "w") as f:
        f.write("basicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n")
    openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
            "-subj", "/CN=localhost")
    openssl("x509", "-req", "-in", csr, "-CA", authority_pem, "-CAkey", authority_key,
            "-set_serial", str(int(time.time() * 1000)), "-days", "825", "-sha256",
            "-extfile", extensions, "-out", pem)
    os.remove(csr)
    os.remove(extensions)


def ensure_certificates(state):
    """Makes the two authorities and their server certificates once per state directory."""
    directory = os.path.join(state, "certs")
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        done = os.path.join(directory, "complete")
        if not os.path.exists(done):
            ca_key, ca_pem = make_authority(directory, "ca", "ZEQ Test Authority")
            openssl("x509", "-in", ca_pem, "-outform", "DER", "-out",
                    os.path.join(directory, "ca.der"))
            make_server_certificate(directory, "localhost", ca_key, ca_pem)
            rogue_key, rogue_pem = make_authority(directory, "rogue-ca", "ZEQ Rogue Authority")
            make_server_certificate(directory, "untrusted", rogue_key, rogue_pem)
            write_atomically(done, b"")
    return directory


def ensure_prefix_trust(certs, prefix, wine_run, trust_helper):
    """Adds the authority certs/ca.der to the Root store of the Wine prefix, once per
    authority. The prefix may trust several (the peer's, the real server's test CA);
    the marker lists the fingerprints of those already added."""
    with open(os.path.join(certs, "ca.der"), "rb") as f:
        fingerprint = hashlib.sha256(f.read()).hexdigest()
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    with open(os.path.abspath(prefix) + ".trust.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        marker = os.path.join(prefix, "zeq-test-authority.sha256")
        try:
            with open(marker) as f:
                trusted = f.read().split()
        except FileNotFoundError:
            trusted = []
        if fingerprint in trusted:
            return
        environment = dict(os.environ, WINEDEBUG="-all")
        subprocess.run([wine_run, prefix, trust_helper, windows_path(os.path.join(certs, "ca.der"))],
                       check=True, env=environment)
        lines = "".join(known + "\n" for known in trusted + [fingerprint])
        write_atomically(marker, lines.encode())


def tls_contexts(certs):
    warnings.filterwarnings("ignore", category=DeprecationWarning)

    def context(name, minimum, maximum=None, ciphers=None):
        c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        c.load_cert_chain(os.path.join(certs, name + ".pem"), os.path.join(certs, name + ".key"))
        if ciphers:
            c.set_ciphers(ciphers)
        c.minimum_version = minimum
        if maximum:
            c.maximum_version = maximum
        return c

    return {
        "default": context("localhost", ssl.TLSVersion.TLSv1_2),
        # OpenSSL 3 refuses TLS 1.1 at the default security level.
        "tls1.1": context("localhost", ssl.TLSVersion.TLSv1_1, ssl.TLSVersion.TLSv1_1,
                          "DEFAULT:@SECLEVEL=0"),
        "untrusted": context("untrusted", ssl.TLSVersion.TLSv1_2),
    }


# ---------------------------------------------------------------- scenario

class Answer:
    def __init__(self, status=500, body=b"", headers=(), delay_ms=0, hang=False):
        self.status = status
        self.body = body
        self.headers = list(headers)
        self.delay_ms = delay_ms
        self.hang = hang


def parse_body(word):
    kind, _, value = word.partition(":")
    if kind == "empty" and not value:
        return b""
    if kind == "text":
        return urllib.parse.unquote_to_bytes(value)
    if kind == "hex":
        return bytes.fromhex(value)
    raise ValueError("unknown body " + word)


def parse_scenario(text):
    """Returns (tls mode, answers); raises ValueError on a malformed script."""
    mode = "default"
    answers = []
    for number, line in enumerate(text.splitlines(), 1):
        words = line.split()
        if not words or words[0].startswith("#"):
            continue
        try:
            if words[0] == "tls":
                if len(words) != 2 or words[1] not in TLS_MODES:
                    raise ValueError("tls needs one of " + ", ".join(TLS_MODES))
                mode = words[1]
            elif words[0] == "hang" and len(words) == 1:
                answers.append(Answer(hang=True))
            else:
                answer = Answer(status=int(words[0]))
                for word in words[1:]:
                    if word.startswith("header:"):
                        name, _, value = word[len("header:"):].partition("=")
                        answer.headers.append((name, urllib.parse.unquote(value)))
                    elif word.startswith("delay:"):
                        answer.delay_ms = int(word[len("delay:"):])
                    else:
                        answer.body = parse_body(word)
                answers.append(answer)
        except (ValueError, OSError) as error:
            raise ValueError("scenario line %d: %s" % (number, error)) from None
    return mode, answers


class Peer:
    """State shared by the connection threads: the active script and the record."""

    def __init__(self, directory, contexts):
        self.directory = directory
        self.record = os.path.join(directory, "record")
        self.contexts = contexts
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.mode = "default"
        self.answers = []
        self.problem = "no scenario"
        self.next_answer = 0
        self.connections = 0
        self.requests = 0
        os.makedirs(self.record, exist_ok=True)

    def log(self, text):
        with self.lock:
            with open(os.path.join(self.directory, "peer.log"), "a") as f:
                f.write("%.3f %s\n" % (time.time(), text))

    def _take_script(self):
        pending = os.path.join(self.directory, "scenario.txt")
        active = os.path.join(self.directory, "scenario.active")
        try:
            os.replace(pending, active)
        except FileNotFoundError:
            return
        with open(active, encoding="utf-8", errors="replace") as f:
            text = f.read()
        self.next_answer = self.connections = self.requests = 0
        try:
            self.mode, self.answers = parse_scenario(text)
            self.problem = None
        except ValueError as error:
            self.mode, self.answers, self.problem = "default", [], str(error)

    def accept(self):
        """Called for every accepted connection; returns the TLS context to use."""
        with self.lock:
            self._take_script()
            self.connections += 1
            write_atomically(os.path.join(self.record, "connections"),
                             str(self.connections).encode())
            return self.contexts[self.mode], self.mode

    def take_request(self, head, body):
        """Records one request and returns the answer scripted for it."""
        with self.lock:
            self.requests += 1
            base = os.path.join(self.record, "%03d" % self.requests)
            write_atomically(base + ".body", body)
            write_atomically(base + ".head", head)
            if self.problem:
                return Answer(500, self.problem.encode())
            if self.next_answer >= len(self.answers):
                return Answer(500, b"scenario exhausted")
            self.next_answer += 1
            return self.answers[self.next_answer - 1]


# ---------------------------------------------------------------- HTTP

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ZEQTestPeer/1.0"

    def setup(self):
        self.peer = self.server.peer
        self.handshake_done = False
        try:
            self.request.settimeout(30)
            self.request.do_handshake()
            self.handshake_done = True
        except (ssl.SSLError, OSError) as error:
            self.peer.log("handshake failed: %s" % error)
        super().setup()

    def handle(self):
        if self.handshake_done:
            super().handle()

    def log_message(self, format, *args):
        self.peer.log(format % args)

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(body)
                body += self.rfile.read(size)
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def wait_for_client_to_leave(self):
        self.request.settimeout(0.2)
        while not self.peer.stopping.is_set():
            try:
                if not self.request.recv(1):
                    return
            except (TimeoutError, socket.timeout):
                continue
            except (ssl.SSLError, OSError):
                return

    def answer(self):
        body = self.read_body()
        head = self.requestline + "\r\n"
        head += "".join("%s: %s\r\n" % item for item in self.headers.raw_items()) + "\r\n"
        answer = self.peer.take_request(head.encode("latin-1"), body)
        self.close_connection = True
        if answer.hang:
            self.peer.log("hanging on %s %s" % (self.command, self.path))
            self.wait_for_client_to_leave()
            return
        if answer.delay_ms:
            self.peer.stopping.wait(answer.delay_ms / 1000)
        self.send_response(answer.status)
        for name, value in answer.headers:
            self.send_header(name, value)
        payload = answer.body
        if answer.status < 200 or answer.status in NO_BODY_STATUSES:
            payload = b""
        else:
            self.send_header("Content-Length", str(len(payload)))
        self.send_header("Connection", "close")
        self.end_headers()
        try:
            self.wfile.write(payload)
            self.wfile.flush()
        except (ssl.SSLError, OSError):
            pass  # the client may stop reading early (body over its limit)

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = do_PATCH = do_OPTIONS = answer


class PeerServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    block_on_close = False

    def __init__(self, family, address, peer):
        self.address_family = family
        self.peer = peer
        super().__init__(address, Handler)

    def get_request(self):
        connection, address = self.socket.accept()
        context, mode = self.peer.accept()
        self.peer.log("connection from %s, tls %s" % (address[0], mode))
        # The handshake runs in the connection's thread, not here.
        return context.wrap_socket(connection, server_side=True,
                                   do_handshake_on_connect=False), address

    def handle_error(self, request, client_address):
        self.peer.log("connection error: %r" % (sys.exc_info()[1],))


def start_servers(peer, port):
    try:
        servers = [PeerServer(socket.AF_INET, ("127.0.0.1", port), peer)]
    except OSError as error:
        sys.exit("zeq_test_peer: cannot listen on 127.0.0.1:%d (%s); is another peer or "
                 "server running outside its own network namespace?" % (port, error.strerror))
    if socket.has_ipv6:
        try:
            servers.append(PeerServer(socket.AF_INET6, ("::1", port), peer))
        except OSError:
            pass  # no IPv6 loopback here; localhost then means 127.0.0.1 only
    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                         daemon=True).start()
    return servers


def stop_servers(peer, servers):
    peer.stopping.set()
    for server in servers:
        server.shutdown()
        server.server_close()


def prepare(state):
    certs = ensure_certificates(state)
    directory = os.path.join(state, "peer")
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    return certs, directory


# ---------------------------------------------------------------- commands

def command_run(arguments):
    certs, directory = prepare(arguments.state)
    if arguments.prefix:
        ensure_prefix_trust(certs, arguments.prefix, arguments.wine_run, arguments.trust_helper)
    peer = Peer(directory, tls_contexts(certs))
    servers = start_servers(peer, arguments.port)
    child = None

    def stop(signum, frame):
        if child and child.poll() is None:
            child.terminate()
        raise SystemExit(128 + signum)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        environment = dict(os.environ, ZEQ_PEER_DIR=windows_path(directory))
        child = subprocess.Popen(arguments.command, env=environment)
        return child.wait()
    finally:
        if child and child.poll() is None:
            child.kill()
            child.wait()
        stop_servers(peer, servers)


def command_serve(arguments):
    certs, directory = prepare(arguments.state)
    peer = Peer(directory, tls_contexts(certs))
    servers = start_servers(peer, arguments.port)
    print("peer listening on port %d; ZEQ_PEER_DIR=%s" % (arguments.port, windows_path(directory)),
          flush=True)
    try:
        signal.sigwait([signal.SIGINT, signal.SIGTERM])
    finally:
        stop_servers(peer, servers)
    return 0


def main():
    parser = argparse.ArgumentParser(description="Scripted HTTPS peer for the tests.")
    commands = parser.add_subparsers(dest="name", required=True)
    run = commands.add_parser("run", help="serve while a command runs")
    serve = commands.add_parser("serve", help="serve until interrupted")
    certs = commands.add_parser("certs", help="only make the certificates")
    for command in (run, serve, certs):
        command.add_argument("--state", required=True, help="directory for certificates and records")
    for command in (run, serve):
        command.add_argument("--port", type=int, default=443)
    run.add_argument("--prefix", help="Wine prefix that must trust the test authority")
    run.add_argument("--wine-run", help="scripts/wine-run.sh")
    run.add_argument("--trust-helper", help="the zeq_trust_root program")
    run.add_argument("command", nargs="+", help="command to run while the peer listens")
    arguments = parser.parse_args()

    if arguments.name == "certs":
        ensure_certificates(arguments.state)
        return 0
    if arguments.name == "serve":
        signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGINT, signal.SIGTERM])
        return command_serve(arguments)
    if arguments.prefix and not (arguments.wine_run and arguments.trust_helper):
        parser.error("--prefix needs --wine-run and --trust-helper")
    return command_run(arguments)


if __name__ == "__main__":
    sys.exit(main())
