// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/panel_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRadioButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/form1.h"
#include "core/panel_tips.h"

namespace miral::app {

using core::ControlDef;
using core::ControlState;
using core::Ctl;
using core::Event;
using core::Handler;
using core::Kind;

const ControlState& ControlView::state() const {
    return form_.instrument().panel.state(ctl_);
}

namespace {

const ControlDef& defOf(Ctl c) {
    return core::controlDef(c);
}

QString qtext(const std::string& s) {
    return QString::fromStdString(s);
}

// Whether any mouse handler is bound to the control.
bool takesMouse(const core::Panel& panel, Ctl c) {
    for (Event e : {Event::Click, Event::DblClick, Event::MouseDown, Event::MouseMove, Event::MouseUp})
        if (panel.binding(c, e) != Handler::None) return true;
    return false;
}

// A one-pixel frame: top and left in one colour, bottom and right in another.
void bevel(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    p.setPen(topLeft);
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    p.setPen(bottomRight);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

// Text that reads on a background: black on light panels, light on dark ones.
QColor textOn(const QColor& back, const QColor& designed) {
    if (back.lightness() >= 96) return designed;
    return designed.lightness() < 96 ? QColor(224, 224, 210) : designed;
}

QColor greyedOut(const QColor& c) {
    return QColor::fromHsv(c.hsvHue(), c.hsvSaturation() / 3, std::min(255, c.value() + 12));
}

// A key of the panel: raised when up; sunken and lit when latched down; a
// push key sinks (unlit) while it is held.
void paintKey(QPainter& p, const QRect& area, bool sunken, bool lit, bool enabled, const QColor& own,
              const QString& text, const QFont& font) {
    QColor face = own.isValid() ? own.darker(135) : QColor(214, 210, 198);
    if (lit) face = own.isValid() ? own.lighter(150) : QColor(255, 200, 60);
    if (!enabled) face = greyedOut(face);
    const QRect outer = area.adjusted(0, 0, -1, -1);
    p.fillRect(area, QColor(40, 40, 40));
    const QRect inner = outer.adjusted(1, 1, -1, -1);
    if (inner.width() <= 0 || inner.height() <= 0) return;
    QLinearGradient g(inner.topLeft(), inner.bottomLeft());
    if (lit) {
        g.setColorAt(0, face.lighter(125));
        g.setColorAt(1, face);
    } else if (sunken) {
        g.setColorAt(0, face.darker(112));
        g.setColorAt(1, face);
    } else {
        g.setColorAt(0, face.lighter(112));
        g.setColorAt(1, face.darker(108));
    }
    p.fillRect(inner.adjusted(0, 0, 1, 1), g);
    if (sunken) {
        bevel(p, inner, face.darker(190), face.lighter(125));
        if (inner.width() > 6 && inner.height() > 6)
            bevel(p, inner.adjusted(1, 1, -1, -1), face.darker(135), face);
    } else {
        bevel(p, inner, face.lighter(150), face.darker(175));
        if (inner.width() > 6 && inner.height() > 6)
            bevel(p, inner.adjusted(1, 1, -1, -1), face.lighter(118), face.darker(130));
    }
    if (text.isEmpty()) return;
    p.setFont(font);
    p.setPen(enabled ? QColor(0, 0, 0) : QColor(128, 128, 128));
    const int shift = sunken ? 1 : 0;
    p.drawText(inner.adjusted(shift, shift, shift, shift), Qt::AlignCenter, text);
}

// A toolkit widget that shows one control; unless it says otherwise it
// repaints itself when the control changes.
template <class Base>
class ViewOf : public Base, public ControlView {
  public:
    template <class... Args>
    ViewOf(TForm1& form, Ctl c, Args&&... args) : Base(std::forward<Args>(args)...), ControlView(form, c) {}
    QWidget* widget() override { return this; }
    void mirror(const ControlState&) override { this->update(); }
};

// Routes the mouse to the window, which hands it to the model.
template <class Base>
class Routed : public ViewOf<Base> {
  public:
    Routed(TForm1& form, Ctl c, QWidget* parent) : ViewOf<Base>(form, c, parent) {}

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        this->form_.mousePressed(*this, e);
        e->accept();
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        this->form_.mouseMoved(*this, e);
        e->accept();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        this->form_.mouseReleased(*this, e);
        e->accept();
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        this->form_.mouseDoubleClicked(*this, e);
        e->accept();
    }
};

// A control drawn by hand: paint() draws it from the control's state.
template <class Base>
class Painted : public Base {
  public:
    using Base::Base;

  protected:
    virtual void paint(QPainter& p, const ControlState& s) = 0;
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        paint(p, this->state());
    }
};

// ---- Panels, pages, frames ---------------------------------------------------

class PanelFrame final : public Painted<Routed<QWidget>> {
  public:
    using Painted::Painted;

  protected:
    void paint(QPainter& p, const ControlState& s) override {
        const QColor back = qcolor(s.color);
        p.fillRect(rect(), back);
        const QRect r = rect().adjusted(0, 0, -1, -1);
        bevel(p, r, back.lighter(140), back.darker(175));
        const double k = form_.scale();
        if (ctl_ == Ctl::screen) {
            // The screen sits sunk into its bezel.
            const int in = qRound(6 * k);
            bevel(p, r.adjusted(in, in, -in, -in), back.darker(200), back.lighter(160));
        }
        if (!s.caption.empty()) {
            QFont f = font();
            f.setBold(true);
            f.setPointSizeF(7 * k);
            p.setFont(f);
            p.setPen(textOn(back, qcolor(defOf(ctl_).fore)));
            p.drawText(QRect(2, 1, width() - 4, qRound(14 * k)), Qt::AlignHCenter | Qt::AlignVCenter,
                       qtext(s.caption));
        }
    }
};

class GroupFrame final : public Painted<ViewOf<QWidget>> {
  public:
    using Painted::Painted;

  protected:
    void paint(QPainter& p, const ControlState& s) override {
        const QColor back = qcolor(s.color);
        const QFontMetrics fm(font());
        const int top = fm.height() / 2;
        const QRect r = rect().adjusted(0, top, -2, -2);
        p.setPen(back.darker(160));
        p.drawRect(r);
        p.setPen(back.lighter(150));
        p.drawRect(r.translated(1, 1));
        const QString title = qtext(s.caption);
        const int w = fm.horizontalAdvance(title);
        p.fillRect(QRect(8, 0, w + 2, fm.height()), back);
        p.setPen(isEnabled() ? QColor(0, 0, 0) : QColor(128, 128, 128));
        p.drawText(QRect(9, 0, w + 2, fm.height()), Qt::AlignLeft | Qt::AlignVCenter, title);
    }
};

class SheetView final : public Painted<ViewOf<QWidget>> {
  public:
    using Painted::Painted;

  protected:
    void paint(QPainter& p, const ControlState& s) override { p.fillRect(rect(), qcolor(s.color)); }
};

// A page control: a row of tabs over the active page. A tab press asks the
// model for the page; the pages' visibility follows the model.
class PageView final : public Painted<ViewOf<QWidget>> {
  public:
    static constexpr int kTabHeight = 20;

    PageView(TForm1& form, Ctl c, QWidget* parent) : Painted(form, c, parent) {
        for (int i = 0; i < core::kControlCount; ++i) {
            const ControlDef& d = core::controlTable()[i];
            if (d.kind == Kind::TabSheet && d.parent == c) sheets_.push_back(static_cast<Ctl>(i));
        }
    }
    QPoint childOffset() const override { return {4, kTabHeight + 2}; }
    int tabHeight() const { return qRound(kTabHeight * form_.scale()); }

  protected:
    std::vector<QRect> tabRects() const {
        std::vector<QRect> out;
        QFont bold = font();
        bold.setBold(true);
        const QFontMetrics fm(bold);
        int x = 2;
        for (Ctl sheet : sheets_) {
            const int w = fm.horizontalAdvance(qtext(form_.instrument().panel.caption(sheet))) +
                          qRound(10 * form_.scale());
            out.emplace_back(x, 0, w, tabHeight() + 1);
            x += w;
        }
        return out;
    }

    void mousePressEvent(QMouseEvent* e) override {
        e->accept();
        if (e->button() != Qt::LeftButton) return;
        const auto rects = tabRects();
        const QPoint pos = e->position().toPoint();
        for (std::size_t i = 0; i < rects.size(); ++i) {
            if (rects[i].contains(pos)) {
                const int page = static_cast<int>(i);
                form_.dispatch([&] { form_.instrument().panel.userSelectPage(ctl_, page); });
                return;
            }
        }
    }

    void paint(QPainter& p, const ControlState& s) override {
        const QColor back = qcolor(s.color);
        p.fillRect(rect(), back);
        const QRect page(0, tabHeight(), width() - 1, height() - tabHeight() - 1);
        bevel(p, page, back.lighter(150), back.darker(175));
        const auto rects = tabRects();
        for (std::size_t i = 0; i < rects.size(); ++i) {
            const bool active = static_cast<int>(i) == s.position;
            QRect r = rects[i].adjusted(0, active ? 0 : 3, -1, 0);
            const QColor face = active ? back : back.darker(112);
            p.fillRect(r, face);
            p.setPen(face.lighter(150));
            p.drawLine(r.left(), r.bottom(), r.left(), r.top());
            p.drawLine(r.left(), r.top(), r.right(), r.top());
            p.setPen(face.darker(175));
            p.drawLine(r.right(), r.top(), r.right(), r.bottom());
            if (active) {
                p.setPen(back);
                p.drawLine(r.left() + 1, r.bottom(), r.right() - 1, r.bottom());
            }
            QFont f = font();
            f.setBold(active);
            p.setFont(f);
            p.setPen(QColor(0, 0, 0));
            p.drawText(r, Qt::AlignCenter, qtext(form_.instrument().panel.caption(sheets_[i])));
        }
    }

  private:
    std::vector<Ctl> sheets_;
};

// ---- Labels and keys -----------------------------------------------------------

class TextLabel final : public Painted<Routed<QWidget>> {
  public:
    TextLabel(TForm1& form, Ctl c, QWidget* parent)
        : Painted(form, c, parent), designedColor_(state().color) {
        // A caption drawn over a key lets the mouse through to the key unless
        // the label has handlers of its own.
        if (!takesMouse(form.instrument().panel, c)) setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paint(QPainter& p, const ControlState& s) override {
        const ControlDef& d = defOf(ctl_);
        if (d.back != core::kInherit || s.color != designedColor_) p.fillRect(rect(), qcolor(s.color));
        p.setFont(font());
        p.setPen(isEnabled() ? qcolor(d.fore) : QColor(128, 128, 128));
        const int align = d.centered ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter);
        p.drawText(rect(), align, qtext(s.caption));
    }

  private:
    display::Color designedColor_;
};

class LatchKey final : public Painted<Routed<QWidget>> {
  public:
    using Painted::Painted;

  protected:
    void paint(QPainter& p, const ControlState& s) override {
        const QColor own = defOf(ctl_).back != core::kInherit ? qcolor(s.color) : QColor();
        paintKey(p, rect(), s.down, s.down, isEnabled(), own, qtext(s.caption), font());
    }
};

class PushKey final : public Painted<Routed<QWidget>> {
  public:
    using Painted::Painted;
    void setPressedLook(bool v) override {
        partnerPressed_ = v;
        update();
    }

  protected:
    void paint(QPainter& p, const ControlState& s) override {
        const QColor own = defOf(ctl_).back != core::kInherit ? qcolor(s.color) : QColor();
        paintKey(p, rect(), pressActive || partnerPressed_, false, isEnabled(), own, qtext(s.caption),
                 font());
    }

  private:
    bool partnerPressed_ = false;
};

// ---- Images ------------------------------------------------------------------------

// A knob image or paint box: shows its canvas (the top-left part when the
// canvas is larger, as the screen's is).
class CanvasView final : public Routed<QWidget> {
  public:
    CanvasView(TForm1& form, Ctl c, QWidget* parent)
        : Routed(form, c, parent), knob_(defOf(c).kind == Kind::Knob) {
        // A knob takes the focus by a click, the tab key or the wheel, and
        // then the arrow keys.
        if (knob_) setFocusPolicy(Qt::WheelFocus);
        // The screen's picture covers the whole box at every panel scale (its
        // canvas is made at twice the designed size, and without a picture
        // the box is filled): the panel beneath it need not be painted first
        // each time a new picture is shown.
        if (c == Ctl::PaintBox1) setAttribute(Qt::WA_OpaquePaintEvent);
    }
    void mirror(const ControlState&) override {
        refreshTip();
        update();
    }
    void refreshTip() override {
        if (!knob_) return;
        std::string tip = core::currentTip(form_.instrument().panel, ctl_);
        if (tip == tipShown_) return;
        tipShown_ = std::move(tip);
        setToolTip(qtext(tipShown_));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const display::QImageCanvas* canvas = form_.canvases().canvas(ctl_);
        if (canvas == nullptr || canvas->image().isNull()) {
            p.fillRect(rect(), qcolor(state().color));
            return;
        }
        const QImage& img = canvas->image();
        const double k = form_.scale();
        if (knob_ && (k != 1.0 || devicePixelRatioF() != 1.0)) {
            // Larger than designed or on a high-density screen: the face is
            // drawn anew at the size shown, so its edges stay sharp.
            paintKnobVector(p, k);
        } else if (k == 1.0) {
            if (img.width() < width() || img.height() < height()) p.fillRect(rect(), qcolor(state().color));
            p.drawImage(QPoint(0, 0), img,
                        QRect(0, 0, std::min(width(), img.width()), std::min(height(), img.height())));
        } else {
            // The screen and the tuner boxes: their picture, scaled smoothly.
            const QRectF src(0, 0, std::min(width() / k, static_cast<double>(img.width())),
                             std::min(height() / k, static_cast<double>(img.height())));
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(QRectF(0, 0, src.width() * k, src.height() * k), img, src);
        }
        if (knob_ && hasFocus()) {
            // The knob that the keys turn: a dotted ring around its face.
            QPen pen(QColor(255, 220, 80), 1, Qt::DotLine);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(rect().adjusted(2, 2, -3, -3));
        }
    }
    void focusInEvent(QFocusEvent* e) override {
        QWidget::focusInEvent(e);
        update();
    }
    void focusOutEvent(QFocusEvent* e) override {
        QWidget::focusOutEvent(e);
        update();
    }
    // One step per notch of the wheel (Shift: ten); a fine wheel or touch pad
    // adds up its small turns to whole notches.
    void wheelEvent(QWheelEvent* e) override {
        if (!knob_) return QWidget::wheelEvent(e);
        const QPoint d = e->angleDelta();
        wheelRest_ += d.y() != 0 ? d.y() : d.x();
        const int notches = wheelRest_ / QWheelEvent::DefaultDeltasPerStep;
        wheelRest_ -= notches * QWheelEvent::DefaultDeltasPerStep;
        e->accept();
        if (notches == 0) return;
        const int steps = notches * (e->modifiers().testFlag(Qt::ShiftModifier) ? 10 : 1);
        form_.dispatch([&] { form_.instrument().panel.userTurnKnob(ctl_, steps); });
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (!knob_) return QWidget::keyPressEvent(e);
        constexpr int kToEnd = 1 << 24;  // Home and End: as far as the scale goes
        int steps = 0;
        switch (e->key()) {
            case Qt::Key_Up:
            case Qt::Key_Right:
                steps = 1;
                break;
            case Qt::Key_Down:
            case Qt::Key_Left:
                steps = -1;
                break;
            case Qt::Key_PageUp:
                steps = 10;
                break;
            case Qt::Key_PageDown:
                steps = -10;
                break;
            case Qt::Key_Home:
                steps = -kToEnd;
                break;
            case Qt::Key_End:
                steps = kToEnd;
                break;
            default:
                return QWidget::keyPressEvent(e);
        }
        e->accept();
        form_.dispatch([&] { form_.instrument().panel.userTurnKnob(ctl_, steps); });
    }

  private:
    // A knob face as display/knob draws it into the image (disc, knurled rim,
    // scale, labels, pointer), in vector form in designed coordinates.
    void paintKnobVector(QPainter& p, double k) {
        const ControlState& s = state();
        const ControlDef& d = defOf(ctl_);
        const double w = s.width, h = s.height;
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(k, k);
        const QColor back =
            qcolor(d.parent == Ctl::Form1 ? core::kFormBack : form_.instrument().panel.state(d.parent).color);
        p.fillRect(QRectF(0, 0, w, h), back);
        const double cx = static_cast<int>(w) / 2, cy = static_cast<int>(h) / 2;
        const bool stepped = d.face == core::Face::Stepped;
        const double fy =
            stepped ? static_cast<int>(h - 2) / 2 : cy;  // the stepped scale sits a pixel higher
        auto disc = [&](double x, double y, double r, QColor c) {
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(QPointF(x, y), r, r);
        };
        auto at = [](double x, double y, double r, double deg) {
            const double a = deg * M_PI / 180.0;
            return QPointF(x + r * std::cos(a), y - r * std::sin(a));
        };
        disc(cx + 1, cy + 1, 20, QColor(72, 72, 76));
        disc(cx, cy, 20, QColor(178, 178, 184));
        p.setPen(QPen(QColor(104, 104, 110), 1));
        for (int i = 0; i < 36; ++i) p.drawLine(at(cx, cy, 20, i * 10.0), at(cx, cy, 16, i * 10.0));
        disc(cx, cy, 16, QColor(50, 50, 55));
        disc(cx - 1, cy - 1, 13, QColor(92, 92, 98));
        disc(cx, cy, 12, QColor(38, 38, 42));
        disc(cx, cy, 9, QColor(85, 85, 85));
        // The scale.
        int lo = d.knobMin, hi = d.knobMax;
        const std::string& hint = s.hint;
        if (const auto sep = hint.find('#'); sep != std::string::npos) {
            lo = std::atoi(hint.substr(0, sep).c_str());
            hi = std::atoi(hint.substr(sep + 1).c_str());
        }
        QFont f(QStringLiteral("Arial"));
        const int n = std::max(1, d.ticks - 1);
        if (stepped) {
            p.setPen(QPen(QColor(112, 112, 112), 4, Qt::SolidLine, Qt::FlatCap));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(cx - 23, fy - 23, 46, 46), 225 * 16, -270 * 16);
            p.setPen(QPen(Qt::black, 2));
            for (int i = 0; i <= n; ++i) {
                const double a = 225.0 - i * 270.0 / n;
                p.drawLine(at(cx, fy, 29, a), at(cx, fy, 22, a));
            }
            const double r = w > 101 ? 35 : 28;
            f.setPointSizeF(w > 81 && w <= 101 ? 8 : 7);
            p.setFont(f);
            const QFontMetricsF fm(f);
            const QStringList labels = QString::fromLatin1(d.stepLabels).split(QLatin1Char(','));
            for (int i = 0; i <= n && i < labels.size(); ++i) {
                const double a = (225.0 - i * 270.0 / n) * M_PI / 180.0;
                const double tw = fm.horizontalAdvance(labels[i]), th = fm.height();
                const QPointF c(cx + std::cos(a) * (tw / 2 + r), fy - std::sin(a) * (th / 2 + r) + 1);
                p.drawText(QRectF(c.x() - tw / 2, c.y() - th / 2, tw, th), Qt::AlignCenter, labels[i]);
            }
        } else {
            p.setPen(QPen(Qt::black, 1));
            for (int t = 0; t <= 3 * n; ++t) {
                const double a = 225.0 - t / 3.0 * 270.0 / n;
                p.drawLine(at(cx, cy, 25, a), at(cx, cy, 22, a));
            }
            p.setPen(QPen(Qt::black, 2));
            for (int i = 0; i <= n; ++i) {
                const double a = 225.0 - i * 270.0 / n;
                p.drawLine(at(cx, cy, 28, a), at(cx, cy, 22, a));
            }
            if (d.endLabels) {
                f.setPointSizeF(w <= 81 ? 7 : (w > 101 ? 9 : 8));
                p.setFont(f);
                const QFontMetricsF fm(f);
                const QString a = QString::number(lo), b = QString::number(hi);
                const QPointF pa = at(cx, cy, 28, 225), pb = at(cx, cy, 28, -45);
                p.drawText(QPointF(pa.x() - fm.horizontalAdvance(a), pa.y() + fm.ascent()), a);
                p.drawText(QPointF(pb.x(), pb.y() + fm.ascent()), b);
            }
        }
        // The pointer.
        const double span = hi != lo ? hi - lo : 1;
        const double a = 225.0 - (s.tag - lo) * 270.0 / span;
        p.setPen(QPen(QColor(255, 0, 0), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(at(cx, cy, 8, a), at(cx, cy, 2, a));
        p.restore();
    }

    bool knob_;
    std::string tipShown_;
    int wheelRest_ = 0;
};

class LevelBar final : public Painted<ViewOf<QWidget>> {
  public:
    using Painted::Painted;

  protected:
    void paint(QPainter& p, const ControlState& s) override {
        p.fillRect(rect(), QColor(24, 30, 28));
        const QRect r = rect().adjusted(0, 0, -1, -1);
        bevel(p, r, QColor(16, 16, 16), QColor(170, 176, 172));
        const int span = s.max - s.min;
        if (span <= 0) return;
        const int inner = width() - 2;
        const int fill = static_cast<int>(static_cast<long long>(s.position - s.min) * inner / span);
        if (fill > 0) p.fillRect(QRect(1, 1, std::min(fill, inner), height() - 2), QColor(90, 220, 90));
    }
};

// ---- Toolkit controls whose behaviour the model takes over ----------------------

template <class Base>
class ToggleView final : public Routed<Base> {
  public:
    ToggleView(TForm1& form, Ctl c, QWidget* parent) : Routed<Base>(form, c, parent) {
        this->setFocusPolicy(Qt::NoFocus);
        if constexpr (std::is_same_v<Base, QRadioButton>) this->setAutoExclusive(false);
    }
    void mirror(const ControlState& s) override {
        const QSignalBlocker block(this);
        if (this->isChecked() != s.down) this->setChecked(s.down);
        const QString caption = qtext(s.caption);
        if (this->text() != caption) this->setText(caption);
        // The geometry may have changed too (also while the box is hidden,
        // when no resize event comes).
        fitCaption();
    }
    void setScaledFont(const QFont& font) override {
        font_ = font;
        fitCaption();
    }

  private:
    // The caption whole in the box: the font as given, or as much smaller
    // (down to 60 % of it) as the caption needs.
    void fitCaption() {
        if (font_.pointSizeF() <= 0) font_ = this->font();
        if (this->width() == fittedWidth_ && this->text() == fittedText_ && font_ == fittedFont_) return;
        fittedWidth_ = this->width();
        fittedText_ = this->text();
        fittedFont_ = font_;
        QFont f = font_;
        const double full = font_.pointSizeF();
        for (double size = full; size >= 0.6 * full; size -= 0.25) {
            f.setPointSizeF(size);
            QStyleOptionButton opt;
            opt.initFrom(this);
            opt.text = this->text();
            opt.fontMetrics = QFontMetrics(f);
            const QRect room = this->style()->subElementRect(std::is_same_v<Base, QRadioButton>
                                                                 ? QStyle::SE_RadioButtonContents
                                                                 : QStyle::SE_CheckBoxContents,
                                                             &opt, this);
            if (QFontMetrics(f).horizontalAdvance(this->text()) <= room.width()) break;
        }
        if (this->font() != f) this->setFont(f);
    }
    QFont font_;
    int fittedWidth_ = -1;
    QString fittedText_;
    QFont fittedFont_;

  protected:
    void resizeEvent(QResizeEvent* e) override {
        Routed<Base>::resizeEvent(e);
        fitCaption();
    }
    // Only the mouse operates these (through the model); no key toggles them.
    void keyPressEvent(QKeyEvent* e) override { QWidget::keyPressEvent(e); }
    void keyReleaseEvent(QKeyEvent* e) override { QWidget::keyReleaseEvent(e); }
};

class EditBox final : public ViewOf<QLineEdit> {
  public:
    EditBox(TForm1& form, Ctl c, QWidget* parent) : ViewOf(form, c, parent), swatch_(defOf(c).isSwatch) {
        if (swatch_) {
            setReadOnly(true);
            setFocusPolicy(Qt::NoFocus);
            setCursor(Qt::PointingHandCursor);
            setContextMenuPolicy(Qt::NoContextMenu);
        } else {
            connect(this, &QLineEdit::textEdited, this, [this](const QString& t) {
                const std::string text = t.toStdString();
                form_.dispatch([&] { form_.instrument().panel.userEditText(ctl_, text); });
                form_.remirror(ctl_);
            });
        }
    }
    void mirror(const ControlState& s) override {
        const QString t = qtext(s.text);
        if (text() != t) {
            const QSignalBlocker block(this);
            setText(t);
        }
        if (swatch_ && (!colorShown_ || s.color != color_)) {
            color_ = s.color;
            colorShown_ = true;
            setStyleSheet(QStringLiteral("QLineEdit { background: %1; border: 1px solid #202020; }")
                              .arg(qcolor(s.color).name()));
        }
    }

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (!swatch_) return QLineEdit::mousePressEvent(e);
        form_.mousePressed(*this, e);
        e->accept();
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!swatch_) return QLineEdit::mouseMoveEvent(e);
        e->accept();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (!swatch_) return QLineEdit::mouseReleaseEvent(e);
        form_.mouseReleased(*this, e);
        e->accept();
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (!swatch_) return QLineEdit::mouseDoubleClickEvent(e);
        form_.mouseDoubleClicked(*this, e);
        e->accept();
    }

  private:
    bool swatch_;
    bool colorShown_ = false;
    display::Color color_ = 0;
};

class ComboView final : public ViewOf<QComboBox> {
  public:
    ComboView(TForm1& form, Ctl c, QWidget* parent) : ViewOf(form, c, parent) {
        connect(this, &QComboBox::activated, this, [this](int index) {
            form_.dispatch([&] { form_.instrument().panel.userSelectItem(ctl_, index); });
            form_.remirror(ctl_);
        });
    }
    void mirror(const ControlState& s) override {
        const QSignalBlocker block(this);
        bool same = count() == static_cast<int>(s.items.size());
        for (int i = 0; same && i < count(); ++i) same = itemText(i) == qtext(s.items[i]);
        if (!same) {
            clear();
            for (const std::string& item : s.items) addItem(qtext(item));
        }
        if (currentIndex() != s.itemIndex) setCurrentIndex(s.itemIndex);
        const QString placeholder = s.itemIndex < 0 ? qtext(s.text) : QString();
        if (placeholderText() != placeholder) setPlaceholderText(placeholder);
    }
};

class TrackView final : public ViewOf<QSlider> {
  public:
    TrackView(TForm1& form, Ctl c, QWidget* parent) : ViewOf(form, c, Qt::Horizontal, parent) {
        setTickPosition(QSlider::TicksBelow);
        connect(this, &QSlider::valueChanged, this, [this](int v) {
            form_.dispatch([&] { form_.instrument().panel.userTrackPosition(ctl_, v); });
            form_.remirror(ctl_);
        });
    }
    void mirror(const ControlState& s) override {
        const QSignalBlocker block(this);
        if (minimum() != s.min || maximum() != s.max) setRange(s.min, std::max(s.min, s.max));
        const int ticks = defOf(ctl_).frequency;
        if (ticks > 0 && tickInterval() != ticks) setTickInterval(ticks);
        setPageStep(std::max(1, (s.max - s.min) / 10));
        if (value() != s.position) setValue(s.position);
    }
};

}  // namespace

ControlView* createControlView(TForm1& form, Ctl c, QWidget* parent) {
    switch (defOf(c).kind) {
        case Kind::Panel:
            return new PanelFrame(form, c, parent);
        case Kind::Label:
            return new TextLabel(form, c, parent);
        case Kind::Latch:
            return new LatchKey(form, c, parent);
        case Kind::Button:
            return new PushKey(form, c, parent);
        case Kind::Knob:
        case Kind::PaintBox:
            return new CanvasView(form, c, parent);
        case Kind::Edit:
            return new EditBox(form, c, parent);
        case Kind::Combo:
            return new ComboView(form, c, parent);
        case Kind::Check:
            return new ToggleView<QCheckBox>(form, c, parent);
        case Kind::Radio:
            return new ToggleView<QRadioButton>(form, c, parent);
        case Kind::TrackBar:
            return new TrackView(form, c, parent);
        case Kind::ProgressBar:
            return new LevelBar(form, c, parent);
        case Kind::PageControl:
            return new PageView(form, c, parent);
        case Kind::TabSheet:
            return new SheetView(form, c, parent);
        case Kind::GroupBox:
            return new GroupFrame(form, c, parent);
        case Kind::Timer:
        case Kind::ColorDialog:
        case Kind::SaveDialog:
            return nullptr;
    }
    return nullptr;
}

}  // namespace miral::app
