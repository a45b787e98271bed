// SPDX-License-Identifier: GPL-3.0-or-later
// The local automation API over HTTP (Qt's HTTP server module), on the
// window thread's event loop: a request runs between two processing cycles,
// never inside one. It listens on 127.0.0.1 and ::1 only.
//
// Limits: a body above 1 MiB is refused (413) and the connection closed; at
// most 8 connections at once (a ninth is answered 503 and closed); a client
// that has not sent a whole request within 5 s of connecting or of its last
// answer is dropped. The token is written at start to "remote-token" in the
// configuration folder (mode 0600).
#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/remote_api.h"

class QTcpServer;

namespace miral::app {

inline constexpr int kRemoteMaxConnections = 8;
inline constexpr int kRemoteIdleMs = 5000;
inline constexpr const char* kRemoteTokenFile = "remote-token";

class RemoteServer : public QAbstractHttpServer {
  public:
    RemoteServer(core::Instrument& in, std::function<QByteArray()> screenshot, QObject* parent = nullptr);
    ~RemoteServer() override;

    // Writes a new token to the configuration folder and listens on port on
    // 127.0.0.1 and ::1. False with a one-line reason (then nothing listens).
    bool start(int port, std::string* error);
    // Called when the instrument switched itself off through POST /quit.
    void setQuitHandler(std::function<void()> f) { onQuit_ = std::move(f); }

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

  private:
    struct PendingWait;
    struct EarlyRequest;
    void checkWaits();
    // Runs a request on the instrument and answers it (or parks a /wait).
    void answer(const RemoteRequest& rq, QHttpServerResponder responder, QTcpSocket* socket);

    core::Instrument& in_;
    std::unique_ptr<RemoteApi> api_;
    std::function<QByteArray()> screenshot_;
    std::function<void()> onQuit_;
    std::vector<QTcpServer*> listeners_;
    std::vector<std::unique_ptr<PendingWait>> waits_;
    std::vector<std::unique_ptr<EarlyRequest>> early_;  // arrived before the power-on restore
    QTimer waitTimer_;
    int connections_ = 0;
};

// Writes the token file (mode 0600, replaced atomically); false with a reason.
bool writeTokenFile(const std::filesystem::path& file, const QByteArray& token, std::string* error);

// SIGTERM, SIGINT and SIGHUP call f on the window thread (through a pipe).
void onEndSignals(QObject* owner, std::function<void()> f);

}  // namespace miral::app
