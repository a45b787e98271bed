// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/remote_server.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <csignal>

#include "core/instrument.h"
#include "core/operate.h"

namespace miral::app {

namespace {

// Headers and the request line may add this much to the body's 1 MiB.
constexpr qint64 kHeaderAllowance = 64 * 1024;
// A wait that sees no cycle for this long gives up (a window hidden or a
// capture that delivers nothing runs no cycles).
constexpr qint64 kWaitGiveUpMs = 60000;
constexpr const char* kIdleTimerName = "miral-remote-idle";
constexpr const char* kBytesProperty = "miral-remote-bytes";

QByteArray plainReply(int status, const char* reason, const QByteArray& json) {
    return "HTTP/1.1 " + QByteArray::number(status) + " " + reason +
           "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
           QByteArray::number(json.size()) + "\r\n\r\n" + json;
}

// The Content-Length of the request at the head of the socket's buffer, or -1.
qint64 announcedLength(QTcpSocket* s) {
    return announcedContentLength(s->peek(16 * 1024));
}

void restartIdle(QTcpSocket* s) {
    if (auto* t = s->findChild<QTimer*>(QLatin1String(kIdleTimerName))) t->start();
}
void stopIdle(QTcpSocket* s) {
    if (auto* t = s->findChild<QTimer*>(QLatin1String(kIdleTimerName))) t->stop();
}

// A listener that keeps the connection limit, the body limit and the idle
// limit before Qt's HTTP server sees a socket.
class LimitedTcpServer : public QTcpServer {
  public:
    LimitedTcpServer(std::shared_ptr<int> connections, QObject* parent)
        : QTcpServer(parent), connections_(std::move(connections)) {}

  protected:
    void incomingConnection(qintptr fd) override {
        auto* s = new QTcpSocket(this);
        if (!s->setSocketDescriptor(fd)) {
            delete s;
            return;
        }
        if (*connections_ >= kRemoteMaxConnections) {
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            s->write(plainReply(503, "Service Unavailable",
                                "{\"error\": \"too many connections (at most " +
                                    QByteArray::number(kRemoteMaxConnections) + ")\"}"));
            s->disconnectFromHost();
            return;
        }
        ++*connections_;
        std::shared_ptr<int> count = connections_;
        connect(s, &QObject::destroyed, [count] { --*count; });
        // A client that does not finish its request in time is dropped.
        auto* idle = new QTimer(s);
        idle->setObjectName(QLatin1String(kIdleTimerName));
        idle->setSingleShot(true);
        idle->setInterval(kRemoteIdleMs);
        connect(idle, &QTimer::timeout, s, [s] { s->abort(); });
        idle->start();
        // Bodies above the limit are refused before they are read whole.
        s->setProperty(kBytesProperty, qint64{0});
        connect(s, &QTcpSocket::readyRead, s, [s] {
            const qint64 total = s->property(kBytesProperty).toLongLong() + s->bytesAvailable();
            s->setProperty(kBytesProperty, total);
            const qint64 announced = announcedLength(s);
            if (announced > static_cast<qint64>(kRemoteMaxBody) ||
                total > static_cast<qint64>(kRemoteMaxBody) + kHeaderAllowance) {
                s->write(
                    plainReply(413, "Payload Too Large", "{\"error\": \"the body is larger than 1 MiB\"}"));
                s->flush();
                s->abort();
            }
        });
        addPendingConnection(s);
    }

  private:
    std::shared_ptr<int> connections_;
};

QByteArray methodName(QHttpServerRequest::Method m) {
    switch (m) {
        case QHttpServerRequest::Method::Get:
            return "GET";
        case QHttpServerRequest::Method::Put:
            return "PUT";
        case QHttpServerRequest::Method::Delete:
            return "DELETE";
        case QHttpServerRequest::Method::Post:
            return "POST";
        case QHttpServerRequest::Method::Head:
            return "HEAD";
        case QHttpServerRequest::Method::Options:
            return "OPTIONS";
        case QHttpServerRequest::Method::Patch:
            return "PATCH";
        case QHttpServerRequest::Method::Connect:
            return "CONNECT";
        case QHttpServerRequest::Method::Trace:
            return "TRACE";
        default:
            return "UNKNOWN";
    }
}

void send(QHttpServerResponder& responder, const RemoteReply& r) {
    responder.write(r.body, {{"Content-Type", r.contentType}, {"Cache-Control", "no-store"}},
                    static_cast<QHttpServerResponder::StatusCode>(r.status));
}

int gSignalPipe[2] = {-1, -1};

void onSignal(int sig) {
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &b, 1);
}

}  // namespace

struct RemoteServer::PendingWait {
    PendingWait(QHttpServerResponder&& r, std::uint64_t c, QTcpSocket* s)
        : responder(std::move(r)), cycle(c), socket(s) {
        since.start();
    }
    QHttpServerResponder responder;
    std::uint64_t cycle;
    QPointer<QTcpSocket> socket;
    QElapsedTimer since;
    std::uint64_t lastSeen = 0;
};

// A request that came before the power-on restore: it waits for it, so that
// the restored panel never overwrites what the request set.
struct RemoteServer::EarlyRequest {
    EarlyRequest(RemoteRequest r, QHttpServerResponder&& p, QTcpSocket* s)
        : rq(std::move(r)), responder(std::move(p)), socket(s) {}
    RemoteRequest rq;
    QHttpServerResponder responder;
    QPointer<QTcpSocket> socket;
};

RemoteServer::RemoteServer(core::Instrument& in, std::function<QByteArray()> screenshot, QObject* parent)
    : QAbstractHttpServer(parent), in_(in), screenshot_(std::move(screenshot)) {
    waitTimer_.setInterval(2);
    connect(&waitTimer_, &QTimer::timeout, this, [this] { checkWaits(); });
}

RemoteServer::~RemoteServer() {
    waitTimer_.stop();
    waits_.clear();
    early_.clear();
}

bool writeTokenFile(const std::filesystem::path& file, const QByteArray& token, std::string* error) {
    const std::filesystem::path tmp = file.string() + ".tmp";
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot write " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    const QByteArray text = token + "\n";
    bool ok = ::fchmod(fd, 0600) == 0 &&
              ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), file.c_str()) != 0) {
        *error = "cannot write " + file.string() + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool RemoteServer::start(int port, std::string* error) {
    const QByteArray token = RemoteApi::makeToken();
    if (!writeTokenFile(in_.configDir() / kRemoteTokenFile, token, error)) return false;
    api_ = std::make_unique<RemoteApi>(in_, token, screenshot_);
    auto count = std::make_shared<int>(0);
    // The loopback addresses only: never an address that another machine reaches.
    auto* v4 = new LimitedTcpServer(count, this);
    if (!v4->listen(QHostAddress::LocalHost, static_cast<quint16>(port))) {
        *error = "cannot serve the automation API on 127.0.0.1 port " + std::to_string(port) + ": " +
                 v4->errorString().toStdString();
        delete v4;
        return false;
    }
    bind(v4);
    listeners_.push_back(v4);
    auto* v6 = new LimitedTcpServer(count, this);
    if (v6->listen(QHostAddress::LocalHostIPv6, static_cast<quint16>(port))) {
        bind(v6);
        listeners_.push_back(v6);
    } else {
        delete v6;  // a machine without IPv6: 127.0.0.1 alone
    }
    return true;
}

bool RemoteServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    socket->setProperty(kBytesProperty, qint64{0});
    RemoteRequest rq;
    rq.method = methodName(request.method());
    rq.path = request.url().path(QUrl::FullyDecoded).toUtf8();
    rq.query = request.url().query(QUrl::FullyEncoded).toUtf8();
    for (const auto& h : request.headers())
        if (h.first.compare("authorization", Qt::CaseInsensitive) == 0) rq.authorization = h.second.trimmed();
    rq.body = request.body();
    QHttpServerResponder responder = makeResponder(request, socket);
    if (in_.st.RestoreOnFirstTick) {
        stopIdle(socket);
        early_.push_back(std::make_unique<EarlyRequest>(std::move(rq), std::move(responder), socket));
        waitTimer_.start();
        return true;
    }
    answer(rq, std::move(responder), socket);
    return true;
}

void RemoteServer::answer(const RemoteRequest& rq, QHttpServerResponder responder, QTcpSocket* socket) {
    const RemoteReply reply =
        api_ ? api_->handle(rq) : RemoteApi::error(503, "the automation API is not started");
    if (reply.waitForCycle != 0) {
        // Answered by checkWaits once the cycles have run; the client is not
        // slow meanwhile, the instrument is.
        stopIdle(socket);
        waits_.push_back(std::make_unique<PendingWait>(std::move(responder), reply.waitForCycle, socket));
        waits_.back()->lastSeen = in_.cycleCount();
        waitTimer_.start();
        return;
    }
    send(responder, reply);
    restartIdle(socket);
    if (reply.quit) {
        socket->flush();
        // Switched off as "ON" does, once the answer is on its way.
        QTimer::singleShot(0, this, [this] {
            std::string why;
            if (in_.panel.down(core::Ctl::Panel29)) core::operateClick(in_, "Panel29", &why);
            // Already off: the program ends all the same.
            if (!in_.terminateRequested() && onQuit_) onQuit_();
        });
    }
}

void RemoteServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder responder = makeResponder(request, socket);
    send(responder, RemoteApi::error(404, "no such endpoint"));
}

void RemoteServer::checkWaits() {
    if (!early_.empty() && !in_.st.RestoreOnFirstTick) {
        auto early = std::move(early_);
        early_.clear();
        for (auto& e : early)
            if (e->socket) answer(e->rq, std::move(e->responder), e->socket);
    }
    const std::uint64_t now = in_.cycleCount();
    for (auto it = waits_.begin(); it != waits_.end();) {
        PendingWait& w = **it;
        if (!w.socket) {
            it = waits_.erase(it);
            continue;
        }
        if (now != w.lastSeen) {
            w.lastSeen = now;
            w.since.restart();
        }
        if (now >= w.cycle) {
            send(w.responder, RemoteApi::waitDone(now));
            restartIdle(w.socket);
        } else if (w.since.elapsed() > kWaitGiveUpMs) {
            send(w.responder, RemoteApi::error(503, "the instrument ran no processing cycle for 60 s"));
            restartIdle(w.socket);
        } else {
            ++it;
            continue;
        }
        it = waits_.erase(it);
    }
    if (waits_.empty() && early_.empty()) waitTimer_.stop();
}

void onEndSignals(QObject* owner, std::function<void()> f) {
    if (gSignalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
    ::fcntl(gSignalPipe[1], F_SETFL, O_NONBLOCK);
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [f = std::move(f)] {
        unsigned char b = 0;
        [[maybe_unused]] const ssize_t n = ::read(gSignalPipe[0], &b, 1);
        f();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace miral::app
