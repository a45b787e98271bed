// SPDX-License-Identifier: GPL-3.0-or-later
// The local automation API: what a request does to the running instrument,
// apart from the HTTP transport (remote_server.h). Every request is answered
// here on the window thread, between two processing cycles.
//
//   POST /set         {"name": "genon1", "value": "1"}      -> {"ok": true}
//   POST /click       {"name": "fun"}                       -> {"ok": true}
//   GET  /print?names=gendispl,FftSize                      -> {"gendispl": "440", "FftSize": "16384"}
//   GET  /dump?array=DisplayA                               -> {"array": "DisplayA", "values": [...]}
//   GET  /screenshot                                        -> the screen as image/png
//   POST /wait        {"cycles": N}                         -> {"ok": true, "cycles": C} after N more cycles
//   GET  /status                                            -> {"status": "<status line>"}
//   POST /quit                                              -> {"ok": true}, then the instrument switches
//                                                              off as "ON" does
// Every request carries "Authorization: Bearer TOKEN". Errors are JSON
// {"error": "..."}: 401 without the token, 404 an unknown path, 405 a wrong
// method, 400 a bad body, name or value, 413 a body above 1 MiB; a request
// that fails changes nothing.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <functional>
#include <string>

namespace miral::core {
class Instrument;
}

namespace miral::app {

inline constexpr std::size_t kRemoteMaxBody = 1u << 20;  // 1 MiB
inline constexpr int kRemoteMaxWaitCycles = 1000000;

struct RemoteRequest {
    QByteArray method;         // "GET", "POST", ...
    QByteArray path;           // "/set"
    QByteArray query;          // "names=a,b" (percent-encoded as received)
    QByteArray authorization;  // the header's value
    QByteArray body;
};

struct RemoteReply {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    // POST /wait: answer once the instrument has run this cycle (its
    // cycle count); 0 = answer now.
    std::uint64_t waitForCycle = 0;
    // POST /quit: switch the instrument off once the answer is sent.
    bool quit = false;
};

class RemoteApi {
  public:
    // screenshot: the screen as PNG bytes (empty when there is none).
    RemoteApi(core::Instrument& in, QByteArray token, std::function<QByteArray()> screenshot)
        : in_(in), token_(std::move(token)), screenshot_(std::move(screenshot)) {}

    RemoteReply handle(const RemoteRequest& request);
    // The answer of a finished wait.
    static RemoteReply waitDone(std::uint64_t cycles);
    static RemoteReply error(int status, const std::string& message);

    // A fresh token: 32 random bytes as 64 hex digits.
    static QByteArray makeToken();

  private:
    bool authorized(const QByteArray& header) const;
    core::Instrument& in_;
    QByteArray token_;
    std::function<QByteArray()> screenshot_;
};

// The Content-Length a request's head announces (the bytes received so far,
// its start line and headers), or -1 when there is none yet or it is no
// number; values beyond 2^40 are cut there.
qint64 announcedContentLength(const QByteArray& head);

// JSON text of a string (quotes and escapes).
std::string jsonString(std::string_view s);

}  // namespace miral::app
