// SPDX-License-Identifier: GPL-3.0-or-later
// The automation API's request handling: the fuzzer's bytes are split at NUL
// bytes into the method, the target (path and query), a flag byte for the
// token and the body, and answered by the API on one instrument on the
// simulated bench; the whole input is also read as a request head for its
// Content-Length. Every answer is one of the documented statuses with a JSON
// body (an error text for every refusal), and a refused request changes
// nothing on the panel.
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/remote_api.h"
#include "fuzz/fuzz_instrument.h"

using namespace miral;

namespace {

std::string panelText(const core::Instrument& in) {
    std::string all;
    for (const char* name :
         {"genfreq", "genon1", "FftSize", "hold", "Tempo", "trasf", "zeta", "mainselect"}) {
        std::string line, why;
        if (core::operatePrint(in, name, &line, &why)) all += line + "\n";
    }
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 8192) return 0;
    static fuzz::FuzzInstrument bench;
    static bool on = false;
    if (!on) {
        bench.powerOn();
        on = true;
    }
    const QByteArray raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qint64 length = app::announcedContentLength(raw);
    if (length < -1 || length > (qint64{1} << 44)) std::abort();

    std::vector<QByteArray> parts{QByteArray()};
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && parts.size() < 4)
            parts.emplace_back();
        else
            parts.back().append(static_cast<char>(data[i]));
    }
    parts.resize(4);
    const QByteArray token = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
    core::Instrument& in = bench.instrument();
    app::RemoteApi api(in, token, [] { return QByteArray("\x89PNG", 4); });
    app::RemoteRequest rq;
    rq.method = parts[0];
    const qsizetype q = parts[1].indexOf('?');
    rq.path = q < 0 ? parts[1] : parts[1].left(q);
    rq.query = q < 0 ? QByteArray() : parts[1].mid(q + 1);
    // Mostly the right token, so that the requests reach the instrument.
    rq.authorization = parts[2].startsWith('x') ? parts[2] : "Bearer " + token;
    rq.body = parts[3];

    const std::string before = panelText(in);
    const app::RemoteReply r = api.handle(rq);
    switch (r.status) {
        case 200:
        case 400:
        case 401:
        case 404:
        case 405:
        case 413:
            break;
        default:
            std::abort();
    }
    if (r.waitForCycle != 0) {
        // POST /wait: answered later, once the cycles have run.
        if (r.status != 200 || rq.path != "/wait" || r.waitForCycle <= in.cycleCount()) std::abort();
    } else if (r.contentType == "application/json") {
        QJsonParseError err{};
        const QJsonDocument doc = QJsonDocument::fromJson(r.body, &err);
        if (err.error != QJsonParseError::NoError || !doc.isObject()) std::abort();
        if (r.status != 200 && !doc.object().value(QLatin1String("error")).isString()) std::abort();
    } else if (r.status != 200 || rq.path != "/screenshot") {
        std::abort();
    }
    if (r.status != 200 && panelText(in) != before) std::abort();  // a refusal changes nothing
    if (r.status == 401 && rq.authorization == "Bearer " + token) std::abort();
    if (in.terminateRequested()) {
        bench.powerOn();  // a click on the power key: start again
        return 0;
    }
    bench.tick();
    return 0;
}
