// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/remote_api.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <charconv>
#include <cmath>
#include <vector>

#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"

namespace miral::app {

namespace {

QByteArray okReply() {
    return QByteArrayLiteral("{\"ok\": true}");
}

// The body as a JSON object; false with the reason.
bool parseObject(const QByteArray& body, QJsonObject* out, std::string* why) {
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError) {
        *why = "the body is not JSON (" + err.errorString().toStdString() + " at byte " +
               std::to_string(err.offset) + ")";
        return false;
    }
    if (!doc.isObject()) {
        *why = "the body must be a JSON object";
        return false;
    }
    *out = doc.object();
    return true;
}

// A member that must be a text; a number is taken as its shortest text.
bool textMember(const QJsonObject& o, const char* key, std::string* out, std::string* why) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isString()) {
        *out = v.toString().toStdString();
        return true;
    }
    if (v.isDouble() && std::isfinite(v.toDouble())) {
        *out = core::shortestText(v.toDouble());
        return true;
    }
    if (v.isBool()) {
        *out = v.toBool() ? "1" : "0";
        return true;
    }
    *why = std::string("\"") + key + "\" must be " + (v.isUndefined() ? "given" : "a text or a number");
    return false;
}

void appendNumber(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";  // JSON has no NaN or infinity
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

}  // namespace

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    // Bytes that are not UTF-8 make the text invalid JSON: let Qt mend them.
    const QByteArray raw = QByteArray::fromStdString(out);
    if (QString::fromUtf8(raw).toUtf8() != raw) return QString::fromUtf8(raw).toUtf8().toStdString();
    return out;
}

qint64 announcedContentLength(const QByteArray& received) {
    const QByteArray head = received.toLower();
    const qsizetype end = head.indexOf("\r\n\r\n");
    const qsizetype at = head.indexOf("\r\ncontent-length:");
    if (at < 0 || (end >= 0 && at > end)) return -1;
    qsizetype i = at + 17;
    while (i < head.size() && (head[i] == ' ' || head[i] == '\t')) ++i;
    qint64 v = 0;
    bool any = false;
    for (; i < head.size() && head[i] >= '0' && head[i] <= '9'; ++i) {
        any = true;
        if (v > (qint64{1} << 40)) break;
        v = v * 10 + (head[i] - '0');
    }
    return any ? v : -1;
}

RemoteReply RemoteApi::error(int status, const std::string& message) {
    RemoteReply r;
    r.status = status;
    r.body = QByteArray::fromStdString("{\"error\": " + jsonString(message) + "}");
    return r;
}

RemoteReply RemoteApi::waitDone(std::uint64_t cycles) {
    RemoteReply r;
    r.body = QByteArray::fromStdString("{\"ok\": true, \"cycles\": " + std::to_string(cycles) + "}");
    return r;
}

QByteArray RemoteApi::makeToken() {
    std::uint32_t words[8];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

bool RemoteApi::authorized(const QByteArray& header) const {
    const QByteArray expected = "Bearer " + token_;
    if (token_.isEmpty() || header.size() != expected.size()) return false;
    // The same time whatever the first wrong byte.
    unsigned diff = 0;
    for (qsizetype i = 0; i < expected.size(); ++i)
        diff |= static_cast<unsigned char>(header[i]) ^ static_cast<unsigned char>(expected[i]);
    return diff == 0;
}

RemoteReply RemoteApi::handle(const RemoteRequest& rq) {
    if (!authorized(rq.authorization))
        return error(401,
                     "missing or wrong token (Authorization: Bearer TOKEN, "
                     "the token is in remote-token in the configuration folder)");
    if (static_cast<std::size_t>(rq.body.size()) > kRemoteMaxBody)
        return error(413, "the body is larger than 1 MiB");
    struct Route {
        const char* path;
        const char* method;
    };
    static constexpr Route kRoutes[] = {{"/set", "POST"},   {"/click", "POST"},     {"/print", "GET"},
                                        {"/dump", "GET"},   {"/screenshot", "GET"}, {"/wait", "POST"},
                                        {"/status", "GET"}, {"/quit", "POST"}};
    const Route* route = nullptr;
    for (const Route& r : kRoutes)
        if (rq.path == r.path) route = &r;
    if (!route)
        return error(404, "no such endpoint " + rq.path.left(200).toStdString() +
                              " (set, click, print, dump, screenshot, wait, status, quit)");
    if (rq.method != route->method)
        return error(405, std::string(route->path) + " takes " + route->method + ", not " +
                              rq.method.left(20).toStdString());

    const QUrlQuery query(QString::fromUtf8(rq.query));
    std::string why;
    const QByteArray path = rq.path;
    if (path == "/set" || path == "/click") {
        QJsonObject o;
        std::string name, value;
        if (!parseObject(rq.body, &o, &why) || !textMember(o, "name", &name, &why)) return error(400, why);
        if (path == "/set") {
            if (!textMember(o, "value", &value, &why)) return error(400, why);
            if (!core::operateSet(in_, name, value, &why)) return error(400, why);
        } else if (!core::operateClick(in_, name, &why)) {
            return error(400, why);
        }
        RemoteReply r;
        r.body = okReply();
        return r;
    }
    if (path == "/print") {
        const QString names = query.queryItemValue(QStringLiteral("names"), QUrl::FullyDecoded);
        if (names.isEmpty()) return error(400, "name what to print: /print?names=NAME,NAME");
        // Every name first: a request with one bad name prints nothing.
        std::string json = "{";
        bool first = true;
        for (const QString& n : names.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const std::string name = n.toStdString();
            std::string line;
            if (!core::operatePrint(in_, name, &line, &why)) return error(400, why);
            json += (first ? "" : ", ") + jsonString(name) + ": " + jsonString(line.substr(name.size() + 1));
            first = false;
        }
        RemoteReply r;
        r.body = QByteArray::fromStdString(json + "}");
        return r;
    }
    if (path == "/dump") {
        const std::string name =
            query.queryItemValue(QStringLiteral("array"), QUrl::FullyDecoded).toStdString();
        std::vector<double> values;
        if (name.empty())
            return error(400, "name the array: /dump?array=NAME (" + core::dumpableArrays() + ")");
        if (!core::arrayValues(in_, name, &values, &why)) return error(400, why);
        std::string json = "{\"array\": " + jsonString(name) + ", \"values\": [";
        json.reserve(json.size() + 24 * values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i) json += ", ";
            appendNumber(json, values[i]);
        }
        RemoteReply r;
        r.body = QByteArray::fromStdString(json + "]}");
        return r;
    }
    if (path == "/screenshot") {
        RemoteReply r;
        r.body = screenshot_ ? screenshot_() : QByteArray();
        if (r.body.isEmpty()) return error(400, "there is no screen picture yet");
        r.contentType = "image/png";
        return r;
    }
    if (path == "/wait") {
        QJsonObject o;
        if (!parseObject(rq.body, &o, &why)) return error(400, why);
        const QJsonValue v = o.value(QLatin1String("cycles"));
        const double n = v.toDouble(-1);
        if (!v.isDouble() || n != std::floor(n) || n < 1 || n > kRemoteMaxWaitCycles)
            return error(
                400, "\"cycles\" must be a whole number from 1 to " + std::to_string(kRemoteMaxWaitCycles));
        RemoteReply r;
        r.waitForCycle = in_.cycleCount() + static_cast<std::uint64_t>(n);
        return r;
    }
    if (path == "/status") {
        RemoteReply r;
        r.body = QByteArray::fromStdString("{\"status\": " + jsonString(in_.st.StatusText) + "}");
        return r;
    }
    // /quit
    RemoteReply r;
    r.body = okReply();
    r.quit = true;
    return r;
}

}  // namespace miral::app
