// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the instrument's front panel on the desktop.
//
// TForm1 is a thin mirror of the panel model (core::Panel). It creates one
// widget per control from the model's table, at the control's geometry and in
// its parent, and afterwards only
//   - shows what the model says (down, checked, enabled, visible, texts,
//     items, positions, colours, geometry, the form's size), comparing every
//     control's revision after each user event and on a short frame timer;
//   - turns every user event into the model's user-action API (mouse down,
//     move, up, click, double click, edits, item choices, track positions,
//     page choices) and every tick of an enabled timer into timerTick.
// No widget changes its own state: a key press asks the model, which decides
// (latching groups, all-up groups, disabled controls), and the mirror shows
// the outcome.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "app/frame_pacer.h"
#include "app/panel_canvases.h"
#include "core/instrument.h"

class QLabel;
class QMouseEvent;
class QTimer;

namespace miral::app {

class ControlView;
class QtColorChooser;

struct FormOptions {
    // Run Timer1, Timer7 and Timer10 on the window's own timers while the
    // model enables them (the desktop program). Off when something else
    // drives time: the headless runner, the tests.
    bool runTimers = true;
    // The desktop program: the colour dialog is a real QColorDialog, and the
    // application quits when the instrument asks to end or the window is
    // closed. Off for pictures and tests (nothing may block on a dialog).
    bool interactive = true;
    // Closing the window (the close box, Alt+F4, the end of the session)
    // switches the instrument off as the power key does: the panel is stored.
    bool storeOnClose = true;
};

class TForm1 : public QWidget {
  public:
    // The canvases must already be attached to the instrument.
    TForm1(core::Instrument& in, PanelCanvases& canvases, FormOptions options = {});
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    core::Instrument& instrument() { return in_; }
    PanelCanvases& canvases() { return canvases_; }
    const FormOptions& options() const { return options_; }

    // The front panel itself (the window without its status line).
    QWidget* panelArea() const { return panel_; }
    // The widget of a control; null for controls without one (timers, dialogs).
    QWidget* control(core::Ctl c) const;
    // The status line below the panel: the driver, the devices, rate and
    // format of both streams, the over- and underruns, and the latest
    // message of the panel store or the export.
    QLabel* statusLine() const { return status_; }
    // The status line's whole text: the streams, and a message on a line of its own.
    const std::string& statusText() const { return statusShown_; }
    // The red banner over the top of the screen while the streams fail.
    QLabel* failureBanner() const { return banner_; }
    // Brings the status line and the banner up to date (a quarter second
    // timer does it while the window runs).
    void updateStatus();

    // Shows every change of the model now.
    void sync();
    // The front panel as it looks now, at its own size.
    QImage panelImage();
    // Stops the timers for good (the program is ending).
    void stopTimers();
    // The size of the whole panel: 1.0 is the designed size; the View keys
    // choose 100, 125, 150 or 200 % (0: as the desktop's scale, the start).
    // The window always fits the screen it is on, so the scale in effect may
    // be smaller than the one chosen.
    double scale() const { return scale_; }
    int chosenScalePercent() const { return chosenPercent_; }
    void setScalePercent(int percent);
    // A point in a control's widget as the model counts it (unscaled).
    QPoint logical(const QPointF& p) const;
    // Whether the window can be seen (shown, not minimised, exposed).
    bool onScreen() const;
    // Frames per second of the processing cycle ("Max_Refresh").
    int frameRate() const { return frameRate_; }
    // Milliseconds between the frame timer's ticks now (slower while nobody
    // can see the window).
    int frameIntervalMs() const;
    // Processing cycles the window has run (for tests and measurements).
    long long cyclesRun() const { return cyclesRun_; }

    // ---- Used by the control widgets -------------------------------------
    // Runs a user action on the model, then mirrors what changed. Exceptions
    // from handlers are reported on stderr and, on the desktop, end the
    // program after a message box that says why.
    template <class F>
    void dispatch(F&& action) {
        const bool outer = !dispatching_;
        dispatching_ = true;
        try {
            action();
        } catch (...) {
            failed(std::current_exception());
        }
        if (outer) {
            dispatching_ = false;
            sync();
        }
    }
    void mousePressed(ControlView& v, QMouseEvent* e);
    void mouseMoved(ControlView& v, QMouseEvent* e);
    void mouseReleased(ControlView& v, QMouseEvent* e);
    void mouseDoubleClicked(ControlView& v, QMouseEvent* e);
    // Shows a control's state again although the model did not change it: a
    // toolkit control that moved by itself (a slider, a typed text, a chosen
    // item) goes back to what the model says when the model refused.
    void remirror(core::Ctl c);
    // The widget of a control as a view (null when it has none).
    ControlView* view(core::Ctl c) const;

  protected:
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

  private:
    void build();
    void addShortcuts();
    void applyScale();
    void stepScale(int direction);
    // A key of the keyboard operates a control as a remote would: also when
    // its panel is not shown (the generator's "ON" with the settings pages
    // up); a disabled control still refuses. On the enlarged screen the
    // strip's copy is pressed, which the main control follows.
    void pressByKey(core::Ctl c);
    void mirrorControl(core::Ctl c);
    void applyGeometry(core::Ctl c);
    void applyVisibility(core::Ctl c);
    void applyForm();
    void applyTimers();
    void applyStacking();
    void onTimer(core::Ctl timer);
    // One display frame: the processing cycle when it is due, then the mirror.
    void onFrame();
    void paceFrameTimer();                      // the frame timer's rate for what is seen now
    static constexpr int kHiddenFrameMs = 100;  // between ticks while the window is not seen
    void failed(std::exception_ptr ex);
    bool shownOnPage(core::Ctl c) const;

    core::Instrument& in_;
    PanelCanvases& canvases_;
    FormOptions options_;
    QWidget* panel_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* banner_ = nullptr;
    QTimer* statusTimer_ = nullptr;
    std::string bannerShown_;
    std::string statusSeen_;
    std::vector<ControlView*> views_;      // by component number (owned by Qt)
    std::vector<std::uint64_t> mirrored_;  // revision last shown, by component number
    std::vector<ControlView*> partners_;   // key drawn under a caption label that takes the clicks
    std::vector<std::pair<core::Ctl, QTimer*>> timers_;
    QTimer* frameTimer_ = nullptr;
    FramePacer pacer_;
    double scale_ = 1.0;
    int chosenPercent_ = 100;
    bool scaleRestored_ = false;
    std::vector<double> baseFontSize_;  // by component number
    int frameRate_ = FramePacer::kDefaultRate;
    long long cyclesRun_ = 0;
    std::unique_ptr<QtColorChooser> chooser_;
    std::uint64_t panelRevision_ = 0;
    std::uint64_t formRevision_ = 0;
    bool synced_ = false;
    bool dispatching_ = false;
    bool ticking_ = false;
    bool stopped_ = false;
    bool failing_ = false;  // the failure message is up
    bool firstShow_ = true;
    bool enlargedShown_ = false;
    QPoint formPos_;
    std::string statusShown_;
    QString statusLineText_;      // the one line shown, before it is cut to the width
    int statusElidedWidth_ = -1;  // the width it was last cut to
    void placeBanner();
    void elideStatusLine();
};

}  // namespace miral::app
