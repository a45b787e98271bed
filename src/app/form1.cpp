// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/form1.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <iostream>
#include <memory>
#include <optional>

#include "app/panel_widgets.h"
#include "app/qt_color_chooser.h"
#include "app/questions.h"
#include "audio/streams.h"
#include "core/panel_tips.h"
#include "core/twins.h"

namespace miral::app {

using core::Ctl;
using core::Kind;

namespace {

constexpr int kStatusHeight = 18;

std::optional<core::MouseButton> buttonOf(Qt::MouseButton b) {
    switch (b) {
        case Qt::LeftButton:
            return core::MouseButton::Left;
        case Qt::RightButton:
            return core::MouseButton::Right;
        case Qt::MiddleButton:
            return core::MouseButton::Middle;
        default:
            return std::nullopt;
    }
}

core::ShiftState shiftOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
    core::ShiftState s;
    s.left = buttons.testFlag(Qt::LeftButton);
    s.right = buttons.testFlag(Qt::RightButton);
    s.middle = buttons.testFlag(Qt::MiddleButton);
    s.shift = mods.testFlag(Qt::ShiftModifier);
    s.ctrl = mods.testFlag(Qt::ControlModifier);
    s.alt = mods.testFlag(Qt::AltModifier);
    return s;
}

// The page number of a tab sheet among the sheets of its page control.
int pageIndexOf(Ctl sheet) {
    const core::ControlDef& d = core::controlDef(sheet);
    int page = 0;
    for (int i = 0; i < core::idx(sheet); ++i) {
        const core::ControlDef& o = core::controlTable()[i];
        if (o.kind == Kind::TabSheet && o.parent == d.parent) ++page;
    }
    return page;
}

bool isKey(Kind k) {
    return k == Kind::Button || k == Kind::Latch;
}

}  // namespace

TForm1::TForm1(core::Instrument& in, PanelCanvases& canvases, FormOptions options)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      in_(in),
      canvases_(canvases),
      options_(options) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Miral"));

    panel_ = new QWidget(this);
    panel_->setObjectName(QStringLiteral("FrontPanel"));
    panel_->setAutoFillBackground(true);
    QPalette pal = panel_->palette();
    pal.setColor(QPalette::Window, qcolor(core::kFormBack));
    panel_->setPalette(pal);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("StatusLine"));
    status_->setAutoFillBackground(true);
    QPalette spal = status_->palette();
    spal.setColor(QPalette::Window, QColor(36, 40, 38));
    spal.setColor(QPalette::WindowText, QColor(255, 220, 120));
    status_->setPalette(spal);
    status_->setContentsMargins(6, 0, 6, 0);

    build();
    addShortcuts();

    // The failure banner lies over the top of the screen, above the traces.
    banner_ = new QLabel(control(Ctl::Panel2));
    banner_->setObjectName(QStringLiteral("FailureBanner"));
    banner_->setWordWrap(true);
    banner_->setAutoFillBackground(true);
    banner_->setAttribute(Qt::WA_TransparentForMouseEvents);
    banner_->setContentsMargins(8, 4, 8, 4);
    QPalette bpal = banner_->palette();
    bpal.setColor(QPalette::Window, QColor(178, 24, 24));
    bpal.setColor(QPalette::WindowText, QColor(255, 255, 255));
    banner_->setPalette(bpal);
    QFont bfont = banner_->font();
    bfont.setPointSize(10);
    bfont.setBold(true);
    banner_->setFont(bfont);
    banner_->hide();
    statusTimer_ = new QTimer(this);
    statusTimer_->setInterval(250);
    connect(statusTimer_, &QTimer::timeout, this, [this] { updateStatus(); });
    statusTimer_->start();

    // The display frames: the processing cycle (Timer1's handler) runs on
    // them when there is something new, and the window shows what changed.
    frameTimer_ = new QTimer(this);
    frameTimer_->setTimerType(Qt::PreciseTimer);
    frameTimer_->setInterval(FramePacer::intervalMs(frameRate_));
    connect(frameTimer_, &QTimer::timeout, this, [this] { onFrame(); });
    frameTimer_->start();

    if (options_.interactive) {
        chooser_ = std::make_unique<QtColorChooser>(this);
        in_.setColorChooser(chooser_.get());
        in_.setTerminateHandler([this] {
            stopTimers();
            QMetaObject::invokeMethod(
                qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
        });
    }
    sync();
}

TForm1::~TForm1() {
    stopTimers();
    if (chooser_ && options_.interactive) {
        in_.setColorChooser(nullptr);
        in_.setTerminateHandler({});
    }
}

void TForm1::build() {
    views_.assign(core::kControlCount, nullptr);
    baseFontSize_.assign(core::kControlCount, 8.0);
    mirrored_.assign(core::kControlCount, 0);
    partners_.assign(core::kControlCount, nullptr);
    const core::Panel& panel = in_.panel;
    // The table lists every parent before its children, and later siblings
    // lie above earlier ones, as on the designed form.
    for (int i = 0; i < core::kControlCount; ++i) {
        const auto c = static_cast<Ctl>(i);
        const core::ControlDef& d = panel.def(c);
        if (d.kind == Kind::Timer) {
            auto* t = new QTimer(this);
            t->setTimerType(Qt::PreciseTimer);
            connect(t, &QTimer::timeout, this, [this, c] { onTimer(c); });
            timers_.emplace_back(c, t);
            continue;
        }
        QWidget* parent = panel_;
        if (d.parent != Ctl::Form1 && views_[core::idx(d.parent)] != nullptr)
            parent = views_[core::idx(d.parent)]->widget();
        ControlView* v = createControlView(*this, c, parent);
        if (v == nullptr) continue;
        views_[i] = v;
        QWidget* w = v->widget();
        w->setObjectName(QString::fromLatin1(d.name));
        QFont f(QStringLiteral("Arial"));
        f.setPointSize(d.fontSize);
        f.setBold(d.bold);
        v->setScaledFont(f);
        baseFontSize_[i] = d.fontSize;
        w->setMouseTracking(panel.binding(c, core::Event::MouseMove) != core::Handler::None);
        // What the control does, its unit and its key (knobs keep theirs
        // up to date with their value).
        if (d.kind != Kind::Knob) w->setToolTip(QString::fromUtf8(core::controlTip(c)));
    }
    // Captions lie above the knob images and paint boxes they label (a knob's
    // square image would otherwise hide the text in its corner).
    for (int i = 0; i < core::kControlCount; ++i)
        if (views_[i] != nullptr && panel.def(static_cast<Ctl>(i)).kind == Kind::Label)
            views_[i]->widget()->raise();
    // The settings pages lie under the tuner and generator panels, which
    // cover them whenever they are shown.
    if (QWidget* pages = control(Ctl::PageControl1)) pages->stackUnder(control(Ctl::pan1));
    // A label that takes the clicks for the key under it (e.g. the "+" over
    // SpeedButton20) shows that key pressed while it is held.
    for (int i = 0; i < core::kControlCount; ++i) {
        const auto c = static_cast<Ctl>(i);
        const core::ControlDef& d = panel.def(c);
        if (d.kind != Kind::Label || views_[i] == nullptr) continue;
        if (views_[i]->widget()->testAttribute(Qt::WA_TransparentForMouseEvents)) continue;
        for (int j = 0; j < core::kControlCount; ++j) {
            const core::ControlDef& o = core::controlTable()[j];
            if (isKey(o.kind) && o.parent == d.parent && o.left == d.left && o.top == d.top &&
                o.width == d.width && o.height == d.height) {
                partners_[i] = views_[j];
                break;
            }
        }
    }
}

void TForm1::pressByKey(Ctl c) {
    if (in_.st.EnlargedScreen) {
        for (const core::Twin& t : core::kTwinButtons)
            if (t.main == c) c = t.copy;
    }
    dispatch([&] {
        // A key whose control is off in this view does nothing, and says so.
        if (!in_.panel.state(c).enabled) {
            in_.showStatusMessage("\"" + in_.panel.caption(c) + "\" is not available in this view");
            return;
        }
        in_.panel.setRequireShowing(false);
        try {
            in_.panel.userPress(c);
        } catch (...) {
            in_.panel.setRequireShowing(true);
            throw;
        }
        in_.panel.setRequireShowing(true);
    });
}

void TForm1::addShortcuts() {
    // A key sequence bound twice is ambiguous to Qt, which then runs neither
    // binding ("Ambiguous shortcut overload"); the standard keys (Save,
    // ZoomIn, ZoomOut) are the explicit ones on most desktops, so each
    // sequence is kept once.
    auto taken = std::make_shared<QList<QKeySequence>>();
    auto add = [this, taken](const QList<QKeySequence>& keys, auto action) {
        QList<QKeySequence> own;
        for (const QKeySequence& k : keys)
            if (!k.isEmpty() && !taken->contains(k) && !own.contains(k)) own.append(k);
        taken->append(own);
        auto* a = new QAction(this);
        a->setShortcuts(own);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, action);
        addAction(a);
    };
    add({QKeySequence(Qt::Key_T)}, [this] { pressByKey(Ctl::Tempo); });
    add({QKeySequence(Qt::Key_F)}, [this] { pressByKey(Ctl::Frequenza); });
    add({QKeySequence(Qt::Key_X)}, [this] { pressByKey(Ctl::trasf); });
    add({QKeySequence(Qt::Key_Z)}, [this] { pressByKey(Ctl::zeta); });
    add({QKeySequence(Qt::Key_Space)}, [this] { pressByKey(Ctl::hold); });
    add({QKeySequence::Save, QKeySequence(Qt::CTRL | Qt::Key_S)}, [this] { pressByKey(Ctl::savescreen); });
    add({QKeySequence(Qt::Key_F11)},
        [this] { dispatch([&] { in_.panel.userDoubleClick(Ctl::PaintBox1); }); });
    add({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)}, [this] { pressByKey(Ctl::Label135); });
    add({QKeySequence(Qt::Key_Minus)}, [this] { pressByKey(Ctl::Label139); });
    // A and B show one channel; the same key again shows both.
    add({QKeySequence(Qt::Key_A)}, [this] {
        pressByKey(core::channelMode(in_.panel) == core::ChannelMode::A ? Ctl::modeab : Ctl::modea);
    });
    add({QKeySequence(Qt::Key_B)}, [this] {
        pressByKey(core::channelMode(in_.panel) == core::ChannelMode::B ? Ctl::modeab : Ctl::modeb);
    });
    add({QKeySequence(Qt::Key_G)}, [this] { pressByKey(Ctl::genon1); });
    // The panel's size: larger, smaller, back to the desktop's scale.
    add({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
        [this] { stepScale(+1); });
    add({QKeySequence::ZoomOut, QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { stepScale(-1); });
    add({QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { setScalePercent(0); });
}

namespace {
constexpr int kScales[] = {100, 125, 150, 200};
}

void TForm1::stepScale(int direction) {
    int at = 0;
    for (int i = 0; i < 4; ++i)
        if (kScales[i] <= chosenPercent_) at = i;
    if (direction < 0 && kScales[at] < chosenPercent_)
        direction = 0;  // between steps: down to the step below
    at = std::clamp(at + direction, 0, 3);
    setScalePercent(kScales[at]);
}

void TForm1::setScalePercent(int percent) {
    // 0: as the desktop's scale. Qt already draws everything at the screen's
    // device pixel ratio, so the desktop's own scale needs no factor here.
    if (percent != 0 && percent != 100 && percent != 125 && percent != 150 && percent != 200) percent = 0;
    chosenPercent_ = percent == 0 ? 100 : percent;
    in_.st.PanelScale = percent;
    double s = chosenPercent_ / 100.0;
    // The window fits the screen it is on (its frame included).
    if (const QScreen* scr = screen(); scr && options_.interactive) {
        const QRect avail = scr->availableGeometry();
        const QSize frame = frameGeometry().size() - geometry().size();
        const double w = std::max(1, in_.panel.formWidth()),
                     h = std::max(1, in_.panel.formHeight()) + kStatusHeight;
        s = std::min({s, (avail.width() - frame.width()) / w, (avail.height() - frame.height()) / h});
        s = std::max(s, 0.5);
    }
    if (s == scale_) return;
    scale_ = s;
    applyScale();
}

void TForm1::applyScale() {
    for (int i = 0; i < core::kControlCount; ++i) {
        if (views_[i] == nullptr) continue;
        QWidget* w = views_[i]->widget();
        QFont f = w->font();
        f.setPointSizeF(baseFontSize_[i] * scale_);
        views_[i]->setScaledFont(f);
    }
    QFont sf = status_->font();
    sf.setPointSizeF(8 * scale_);
    status_->setFont(sf);
    QFont bf = banner_->font();
    bf.setPointSizeF(10 * scale_);
    banner_->setFont(bf);
    for (int i = 0; i < core::kControlCount; ++i)
        if (views_[i] != nullptr) mirrorControl(static_cast<Ctl>(i));
    applyForm();
    placeBanner();
    // Keep the whole window on its screen.
    if (const QScreen* scr = screen(); scr && options_.interactive && isVisible()) {
        const QRect avail = scr->availableGeometry();
        QRect g = frameGeometry();
        g.moveLeft(std::clamp(g.left(), avail.left(), std::max(avail.left(), avail.right() - g.width() + 1)));
        g.moveTop(std::clamp(g.top(), avail.top(), std::max(avail.top(), avail.bottom() - g.height() + 1)));
        if (g.topLeft() != frameGeometry().topLeft()) move(g.topLeft());
    }
}

QWidget* TForm1::control(Ctl c) const {
    ControlView* v = view(c);
    return v ? v->widget() : nullptr;
}

ControlView* TForm1::view(Ctl c) const {
    if (c == Ctl::Count || c == Ctl::Form1) return nullptr;
    return views_[core::idx(c)];
}

// ---- Mirror -----------------------------------------------------------------------

void TForm1::sync() {
    const core::Panel& panel = in_.panel;
    if (!synced_ || panel.formRevision() != formRevision_) {
        formRevision_ = panel.formRevision();
        applyForm();
    }
    if (!synced_ || panel.revision() != panelRevision_) {
        panelRevision_ = panel.revision();
        for (int i = 0; i < core::kControlCount; ++i) {
            if (views_[i] == nullptr) continue;
            if (synced_ && panel.state(static_cast<Ctl>(i)).revision == mirrored_[i]) continue;
            mirrorControl(static_cast<Ctl>(i));
        }
        // The knobs whose shown value other controls change (the generators'
        // range keys, the band's multipliers and free band).
        for (Ctl k : {Ctl::genfreq, Ctl::genfreq2, Ctl::fftselect, Ctl::tb1, Ctl::tb2, Ctl::tb4})
            if (ControlView* v = view(k)) v->refreshTip();
        applyTimers();
    }
    applyStacking();
    // The size the panel was switched off with comes back with it.
    if (!scaleRestored_ && in_.activated() && !in_.st.RestoreOnFirstTick) {
        scaleRestored_ = true;
        if (in_.st.PanelScale != 0) setScalePercent(in_.st.PanelScale);
    }
    if (in_.st.StatusText != statusSeen_) {
        statusSeen_ = in_.st.StatusText;
        updateStatus();
    }
    if (in_.st.StreamStatus != bannerShown_ ||
        (banner_->isVisible() && banner_->geometry().width() != control(Ctl::Panel2)->width()))
        placeBanner();
    synced_ = true;
}

namespace {

std::string driverTitle(const std::string& name) {
    if (name == "pulse") return "PulseAudio";
    if (name == "alsa") return "ALSA";
    if (name == "jack") return "JACK";
    if (name == "sim") return "simulated bench";
    if (name == "wav") return "WAV file";
    return name.empty() ? std::string("no driver yet") : name;
}

}  // namespace

void TForm1::updateStatus() {
    audio::AudioStreams& a = in_.streams();
    auto stream = [&](audio::StreamDirection dir, bool running, int rate, audio::SampleFormat format) {
        std::string t = a.DeviceLabel(dir);
        if (!running) return t + " (off)";
        return t + ", " + std::to_string(rate) + " Hz, " + audio::SampleFormatName(format);
    };
    const std::string info =
        driverTitle(a.DriverName()) + "   in: " +
        stream(audio::StreamDirection::Capture, a.CaptureRunning(), a.CaptureRate(), a.CaptureFormat()) +
        "   out: " +
        stream(audio::StreamDirection::Playback, a.PlaybackRunning(), a.PlaybackRate(), a.PlaybackFormat()) +
        "   overruns " + std::to_string(a.Overruns()) + ", underruns " + std::to_string(a.Underruns());
    // A message of the panel store or the export follows the stream status in
    // the model's status text; the stream status itself is the banner's.
    std::string message = in_.st.StatusText;
    if (!in_.st.StreamStatus.empty() && message.rfind(in_.st.StreamStatus, 0) == 0)
        message.erase(0, in_.st.StreamStatus.size());
    while (!message.empty() && message.front() == ' ') message.erase(0, 1);
    const std::string text = message.empty() ? info : info + "\n" + message;
    if (text != statusShown_) {
        statusShown_ = text;
        // One line of a fixed height, so that the window never changes size
        // with a message: the message first, then the streams, cut at the
        // right end; the whole text in its tooltip.
        statusLineText_ = QString::fromStdString(message.empty() ? info : message + "     " + info);
        status_->setToolTip(QString::fromStdString(text));
        statusElidedWidth_ = -1;
    }
    elideStatusLine();
    placeBanner();
}

void TForm1::elideStatusLine() {
    const int width = status_->contentsRect().width();
    if (width == statusElidedWidth_) return;
    statusElidedWidth_ = width;
    status_->setText(QFontMetrics(status_->font()).elidedText(statusLineText_, Qt::ElideRight, width));
}

void TForm1::placeBanner() {
    bannerShown_ = in_.st.StreamStatus;
    if (bannerShown_.empty()) {
        if (!banner_->isHidden()) banner_->hide();
        return;
    }
    const QString text = QString::fromStdString(bannerShown_);
    if (banner_->text() != text) banner_->setText(text);
    // As wide as the screen, as high as the wrapped text needs.
    const int w = control(Ctl::Panel2)->width();
    const int h = std::min(control(Ctl::Panel2)->height(), banner_->heightForWidth(w));
    banner_->setGeometry(0, 0, w, h);
    banner_->raise();
    if (banner_->isHidden()) banner_->show();
}

void TForm1::remirror(Ctl c) {
    if (view(c) != nullptr) mirrorControl(c);
}

void TForm1::mirrorControl(Ctl c) {
    ControlView* v = views_[core::idx(c)];
    const core::ControlState& s = in_.panel.state(c);
    mirrored_[core::idx(c)] = s.revision;
    applyGeometry(c);
    QWidget* w = v->widget();
    if (w->isEnabledTo(w->parentWidget()) != s.enabled) w->setEnabled(s.enabled);
    v->mirror(s);
    applyVisibility(c);
    if (in_.panel.def(c).kind == Kind::PageControl) {
        for (int i = 0; i < core::kControlCount; ++i)
            if (core::controlTable()[i].kind == Kind::TabSheet && core::controlTable()[i].parent == c)
                applyVisibility(static_cast<Ctl>(i));
    }
}

void TForm1::applyGeometry(Ctl c) {
    const core::ControlState& s = in_.panel.state(c);
    const core::ControlDef& d = in_.panel.def(c);
    QPoint offset;
    if (ControlView* parent = view(d.parent)) offset = parent->childOffset();
    // Scaled as one picture: both corners from the designed coordinates.
    const int x0 = qRound((s.left + offset.x()) * scale_), y0 = qRound((s.top + offset.y()) * scale_);
    const int x1 = qRound((s.left + offset.x() + std::max(0, s.width)) * scale_);
    const int y1 = qRound((s.top + offset.y() + std::max(0, s.height)) * scale_);
    const QRect r(x0, y0, x1 - x0, y1 - y0);
    QWidget* w = views_[core::idx(c)]->widget();
    if (w->geometry() != r) w->setGeometry(r);
}

bool TForm1::shownOnPage(Ctl c) const {
    const core::ControlDef& d = in_.panel.def(c);
    if (d.kind != Kind::TabSheet) return true;
    return in_.panel.position(d.parent) == pageIndexOf(c);
}

namespace {
// The side area right of the screen: the enlarged screen stops 8 pixels
// short of the window's edge, and nothing of the side area may show there.
constexpr Ctl kSideArea[] = {Ctl::pan1, Ctl::pan2a, Ctl::pan2b, Ctl::pan3, Ctl::PageControl1};
}  // namespace

void TForm1::applyVisibility(Ctl c) {
    bool visible = in_.panel.state(c).visible && shownOnPage(c);
    if (enlargedShown_)
        for (Ctl side : kSideArea) visible = visible && c != side;
    QWidget* w = views_[core::idx(c)]->widget();
    if (w->isHidden() == visible) w->setVisible(visible);
}

void TForm1::applyForm() {
    const core::Panel& panel = in_.panel;
    const int w = qRound(std::max(1, panel.formWidth()) * scale_);
    const int h = qRound(std::max(1, panel.formHeight()) * scale_);
    panel_->setGeometry(0, 0, w, h);
    // The status line: one line, its height fixed from the start.
    const int sh = qRound(kStatusHeight * scale_);
    status_->setGeometry(0, h, w, sh);
    setFixedSize(w, h + sh);
    elideStatusLine();
    // The window's place: the model keeps it (the stored panel brings it
    // back); the user moving the window updates the model.
    const QPoint wanted(panel.formLeft(), panel.formTop());
    if (options_.interactive && !firstShow_ && wanted != formPos_) {
        formPos_ = wanted;
        QPoint at = wanted;
        // Keep the window reachable when the stored place lies off every screen.
        if (QGuiApplication::screenAt(at + QPoint(20, 20)) == nullptr) {
            if (QScreen* scr = QGuiApplication::primaryScreen()) {
                const QRect avail = scr->availableGeometry();
                at = avail.topLeft() + QPoint(std::max(0, (avail.width() - width()) / 2),
                                              std::max(0, (avail.height() - height()) / 2));
            }
        }
        move(at);
    }
}

void TForm1::applyTimers() {
    if (!options_.runTimers || stopped_) return;
    for (auto& [c, t] : timers_) {
        // Timer1 asks for "as often as the system allows": the display frames
        // run its handler, when there is something new to show.
        if (c == Ctl::Timer1) continue;
        const core::ControlState& s = in_.panel.state(c);
        const bool run = s.enabled && s.interval > 0;
        if (run) {
            if (!t->isActive() || t->interval() != s.interval) t->start(s.interval);
        } else if (t->isActive()) {
            t->stop();
        }
    }
}

void TForm1::applyStacking() {
    const bool enlarged = in_.st.EnlargedScreen;
    if (enlarged == enlargedShown_) return;
    enlargedShown_ = enlarged;
    QWidget* screen = control(Ctl::screen);
    QWidget* strip = control(Ctl::Panel1);
    if (enlarged) {
        // The enlarged screen and its strip of controls lie above everything.
        screen->raise();
        strip->raise();
    } else {
        screen->lower();
        strip->stackUnder(control(Ctl::Edit11));
    }
    for (Ctl side : kSideArea)
        if (view(side) != nullptr) applyVisibility(side);
}

QImage TForm1::panelImage() {
    sync();
    return panel_->grab(QRect(0, 0, panel_->width(), panel_->height())).toImage();
}

void TForm1::stopTimers() {
    stopped_ = true;
    for (auto& [c, t] : timers_) t->stop();
}

// ---- Timers -------------------------------------------------------------------------

void TForm1::onTimer(Ctl timer) {
    // A handler that waits in a dialog lets the event loop run: no timer
    // handler may start inside another handler.
    if (stopped_ || ticking_ || dispatching_) return;
    ticking_ = true;
    try {
        in_.panel.timerTick(timer);
        if (timer == Ctl::Timer1) in_.afterCycle();
    } catch (...) {
        failed(std::current_exception());
    }
    ticking_ = false;
    // The processing cycle's changes are shown by the frame timer; the slow
    // timers' at once.
    if (timer != Ctl::Timer1) sync();
}

bool TForm1::onScreen() const {
    if (!isVisible() || isMinimized()) return false;
    const QWindow* win = windowHandle();
    return win == nullptr || win->isExposed();
}

int TForm1::frameIntervalMs() const {
    return frameTimer_->interval();
}

void TForm1::paceFrameTimer() {
    // A window that nobody can see draws nothing: its frame timer need only
    // notice, ten times a second, that it is seen again (being shown again
    // also sets the rate back at once, see changeEvent).
    const bool slow = !onScreen() && !in_.panel.enabled(Ctl::Timer10);
    const int wanted = slow ? kHiddenFrameMs : FramePacer::intervalMs(frameRate_);
    if (frameTimer_->interval() != wanted) frameTimer_->setInterval(wanted);
}

void TForm1::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && frameTimer_ != nullptr) paceFrameTimer();
}

void TForm1::onFrame() {
    paceFrameTimer();
    if (options_.runTimers && !stopped_ && !ticking_ && !dispatching_) {
        FramePacer::Frame f;
        f.cycleEnabled = in_.panel.enabled(Ctl::Timer1);
        f.restorePending = in_.st.RestoreOnFirstTick;
        f.shown = onScreen();
        f.keepMeasuring = in_.panel.enabled(Ctl::Timer10);  // the calibration reads the cycles' results
        f.writeIndex = in_.ring().WriteIndex.load(std::memory_order_acquire);
        f.revision = in_.panel.revision();
        f.streamState = (in_.streams().CaptureLost() ? 1 : 0) | (in_.streams().PlaybackLost() ? 2 : 0);
        if (pacer_.due(f)) {
            onTimer(Ctl::Timer1);
            ++cyclesRun_;
            pacer_.ran(f.writeIndex, in_.panel.revision(), f.streamState);
        }
    }
    sync();
}

void TForm1::failed(std::exception_ptr ex) {
    std::string what = "unknown error";
    try {
        std::rethrow_exception(ex);
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    std::cerr << "miral: " << what << "\n";
    if (options_.interactive) {
        // Nothing runs any more; the user reads why before the window goes.
        // A second failure while the message is up adds only its line.
        stopTimers();
        if (failing_) return;
        failing_ = true;
        showFailure(this, what);
        QCoreApplication::exit(1);
    }
}

// ---- Mouse --------------------------------------------------------------------------

QPoint TForm1::logical(const QPointF& p) const {
    return QPoint(static_cast<int>(std::floor(p.x() / scale_)), static_cast<int>(std::floor(p.y() / scale_)));
}

void TForm1::mousePressed(ControlView& v, QMouseEvent* e) {
    const auto b = buttonOf(e->button());
    if (!b) return;
    const QPoint p = logical(e->position());
    v.pressActive = true;
    v.suppressClick = false;
    if (ControlView* partner = partners_[core::idx(v.ctl())]) partner->setPressedLook(true);
    v.widget()->update();
    const core::ShiftState s = shiftOf(e->buttons(), e->modifiers());
    dispatch([&] { in_.panel.userMouseDown(v.ctl(), *b, p.x(), p.y(), s); });
}

void TForm1::mouseMoved(ControlView& v, QMouseEvent* e) {
    const QPoint p = logical(e->position());
    const core::ShiftState s = shiftOf(e->buttons(), e->modifiers());
    dispatch([&] { in_.panel.userMouseMove(v.ctl(), s, p.x(), p.y()); });
}

void TForm1::mouseReleased(ControlView& v, QMouseEvent* e) {
    const auto b = buttonOf(e->button());
    if (!b) return;
    const QPoint p = logical(e->position());
    const bool wasActive = v.pressActive;
    v.pressActive = e->buttons() != Qt::NoButton;
    if (ControlView* partner = partners_[core::idx(v.ctl())]) partner->setPressedLook(false);
    v.widget()->update();
    // A left press and release make a click. Keys, check boxes and radio
    // buttons changed their state at the press already, so their handler runs
    // wherever the mouse is let go; other controls click only when the
    // release is on them.
    const Kind k = in_.panel.def(v.ctl()).kind;
    const bool changedAtPress = k == Kind::Latch || k == Kind::Check || k == Kind::Radio;
    const bool click = *b == core::MouseButton::Left && wasActive && !v.suppressClick &&
                       (changedAtPress || v.widget()->rect().contains(e->position().toPoint()));
    if (!v.pressActive) v.suppressClick = false;
    const core::ShiftState s = shiftOf(e->buttons(), e->modifiers());
    dispatch([&] {
        in_.panel.userMouseUp(v.ctl(), *b, p.x(), p.y(), s);
        if (click) in_.panel.userClick(v.ctl());
    });
}

void TForm1::mouseDoubleClicked(ControlView& v, QMouseEvent* e) {
    const auto b = buttonOf(e->button());
    if (!b) return;
    if (in_.panel.binding(v.ctl(), core::Event::DblClick) == core::Handler::None) {
        // Without a double-click handler the second press is a press like any.
        mousePressed(v, e);
        return;
    }
    const QPoint p = logical(e->position());
    const bool pressed = v.pressActive;
    v.pressActive = true;
    v.suppressClick = true;  // the second press of a double click makes no click
    const core::ShiftState s = shiftOf(e->buttons(), e->modifiers());
    dispatch([&] {
        in_.panel.userDoubleClick(v.ctl(), p.x(), p.y());
        if (!pressed) in_.panel.userMouseDown(v.ctl(), *b, p.x(), p.y(), s);
    });
}

// ---- Window events --------------------------------------------------------------------

void TForm1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!firstShow_) return;
    firstShow_ = false;
    if (options_.interactive) {
        // Centred on the screen, unless the model already knows a place.
        const QPoint wanted(in_.panel.formLeft(), in_.panel.formTop());
        if (wanted == QPoint(0, 0)) {
            if (QScreen* scr = screen()) {
                const QRect avail = scr->availableGeometry();
                move(avail.center() - QPoint(width() / 2, height() / 2));
            }
            formPos_ = pos();
            in_.panel.setFormPos(formPos_.x(), formPos_.y());
        } else {
            formPos_ = QPoint(-1, -1);  // applyForm moves it there
        }
    }
    // The window is shown for the first time: the instrument activates.
    if (!in_.activated()) {
        dispatch([&] { in_.FormActivate(); });
    } else {
        sync();
    }
    // The frame rate, from the preferences that the activation read.
    frameRate_ = FramePacer::rateFromPreference(in_.prefs.readInt("Max_Refresh"));
    frameTimer_->setInterval(FramePacer::intervalMs(frameRate_));
    applyForm();
}

void TForm1::closeEvent(QCloseEvent* e) {
    // The close box, Alt+F4 and the end of the desktop session do what the
    // power key does: the panel is stored, then the program ends. When the
    // panel cannot be stored the window stays open with the reason in the
    // status line (nothing is lost); the power key or a second close after
    // freeing the folder ends it.
    if (in_.terminateRequested() || stopped_) {
        e->accept();
        return;
    }
    if (options_.storeOnClose) {
        dispatch([&] { in_.panel.run(core::Handler::Panel29Click, Ctl::Panel29); });
        if (!in_.terminateRequested()) {
            const bool anyway =
                options_.interactive &&
                QMessageBox::question(
                    this, QStringLiteral("Miral"),
                    QStringLiteral("The panel could not be stored. Switch off without storing it?"),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
            if (!anyway) {
                e->ignore();
                return;
            }
        }
    }
    e->accept();
    if (options_.interactive) {
        stopTimers();
        QCoreApplication::quit();
    }
}

void TForm1::moveEvent(QMoveEvent* e) {
    QWidget::moveEvent(e);
    if (!options_.interactive || firstShow_) return;
    formPos_ = pos();
    in_.panel.setFormPos(formPos_.x(), formPos_.y());
}

}  // namespace miral::app
