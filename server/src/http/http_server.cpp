#include "http/http_server.h"

#include <malloc.h>
#include <strings.h>

#include <openssl/err.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>
#include <unordered_map>

#include "base/address_group.h"
#include "base/request_log.h"

namespace zeq::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = asio::ip::tcp;
using SteadyClock = std::chrono::steady_clock;
using boost::system::error_code;

std::size_t RequestHead::count(std::string_view name) const {
    return static_cast<std::size_t>(
        std::count_if(fields.begin(), fields.end(), [&](const Field& f) {
            return f.name.size() == name.size() &&
                   strncasecmp(f.name.data(), name.data(), name.size()) == 0;
        }));
}

std::string RequestHead::value(std::string_view name, std::size_t index) const {
    for (const Field& field : fields) {
        if (field.name.size() == name.size() &&
            strncasecmp(field.name.data(), name.data(), name.size()) == 0 && index-- == 0) {
            return field.value;
        }
    }
    return {};
}

namespace {

constexpr int kListenBacklog = 1024;
// After the last answer: time for the TLS close and for a refused body to drain.
constexpr std::chrono::seconds kCloseGrace{2};
constexpr std::chrono::seconds kTrimInterval{5};
constexpr std::chrono::milliseconds kAcceptRetry{100};
// Connections refused for a cap are logged at most this often, with a count of the rest.
constexpr std::chrono::seconds kCapLogInterval{1};

std::int64_t unixMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string peerText(const tcp::socket& socket) {
    error_code ec;
    tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) {
        return "?";
    }
    asio::ip::address address = peer.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

void logExchange(const std::string& client, const std::string& method, const std::string& path,
                 int status, std::uint64_t bytesIn, std::uint64_t bytesOut, std::int64_t millis) {
    RequestRecord record;
    record.unixMillis = unixMillis();
    record.client = client;
    record.method = method;
    record.path = path;
    record.status = status;
    record.bytesIn = bytesIn;
    record.bytesOut = bytesOut;
    record.millis = millis;
    writeLogLine(formatRequestLine(record));
}

template <class Stream> constexpr bool kIsTls = !std::is_same_v<Stream, tcp::socket>;

} // namespace

// What the server keeps of a live connection: enough to close it on stop.
class LiveConnection {
  public:
    virtual ~LiveConnection() = default;
    virtual void closeIfStillSending() = 0;
};

// How many of something (connections, bodies being received) each address
// group holds. A group is forgotten when its count is back to 0, so that the
// map holds only the groups with something open.
class GroupCounts {
  public:
    // One more for the group, unless it holds cap already (0: no cap).
    bool take(const std::string& group, std::size_t cap) {
        std::size_t& count = counts_[group];
        if (cap != 0 && count >= cap) {
            return false; // not a new entry: its count is at least 1
        }
        ++count;
        return true;
    }

    void give(const std::string& group) {
        auto entry = counts_.find(group);
        if (entry != counts_.end() && --entry->second == 0) {
            counts_.erase(entry);
        }
    }

  private:
    std::unordered_map<std::string, std::size_t> counts_;
};

struct Server::State {
    Application& app;
    Limits limits;

    std::mutex mutex;
    std::condition_variable changed;
    bool stopRequested = false;
    std::size_t connections = 0;
    GroupCounts perGroup;
    std::unordered_map<LiveConnection*, std::weak_ptr<LiveConnection>> live;
    SteadyClock::time_point lastCapLog{};
    std::size_t capRefusalsUnlogged = 0;

    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    std::atomic<bool> acceptFailed{false};
    std::atomic<bool> closedSinceTrim{false};
    std::size_t bodiesAtOnce = 0; // under mutex, as is bodiesPerGroup
    GroupCounts bodiesPerGroup;

    // Declared after what connections use and before what uses it, so that
    // destroying the io_context (and with it every connection still queued
    // there) happens while the maps and the TLS context are still alive.
    std::optional<asio::ssl::context> tls;
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    asio::thread_pool workers;
    tcp::acceptor acceptor{io};
    asio::steady_timer trimTimer{io};
    asio::steady_timer acceptRetry{io};

    State(Application& application, Limits l)
        : app(application), limits(l),
          workers(static_cast<std::size_t>(std::max(1, l.workerThreads))) {}

    void requestStop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopRequested = true;
        }
        changed.notify_all();
    }

    // Counts a new connection, or says why it is refused (0: admitted).
    int admit(const std::string& group) {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) {
            return 503;
        }
        if (connections >= limits.maxConnections) {
            return 503;
        }
        if (!perGroup.take(group, limits.maxConnectionsPerClient)) {
            return 429;
        }
        ++connections;
        return 0;
    }

    // Takes one of the slots for bodies being received, or says why not
    // (0: taken; 503 all in use; 429 the group's in use).
    int takeBodySlot(const std::string& group) {
        std::lock_guard<std::mutex> lock(mutex);
        if (bodiesAtOnce >= limits.maxBodiesAtOnce) {
            return 503;
        }
        if (!bodiesPerGroup.take(group, limits.maxBodiesPerClient)) {
            return 429;
        }
        ++bodiesAtOnce;
        return 0;
    }

    void releaseBodySlot(const std::string& group) {
        std::lock_guard<std::mutex> lock(mutex);
        --bodiesAtOnce;
        bodiesPerGroup.give(group);
    }

    void release(LiveConnection* connection, const std::string& group) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            live.erase(connection);
            perGroup.give(group);
            --connections;
        }
        closedSinceTrim = true;
        changed.notify_all();
    }

    void logCapRefusal(const std::string& peer, int status) {
        std::size_t unlogged = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            SteadyClock::time_point now = SteadyClock::now();
            if (now - lastCapLog < kCapLogInterval) {
                ++capRefusalsUnlogged;
                return;
            }
            lastCapLog = now;
            unlogged = capRefusalsUnlogged;
            capRefusalsUnlogged = 0;
        }
        std::string path = status == 429 ? "(conexiones-por-direccion)" : "(conexiones)";
        if (unlogged > 0) {
            path += ",+" + std::to_string(unlogged) + "-sin-registrar";
        }
        logExchange(peer, "-", path, status, 0, 0, 0);
    }

    void accept();
    template <class ConnectionType>
    void startConnection(const std::shared_ptr<ConnectionType>& connection);
    void scheduleTrim();
    void closeEverythingStillSending();
};

namespace {

template <class Stream>
class Connection : public LiveConnection, public std::enable_shared_from_this<Connection<Stream>> {
  public:
    template <class... StreamArgs>
    Connection(Server::State& state, std::string peer, std::string group, StreamArgs&&... args)
        : state_(state), stream_(std::forward<StreamArgs>(args)...),
          timer_(socket().get_executor()), peer_(std::move(peer)), group_(std::move(group)) {}

    ~Connection() override {
        state_.release(this, group_);
    }

    void start() {
        arm(SteadyClock::now() + state_.limits.headDeadline);
        if constexpr (kIsTls<Stream>) {
            stream_.async_handshake(
                asio::ssl::stream_base::server,
                [self = this->shared_from_this()](error_code ec) { self->onHandshake(ec); });
        } else {
            readHead();
        }
    }

    void closeIfStillSending() override {
        asio::post(socket().get_executor(), [self = this->shared_from_this()] {
            // A request still to send its body is cut like any slow sender; one
            // that has sent everything is answered.
            bool complete = (self->phase_ == Phase::Deciding && !self->bodyUnread_) ||
                            self->phase_ == Phase::Responding || self->phase_ == Phase::Writing;
            if (complete) {
                self->bodyUnread_ = false; // answer, then close without draining
            } else {
                self->close();
            }
        });
    }

  private:
    enum class Phase { Head, Deciding, Body, Responding, Writing, Draining, Closing, Closed };

    tcp::socket& socket() {
        if constexpr (kIsTls<Stream>) {
            return stream_.next_layer();
        } else {
            return stream_;
        }
    }

    // One deadline at a time; a newer one replaces the older. When it passes,
    // the pending operation is cancelled and its handler sees timedOut_.
    void arm(SteadyClock::time_point at) {
        receiving_ = false;
        startTimer(at);
    }

    // While a body arrives, a read only notes the time (noteProgress): the timer
    // is set once and, when it fires early, set again for the idle deadline that
    // the last read moved. A 2 MiB body is some 130 TLS records, and cancelling
    // and setting a timer for each cost more CPU than the rest of the read.
    void armWhileReceiving(SteadyClock::time_point hardDeadline) {
        receiving_ = true;
        hardDeadline_ = hardDeadline;
        lastProgress_ = SteadyClock::now();
        startTimer(receivingDue());
    }

    void noteProgress() {
        lastProgress_ = SteadyClock::now();
    }

    SteadyClock::time_point receivingDue() const {
        return std::min(lastProgress_ + state_.limits.idleTimeout, hardDeadline_);
    }

    void startTimer(SteadyClock::time_point at) {
        std::uint64_t generation = ++generation_;
        timedOut_ = false;
        timer_.expires_at(at);
        timer_.async_wait([self = this->shared_from_this(), generation](error_code ec) {
            if (ec || generation != self->generation_) {
                return;
            }
            if (self->receiving_ && SteadyClock::now() < self->receivingDue()) {
                self->startTimer(self->receivingDue());
                return;
            }
            self->timedOut_ = true;
            error_code ignored;
            self->socket().cancel(ignored);
        });
    }

    void disarm() {
        ++generation_;
        receiving_ = false;
        timer_.cancel();
    }

    std::int64_t millisSinceHead() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - headEnd_)
            .count();
    }

    void onHandshake(error_code ec) {
        if (phase_ == Phase::Closed) {
            return;
        }
        if (ec) {
            // Scanners and clients that give up are common; only a deadline is worth a line.
            if (timedOut_) {
                logExchange(peer_, "-", "(tls)", 408, 0, 0, 0);
            }
            close();
            return;
        }
        readHead();
    }

    void readHead() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(state_.limits.maxHeadBytes));
        // The application judges the declared length; the parser must not refuse it first.
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        bhttp::async_read_header(
            stream_, buffer_, *parser_,
            [self = this->shared_from_this()](error_code ec, std::size_t) { self->onHead(ec); });
    }

    void onHead(error_code ec) {
        if (phase_ == Phase::Closed) {
            return;
        }
        headEnd_ = SteadyClock::now();
        if (ec) {
            if (timedOut_) {
                logExchange(peer_, "-", "(cabecera)", 408, 0, 0, 0);
                close();
            } else if (ec == bhttp::error::header_limit) {
                answer(state_.app.refusal(431), "-", "(cabecera-grande)");
            } else if (ec == bhttp::error::bad_transfer_encoding ||
                       (ec == bhttp::error::bad_content_length && parser_->chunked())) {
                // Transfer-Encoding together with a Content-Length: refused like
                // any body without a length known in advance.
                answer(state_.app.refusal(411), "-", "(transfer-encoding)");
            } else if (ec == bhttp::error::end_of_stream || ec == asio::error::eof ||
                       ec == asio::error::connection_reset ||
                       ec == asio::ssl::error::stream_truncated) {
                close(); // the client left before asking anything
            } else {
                answer(state_.app.refusal(400), "-", "(no-http)");
            }
            return;
        }
        disarm();
        auto head = std::make_shared<RequestHead>();
        const auto& message = parser_->get();
        head->method = std::string(message.method_string());
        head->target = std::string(message.target());
        head->path = head->target.substr(0, head->target.find('?'));
        head->peerAddress = peer_;
        for (const auto& field : message) {
            head->fields.push_back({std::string(field.name_string()), std::string(field.value())});
        }
        head_ = head;
        bodyUnread_ = parser_->chunked() || parser_->content_length().value_or(0) > 0;
        if (head->fields.size() > state_.limits.maxHeaderLines) {
            answer(state_.app.refusal(431), head->method, head->path);
            return;
        }
        phase_ = Phase::Deciding;
        asio::post(state_.workers, [self = this->shared_from_this(), head] {
            std::string client = head->peerAddress;
            HeadDecision decision;
            try {
                client = self->state_.app.clientAddress(*head);
                decision = self->state_.app.decide(*head, client);
            } catch (const std::exception& e) {
                writeLogLine("zeq-server: error: " + std::string(e.what()));
                decision.answer = self->state_.app.refusal(500);
            }
            asio::post(self->socket().get_executor(), [self, client = std::move(client),
                                                       decision = std::move(decision)]() mutable {
                self->onDecision(std::move(client), std::move(decision));
            });
        });
    }

    void onDecision(std::string client, HeadDecision decision) {
        if (phase_ == Phase::Closed) {
            return;
        }
        client_ = std::move(client);
        if (decision.answer) {
            answer(std::move(*decision.answer), head_->method, head_->path);
            return;
        }
        if (state_.stopping) {
            close(); // still to send its body: not served any more
            return;
        }
        if (int refusal = state_.takeBodySlot(group_)) {
            answer(state_.app.refusal(refusal), head_->method, head_->path);
            return;
        }
        holdsBodySlot_ = true;
        phase_ = Phase::Body;
        bodyUnread_ = false;
        parser_->body_limit(std::min(decision.bodyBytes, state_.limits.maxBodyBytes));
        armWhileReceiving(headEnd_ + state_.limits.bodyDeadline);
        readBody();
    }

    void readBody() {
        if (parser_->is_done()) {
            onBodyComplete();
            return;
        }
        bhttp::async_read_some(stream_, buffer_, *parser_,
                               [self = this->shared_from_this()](error_code ec, std::size_t) {
                                   self->onBodyData(ec);
                               });
    }

    void onBodyData(error_code ec) {
        if (phase_ == Phase::Closed) {
            return;
        }
        bodyIn_ = parser_->get().body().size();
        if (!ec) {
            noteProgress();
            readBody();
            return;
        }
        if (timedOut_) {
            answer(state_.app.refusal(408), head_->method, head_->path);
        } else if (ec == bhttp::error::body_limit) {
            answer(state_.app.refusal(413), head_->method, head_->path);
        } else {
            // The client stopped sending; it may still read an answer.
            answer(state_.app.refusal(400), head_->method, head_->path);
        }
    }

    void releaseBodySlot() {
        if (holdsBodySlot_) {
            holdsBodySlot_ = false;
            state_.releaseBodySlot(group_);
        }
    }

    void onBodyComplete() {
        disarm();
        releaseBodySlot();
        phase_ = Phase::Responding;
        std::string body = std::move(parser_->get().body());
        asio::post(state_.workers, [self = this->shared_from_this(),
                                    body = std::move(body)]() mutable {
            Response response;
            try {
                response = self->state_.app.respond(*self->head_, self->client_, std::move(body));
            } catch (const std::exception& e) {
                writeLogLine("zeq-server: error: " + std::string(e.what()));
                response = self->state_.app.refusal(500);
            }
            asio::post(
                self->socket().get_executor(), [self, response = std::move(response)]() mutable {
                    if (self->phase_ != Phase::Closed) {
                        self->answer(std::move(response), self->head_->method, self->head_->path);
                    }
                });
        });
    }

    void answer(Response response, std::string method, std::string path) {
        releaseBodySlot();
        phase_ = Phase::Writing;
        logMethod_ = std::move(method);
        logPath_ = std::move(path);
        status_ = response.status;
        // HEAD is answered with the head of the answer a GET would get, whatever it is.
        response.headOnly = response.headOnly || (head_ && head_->method == "HEAD");
        bytesOut_ = response.headOnly ? 0 : response.body.size();
        auto& message = response_.emplace();
        message.version(11);
        message.result(static_cast<unsigned>(response.status));
        message.set(bhttp::field::content_type, response.contentType);
        for (const Field& field : response.headers) {
            message.insert(field.name, field.value);
        }
        message.set(bhttp::field::connection, "close");
        message.set(bhttp::field::content_length, std::to_string(response.body.size()));
        if (!response.headOnly) {
            message.body() = std::move(response.body);
        }
        arm(SteadyClock::now() + state_.limits.idleTimeout);
        bhttp::async_write(
            stream_, *response_,
            [self = this->shared_from_this()](error_code ec, std::size_t) { self->onWritten(ec); });
    }

    void onWritten(error_code ec) {
        if (phase_ == Phase::Closed) {
            return;
        }
        logExchange(client_.empty() ? peer_ : client_, logMethod_, logPath_, status_, bodyIn_,
                    ec ? 0 : bytesOut_, head_ ? millisSinceHead() : 0);
        response_.reset();
        if (ec) {
            close();
        } else if (bodyUnread_ && !state_.stopping) {
            drain();
        } else {
            finish();
        }
    }

    // Reads and drops what is left of a refused body, up to the body limit, so
    // that a proxy still sending it gets the answer rather than a reset.
    void drain() {
        phase_ = Phase::Draining;
        std::uint64_t declared =
            parser_ && !parser_->chunked()
                ? parser_->content_length().value_or(state_.limits.maxBodyBytes)
                : state_.limits.maxBodyBytes;
        std::uint64_t limit = std::min<std::uint64_t>(declared, state_.limits.maxBodyBytes);
        std::uint64_t buffered = std::min<std::uint64_t>(buffer_.size(), limit);
        buffer_.consume(buffer_.size());
        discardLeft_ = limit - buffered;
        armWhileReceiving(headEnd_ + state_.limits.bodyDeadline);
        discardSome();
    }

    void discardSome() {
        if (discardLeft_ == 0) {
            finish();
            return;
        }
        std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(discardLeft_, sizeof scratch_));
        stream_.async_read_some(asio::buffer(scratch_, want),
                                [self = this->shared_from_this()](error_code ec, std::size_t read) {
                                    if (self->phase_ == Phase::Closed) {
                                        return;
                                    }
                                    self->discardLeft_ -=
                                        std::min<std::uint64_t>(read, self->discardLeft_);
                                    if (ec) {
                                        self->close();
                                    } else {
                                        self->noteProgress();
                                        self->discardSome();
                                    }
                                });
    }

    void finish() {
        phase_ = Phase::Closing;
        if constexpr (kIsTls<Stream>) {
            arm(SteadyClock::now() + kCloseGrace);
            stream_.async_shutdown(
                [self = this->shared_from_this()](error_code) { self->close(); });
        } else {
            error_code ignored;
            socket().shutdown(tcp::socket::shutdown_send, ignored);
            close();
        }
    }

    void close() {
        if (phase_ == Phase::Closed) {
            return;
        }
        phase_ = Phase::Closed;
        disarm();
        releaseBodySlot();
        error_code ignored;
        socket().shutdown(tcp::socket::shutdown_both, ignored);
        socket().close(ignored);
    }

    Server::State& state_;
    Stream stream_;
    asio::steady_timer timer_;
    std::uint64_t generation_ = 0;
    bool timedOut_ = false;
    bool receiving_ = false;
    SteadyClock::time_point hardDeadline_;
    SteadyClock::time_point lastProgress_;
    std::string peer_;
    std::string group_;
    Phase phase_ = Phase::Head;

    beast::flat_buffer buffer_;
    std::optional<bhttp::request_parser<bhttp::string_body>> parser_;
    std::shared_ptr<RequestHead> head_;
    std::string client_;
    SteadyClock::time_point headEnd_ = SteadyClock::now();
    std::uint64_t bodyIn_ = 0;
    bool bodyUnread_ = false;
    bool holdsBodySlot_ = false;
    std::uint64_t discardLeft_ = 0;
    char scratch_[16384];

    std::optional<bhttp::response<bhttp::string_body>> response_;
    std::string logMethod_;
    std::string logPath_;
    int status_ = 0;
    std::uint64_t bytesOut_ = 0;
};

} // namespace

void Server::State::accept() {
    acceptor.async_accept(asio::make_strand(io), [this](error_code ec, tcp::socket socket) {
        if (ec) {
            if (stopping || ec == asio::error::operation_aborted) {
                return;
            }
            if (ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space ||
                ec == asio::error::no_memory || ec == asio::error::connection_aborted) {
                // Out of descriptors or memory for a moment: try again shortly
                // instead of spinning or giving up.
                acceptRetry.expires_after(kAcceptRetry);
                acceptRetry.async_wait([this](error_code waitError) {
                    if (!waitError && !stopping) {
                        accept();
                    }
                });
                return;
            }
            writeLogLine("zeq-server: error al aceptar conexiones: " + ec.message());
            acceptFailed = true;
            requestStop();
            return;
        }
        std::string peer = peerText(socket);
        std::string group = addressGroup(peer);
        if (int refusal = admit(group)) {
            error_code ignored;
            socket.close(ignored);
            logCapRefusal(peer, refusal);
        } else {
            if (tls) {
                startConnection(std::make_shared<Connection<asio::ssl::stream<tcp::socket>>>(
                    *this, peer, group, std::move(socket), *tls));
            } else {
                startConnection(std::make_shared<Connection<tcp::socket>>(*this, peer, group,
                                                                          std::move(socket)));
            }
        }
        accept();
    });
}

// Registered before it starts, so that stop() knows it from its first
// operation. stop() sets `stopping` before it sweeps the registered
// connections under the same lock, so each one is either swept or never started.
template <class ConnectionType>
void Server::State::startConnection(const std::shared_ptr<ConnectionType>& connection) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Admitted just before a stop whose sweep did not see it yet: it is
        // still sending, so it ends here, unstarted.
        if (stopping) {
            return;
        }
        live.emplace(connection.get(), connection);
    }
    connection->start();
}

void Server::State::scheduleTrim() {
    trimTimer.expires_after(kTrimInterval);
    trimTimer.async_wait([this](error_code ec) {
        if (ec || stopping) {
            return;
        }
        // Bodies and heads are freed when their connection ends; give the
        // pages back so a burst does not leave the process large.
        if (closedSinceTrim.exchange(false)) {
            malloc_trim(0);
        }
        scheduleTrim();
    });
}

void Server::State::closeEverythingStillSending() {
    error_code ignored;
    acceptor.close(ignored);
    trimTimer.cancel();
    acceptRetry.cancel();
    std::vector<std::shared_ptr<LiveConnection>> connections;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& entry : live) {
            if (auto connection = entry.second.lock()) {
                connections.push_back(std::move(connection));
            }
        }
    }
    for (auto& connection : connections) {
        connection->closeIfStillSending();
    }
}

Server::Server(Application& application, Limits limits)
    : state_(std::make_shared<State>(application, limits)) {}

Server::~Server() {
    state_->io.stop();
    state_->workers.stop();
    state_->workers.join();
}

int Server::bind(const std::string& address, int port, const std::optional<TlsFiles>& tls) {
    State& s = *state_;
    if (tls) {
        s.tls.emplace(asio::ssl::context::tls_server);
        SSL_CTX* context = s.tls->native_handle();
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                         SSL_OP_CIPHER_SERVER_PREFERENCE);
        if (SSL_CTX_use_certificate_chain_file(context, tls->certificateChain.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context, tls->privateKey.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(context) != 1) {
            std::string detail;
            while (unsigned long code = ERR_get_error()) {
                char buffer[256];
                ERR_error_string_n(code, buffer, sizeof buffer);
                detail += detail.empty() ? "" : "; ";
                detail += buffer;
            }
            throw std::runtime_error("no se pueden cargar el certificado " + tls->certificateChain +
                                     " y la clave " + tls->privateKey + ": " +
                                     (detail.empty() ? "error de OpenSSL" : detail));
        }
    }
    error_code ec;
    asio::ip::address ip =
        asio::ip::make_address(address == "localhost" ? "127.0.0.1" : address, ec);
    if (!ec) {
        tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
        s.acceptor.open(endpoint.protocol(), ec);
        // Not SO_REUSEPORT: a second server on the same port must fail to start
        // rather than share the connections.
        if (!ec) {
            s.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        }
        if (!ec) {
            s.acceptor.bind(endpoint, ec);
        }
        if (!ec) {
            s.acceptor.listen(kListenBacklog, ec);
        }
    }
    if (ec) {
        throw std::runtime_error("no se puede escuchar en " + address + " puerto " +
                                 std::to_string(port) + " (" + ec.message() + ")");
    }
    return s.acceptor.local_endpoint().port();
}

bool Server::run() {
    State& s = *state_;
    s.running = true;
    asio::post(s.io, [&s] {
        s.accept();
        s.scheduleTrim();
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < std::max(1, s.limits.ioThreads); ++i) {
        threads.emplace_back([&s] { s.io.run(); });
    }
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.changed.wait(lock, [&s] { return s.stopRequested; });
        s.changed.wait_for(lock, s.limits.shutdownGrace, [&s] { return s.connections == 0; });
    }
    s.io.stop();
    for (std::thread& thread : threads) {
        thread.join();
    }
    // A handler still storing a report finishes it; its answer is lost with the connection.
    s.workers.join();
    s.running = false;
    return !s.acceptFailed;
}

void Server::stop() {
    State& s = *state_;
    if (s.stopping.exchange(true)) {
        return;
    }
    asio::post(s.io, [&s] { s.closeEverythingStillSending(); });
    s.requestStop();
}

bool Server::running() const {
    return state_->running;
}

} // namespace zeq::http
