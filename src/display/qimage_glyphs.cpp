// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/qimage_glyphs.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <memory>

namespace miral::display {

namespace {

QFont makeQFont(const std::string& family, int pixels, bool bold) {
    QFont f;
    const QString name = QString::fromStdString(family);
    if (name.compare(QLatin1String("Arial"), Qt::CaseInsensitive) == 0)
        f.setFamilies(QStringList{name, QStringLiteral("Liberation Sans")});
    else
        f.setFamilies(QStringList{name});
    f.setPixelSize(pixels > 0 ? pixels : 1);
    f.setBold(bold);
    f.setKerning(false);
    f.setStyleStrategy(QFont::NoAntialias);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

}  // namespace

const FontAtlas& FontAtlas::get(const Font& font) {
    static std::mutex registryMutex;
    static std::vector<std::unique_ptr<FontAtlas>> registry;
    const int pixels = pixelSize(font.size);
    std::lock_guard<std::mutex> lock(registryMutex);
    for (const auto& a : registry)
        if (a->pixels_ == pixels && a->bold_ == font.bold && a->family_ == font.name) return *a;
    registry.push_back(std::unique_ptr<FontAtlas>(new FontAtlas(font.name, pixels, font.bold)));
    return *registry.back();
}

FontAtlas::FontAtlas(std::string family, int pixels, bool bold)
    : family_(std::move(family)), pixels_(pixels), bold_(bold) {
    usable_ = qGuiApp != nullptr;
    if (usable_) {
        const QFontMetrics fm(makeQFont(family_, pixels_, bold_));
        ascent_ = fm.ascent();
        height_ = fm.height();
    } else {
        ascent_ = pixels_;
        height_ = pixels_ + 3;
    }
    for (char32_t c = 0x20; c <= 0x7E; ++c) ascii_[c - 0x20] = render(c);
}

Glyph FontAtlas::render(char32_t c) const {
    Glyph g;
    if (!usable_) {
        g.advance = (pixels_ * 6 + 5) / 11;
        return g;
    }
    const QFont qf = makeQFont(family_, pixels_, bold_);
    const QString text = QString::fromUcs4(&c, 1);
    const QFontMetrics fm(qf);
    g.advance = fm.horizontalAdvance(text);

    // Render with room on every side, then keep the inked box.
    const int pad = pixels_ + 2;
    const int w = g.advance + 2 * pad;
    const int h = height_ + 2 * pad;
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::black);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setRenderHint(QPainter::TextAntialiasing, false);
        p.setFont(qf);
        p.setPen(Qt::white);
        p.drawText(pad, pad + ascent_, text);
    }
    int minX = w, minY = h, maxX = -1, maxY = -1;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qGreen(row[x]) >= 128) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }
    if (maxX < 0) return g;  // a blank glyph (space)
    g.dx = minX - pad;
    g.dy = minY - pad;
    g.w = maxX - minX + 1;
    g.h = maxY - minY + 1;
    g.mask.assign(static_cast<std::size_t>(g.w * g.h), 0);
    for (int y = 0; y < g.h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(minY + y));
        for (int x = 0; x < g.w; ++x)
            g.mask[static_cast<std::size_t>(y * g.w + x)] = qGreen(row[minX + x]) >= 128 ? 1 : 0;
    }
    return g;
}

const Glyph& FontAtlas::glyph(char32_t c) const {
    if (c >= 0x20 && c <= 0x7E) return ascii_[c - 0x20];
    std::lock_guard<std::mutex> lock(otherMutex_);
    auto it = other_.find(c);
    if (it == other_.end()) it = other_.emplace(c, render(c)).first;
    return it->second;
}

int FontAtlas::width(std::string_view utf8) const {
    int w = 0;
    for (std::size_t i = 0; i < utf8.size();) w += glyph(nextCodePoint(utf8, i)).advance;
    return w;
}

char32_t FontAtlas::nextCodePoint(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i++]);
    if (b0 < 0x80) return b0;
    int extra = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        return 0xFFFD;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size()) return 0xFFFD;
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (b & 0x3F);
        ++i;
    }
    return cp;
}

}  // namespace miral::display
