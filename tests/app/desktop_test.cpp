// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a desktop program: pacing of the processing cycle, closing,
// the reset key's question, tooltips, the wheel and the keys. Real widgets on
// Qt's offscreen platform, real events.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>

#include "app/form1.h"
#include "app/frame_pacer.h"
#include "app/panel_canvases.h"
#include "app/questions.h"
#include "audio/audio_driver.h"
#include "core/instrument.h"
#include "storage/panel_store.h"
#include "support/fresh_dir.h"

namespace miral::app {
namespace {

using core::Ctl;
namespace fs = std::filesystem;

fs::path freshDir(const char* tag) {
    return testing::freshDir("miral_desktop_", tag);
}

// ---- The pacing rule ------------------------------------------------------------------

TEST(FramePacer, RunsACycleOnlyForNewSamplesOrAChangedPanel) {
    FramePacer p;
    FramePacer::Frame f;
    f.cycleEnabled = false;
    EXPECT_FALSE(p.due(f));  // Timer1 not enabled yet
    f.cycleEnabled = true;
    EXPECT_TRUE(p.due(f));  // the first cycle always runs
    p.ran(f.writeIndex, f.revision);
    EXPECT_FALSE(p.due(f));  // nothing new
    f.writeIndex = 512;
    EXPECT_TRUE(p.due(f));  // samples arrived
    p.ran(512, 7);
    f.revision = 7;
    EXPECT_FALSE(p.due(f));  // what the cycle changed itself is not news
    f.revision = 8;
    EXPECT_TRUE(p.due(f));  // a control changed
    p.ran(512, 8);
    f.shown = false;
    f.writeIndex = 1024;
    EXPECT_FALSE(p.due(f));  // nobody can see it
    f.keepMeasuring = true;
    EXPECT_TRUE(p.due(f));  // the calibration needs its cycles
    f.keepMeasuring = false;
    f.restorePending = true;
    EXPECT_TRUE(p.due(f));  // the power-on restore runs even minimised
    f.restorePending = false;
    f.shown = true;
    p.ran(1024, 8);
    EXPECT_FALSE(p.due(f));
    f.streamState = 1;
    EXPECT_TRUE(p.due(f));  // the capture stream was lost: no samples, but a banner to show
    p.ran(1024, 8, 1);
    EXPECT_FALSE(p.due(f));  // drawn once, the banner stays
    f.streamState = 0;
    EXPECT_TRUE(p.due(f));  // it came back
}

TEST(FramePacer, TheRateComesFromMaxRefreshWithinItsRange) {
    EXPECT_EQ(FramePacer::rateFromPreference(60), 60);
    EXPECT_EQ(FramePacer::rateFromPreference(10), 10);
    EXPECT_EQ(FramePacer::rateFromPreference(240), 240);
    EXPECT_EQ(FramePacer::rateFromPreference(9), 60);
    EXPECT_EQ(FramePacer::rateFromPreference(241), 60);
    EXPECT_EQ(FramePacer::rateFromPreference(-5), 60);
    // Never faster than asked: 60 per second is one frame every 17 ms.
    EXPECT_EQ(FramePacer::intervalMs(60), 17);
    EXPECT_EQ(FramePacer::intervalMs(240), 5);
    EXPECT_EQ(FramePacer::intervalMs(10), 100);
}

// ---- A window on an instrument ----------------------------------------------------------

struct Bench {
    explicit Bench(const fs::path& dir, FormOptions options = {false, false, true},
                   audio::TimeMode time = audio::TimeMode::Simulated) {
        in.setConfigDir(dir);
        EXPECT_TRUE(in.streams().SelectDriver("sim", time));
        in.useMixerOfDriver();
        canvases = std::make_unique<PanelCanvases>(in);
        in.FormCreate();
        form = std::make_unique<TForm1>(in, *canvases, options);
        form->show();
    }
    ~Bench() {
        form.reset();
        canvases.reset();
    }
    void cycle() {
        in.panel.timerTick(Ctl::Timer1);
        form->sync();
    }
    QWidget* w(const char* name) const {
        auto* found = form->findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    core::Instrument in;
    std::unique_ptr<PanelCanvases> canvases;
    std::unique_ptr<TForm1> form;
};

TEST(WindowPacing, CyclesFollowTheSamplesAtMostOncePerFrameAndStopWhenHidden) {
    const fs::path dir = freshDir("pace");
    std::ofstream(dir / "Prefs.ini") << "Max_Refresh=50\n";
    Bench b(dir, FormOptions{true, false, false});
    EXPECT_EQ(b.form->frameRate(), 50);
    QTest::qWait(400);  // activation, the restore, the first housekeeping ticks
    ASSERT_GT(b.form->cyclesRun(), 0);
    // Nothing arrives (the simulated card runs only when told) and nobody
    // touches the panel: no cycles.
    const long long idle = b.form->cyclesRun();
    QTest::qWait(300);
    EXPECT_LE(b.form->cyclesRun() - idle, 3);  // at most the housekeeping tick's changes

    // Samples arrive every millisecond: one cycle per frame, never more.
    QTimer feed;
    feed.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feed, &QTimer::timeout, [&] { b.in.ring().WriteIndex.fetch_add(48); });
    feed.start(1);
    const long long before = b.form->cyclesRun();
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(600);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    const long long ran = b.form->cyclesRun() - before;
    EXPECT_GE(ran, 5);
    EXPECT_LE(static_cast<double>(ran), 50.0 * seconds + 2);

    // A control changed: one cycle, although no sample arrived.
    feed.stop();
    QTest::qWait(100);
    const long long quiet = b.form->cyclesRun();
    b.in.panel.userPress(Ctl::Inv1);
    QTest::qWait(100);
    EXPECT_GE(b.form->cyclesRun() - quiet, 1);

    // Hidden: samples arrive, nothing is drawn.
    b.form->hide();
    feed.start(1);
    const long long hidden = b.form->cyclesRun();
    QTest::qWait(300);
    EXPECT_EQ(b.form->cyclesRun(), hidden);
    // ... and the frame timer ticks only ten times a second, until the
    // window is seen again: then the frames come at their rate at once.
    EXPECT_EQ(b.form->frameIntervalMs(), 100);
    b.form->show();
    QTest::qWait(250);
    EXPECT_EQ(b.form->frameIntervalMs(), 20);
    EXPECT_GE(b.form->cyclesRun() - hidden, 2);
    feed.stop();
    fs::remove_all(dir);
}

TEST(WindowPacing, AMaxRefreshOutsideItsRangeGivesTheDefault) {
    const fs::path dir = freshDir("pace_bad");
    std::ofstream(dir / "Prefs.ini") << "Max_Refresh=1000\n";
    Bench b(dir, FormOptions{true, false, false});
    EXPECT_EQ(b.form->frameRate(), 60);
    fs::remove_all(dir);
}

// ---- Closing ---------------------------------------------------------------------------------

TEST(WindowClosing, TheCloseBoxStoresThePanelAndTheNextStartRestoresIt) {
    const fs::path dir = freshDir("close");
    {
        Bench b(dir);
        b.cycle();  // the power-on restore
        QTest::mouseClick(b.w("Tempo"), Qt::LeftButton);
        QTest::mouseClick(b.w("Inv2"), Qt::LeftButton);
        ASSERT_TRUE(b.in.panel.down(Ctl::Tempo));
        EXPECT_TRUE(b.form->close());  // what the window manager's close box and Alt+F4 do
        EXPECT_TRUE(b.in.terminateRequested());
        EXPECT_FALSE(b.form->isVisible());
    }
    storage::Registry reg(dir / storage::kRegistryFileName);
    reg.load();
    ASSERT_NE(reg.findKey("Software\\Zorvane\\V1_005\\States"), nullptr);
    Bench next(dir);
    ASSERT_FALSE(next.in.panel.down(Ctl::Tempo));
    next.cycle();
    EXPECT_TRUE(next.in.panel.down(Ctl::Tempo));
    EXPECT_TRUE(next.in.panel.down(Ctl::Inv2));
    EXPECT_TRUE(next.in.panel.down(Ctl::Panel29));  // it comes up switched on
    fs::remove_all(dir);
}

TEST(WindowClosing, AWindowWhosePanelCannotBeStoredStaysOpen) {
    const fs::path dir = freshDir("close_fail");
    std::ofstream(dir / "file") << "x";
    Bench b(dir / "file" / "config");  // a folder that cannot be made
    b.cycle();
    EXPECT_FALSE(b.form->close());
    EXPECT_FALSE(b.in.terminateRequested());
    EXPECT_TRUE(b.form->isVisible());
    EXPECT_NE(b.in.st.StatusText.find("not stored"), std::string::npos) << b.in.st.StatusText;
    fs::remove_all(dir);
}

class FakeQuestion : public core::Question {
  public:
    bool ask(std::string_view q) override {
        asked.push_back(std::string(q));
        return answer;
    }
    bool answer = false;
    std::vector<std::string> asked;
};

TEST(WindowClosing, TheResetKeyAsksBeforeItForgetsThePanel) {
    const fs::path dir = freshDir("reset");
    FakeQuestion question;
    {
        Bench b(dir);
        b.in.setQuestion(&question);
        b.cycle();
        QTest::mouseClick(b.w("Tempo"), Qt::LeftButton);
        b.in.panel.userPress(Ctl::Panel29);  // stored, switched off
        ASSERT_TRUE(b.in.terminateRequested());
    }
    {
        Bench b(dir);
        b.in.setQuestion(&question);
        b.cycle();
        ASSERT_TRUE(b.in.panel.down(Ctl::Tempo));
        question.answer = false;
        QTest::mouseClick(b.w("SpeedButton22"), Qt::LeftButton);
        ASSERT_EQ(question.asked.size(), 1u);
        EXPECT_EQ(question.asked[0], "Forget the stored panel and switch off?");
        EXPECT_FALSE(b.in.terminateRequested());  // "No": nothing happens
        question.answer = true;
        QTest::mouseClick(b.w("SpeedButton22"), Qt::LeftButton);
        EXPECT_EQ(question.asked.size(), 2u);
        EXPECT_TRUE(b.in.terminateRequested());
        b.in.setQuestion(nullptr);
    }
    Bench fresh(dir);
    fresh.cycle();
    EXPECT_FALSE(fresh.in.panel.down(Ctl::Tempo));  // the defaults
    EXPECT_TRUE(fresh.in.panel.down(Ctl::Frequenza));
    fs::remove_all(dir);
}

// The loopback test as a user runs it: the settings page shown (so the
// generator's controls are hidden), the key clicked, "Yes" in the question
// box; the simulated card plays in real time, the floor is stored and the
// panel comes back as it was.
TEST(WindowFloor, TheLoopbackKeyOnItsPageAsksMeasuresStoresAndPutsThePanelBack) {
    const fs::path dir = freshDir("floor");
    Bench b(dir, FormOptions{true, false, false}, audio::TimeMode::RealTime);
    QtQuestion question(b.form.get());
    b.in.setQuestion(&question);
    QTest::qWait(300);  // the power-on restore
    if (!b.in.panel.showing(Ctl::PageControl1)) QTest::mouseClick(b.w("fun"), Qt::LeftButton);
    QTest::mouseClick(b.w("PageControl1"), Qt::LeftButton, {}, QPoint(100, 10));  // the second tab
    ASSERT_TRUE(b.in.panel.showing(Ctl::loopback_test));
    ASSERT_FALSE(b.in.panel.acceptsUser(Ctl::genon1));
    const bool generatorWasOn = b.in.panel.down(Ctl::genon1);

    QString asked;
    QTimer answerer;  // answers the question box with its "Yes" key
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked = box->text();
            QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
        }
    });
    answerer.start(20);
    QTest::mouseClick(b.w("loopback_test"), Qt::LeftButton);
    answerer.stop();
    EXPECT_TRUE(asked.startsWith("Loopback test: wire the output to both inputs")) << asked.toStdString();

    const fs::path floorFile = dir / "card-floor.txt";
    QElapsedTimer clock;
    clock.start();
    while (!fs::exists(floorFile) && clock.elapsed() < 20000) QTest::qWait(50);
    ASSERT_TRUE(fs::exists(floorFile)) << b.in.st.StatusText;
    EXPECT_EQ(b.in.st.StatusText.rfind("Loopback test: A THD", 0), 0u) << b.in.st.StatusText;
    // The simulated card's own floor: far below any real card's, and a number.
    const double thd = std::stod(b.in.printField("FloorThdDbA").value_or("nan"));
    EXPECT_LT(thd, -100.0);
    EXPECT_EQ(b.in.panel.down(Ctl::genon1), generatorWasOn);
    EXPECT_TRUE(b.in.panel.showing(Ctl::loopback_test));
    b.in.setQuestion(nullptr);
    fs::remove_all(dir);
}

// A handler that fails on the desktop: the reason in a message box, then the
// program ends with status 1 (a test closes the box as a user would). The
// end is QCoreApplication::exit: from then on no event loop of this process
// runs, modal boxes included, so tests that answer a box come before.
class FailingQuestion : public core::Question {
  public:
    bool ask(std::string_view) override { throw std::runtime_error("the disk is on fire"); }
};

TEST(WindowFailure, AFailedHandlerSaysWhyInAMessageBoxBeforeTheProgramEnds) {
    const fs::path dir = freshDir("failure");
    FailingQuestion question;
    Bench b(dir, FormOptions{false, true, false});
    b.in.setQuestion(&question);
    b.cycle();
    QString shown, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int boxes = 0;
    QTimer closer;  // reads and closes whatever box comes up
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++boxes;
            shown = box->text();
            title = box->windowTitle();
            icon = box->icon();
            box->accept();
        }
    });
    closer.start(20);
    QTimer::singleShot(0, [&] { QTest::mouseClick(b.w("SpeedButton22"), Qt::LeftButton); });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });  // never hang
    ::testing::internal::CaptureStderr();
    QEventLoop loop;
    const int rc = loop.exec();
    const std::string err = ::testing::internal::GetCapturedStderr();
    closer.stop();
    EXPECT_EQ(rc, 1);  // the program ends, with failure
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(title.toStdString(), "Miral");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(shown.toStdString(), failureText("the disk is on fire"));
    EXPECT_NE(shown.toStdString().find("the disk is on fire"), std::string::npos);
    EXPECT_NE(err.find("miral: the disk is on fire"), std::string::npos) << err;
    // Nothing runs after the failure and the panel was not stored.
    const long long cycles = b.form->cyclesRun();
    QTest::qWait(100);
    EXPECT_EQ(b.form->cyclesRun(), cycles);
    EXPECT_FALSE(fs::exists(dir / storage::kRegistryFileName));
    b.in.setQuestion(nullptr);
    fs::remove_all(dir);
}

TEST(WindowFailure, WithoutTheDesktopAFailureIsALineOnStderrOnly) {
    const fs::path dir = freshDir("failure_quiet");
    FailingQuestion question;
    Bench b(dir);  // not interactive: pictures and tests
    b.in.setQuestion(&question);
    b.cycle();
    int boxes = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            ++boxes;
            box->close();
        }
    });
    closer.start(20);
    ::testing::internal::CaptureStderr();
    QTest::mouseClick(b.w("SpeedButton22"), Qt::LeftButton);
    QTest::qWait(100);
    const std::string err = ::testing::internal::GetCapturedStderr();
    closer.stop();
    EXPECT_EQ(boxes, 0);
    EXPECT_NE(err.find("miral: the disk is on fire"), std::string::npos) << err;
    EXPECT_TRUE(b.form->isVisible());
    b.in.setQuestion(nullptr);
    fs::remove_all(dir);
}

// ---- Tooltips ------------------------------------------------------------------------------

// Components that the user never sees: they only keep their place in the
// numbering or are operated by the program itself.
const std::set<std::string> kNeverShown = {
    "SpeedButton7", "SpeedButton13", "SpeedButton14", "generator1_on", "generator1_off",
    "mixerstart",   "totalinfo",     "singleinfo",    "Edit11",        "Edit12",
    "Edit13",       "Edit15",        "Button1",       "tune_all",      "salva",
    "ripristina",   "colo",          "PaintBox4",     "PaintBox5"};

TEST(Tooltips, EveryControlTheUserOperatesSaysWhatItDoesAndNoRangeText) {
    const fs::path dir = freshDir("tips");
    Bench b(dir);
    b.cycle();
    const std::regex rangeText(R"(.*-?\d+#-?\d+.*)");
    int checked = 0;
    for (int i = 0; i < core::kControlCount; ++i) {
        const auto c = static_cast<Ctl>(i);
        const core::ControlDef& d = b.in.panel.def(c);
        QWidget* widget = b.form->control(c);
        if (!widget || kNeverShown.count(d.name)) continue;
        bool operable = false;
        switch (d.kind) {
            case core::Kind::Latch:
            case core::Kind::Button:
            case core::Kind::Knob:
            case core::Kind::Edit:
            case core::Kind::Combo:
            case core::Kind::Check:
            case core::Kind::Radio:
            case core::Kind::TrackBar:
            case core::Kind::PageControl:
                operable = true;
                break;
            default:
                break;
        }
        for (auto e :
             {core::Event::Click, core::Event::DblClick, core::Event::MouseDown, core::Event::MouseMove})
            operable = operable || b.in.panel.binding(c, e) != core::Handler::None;
        if (!operable) continue;
        ++checked;
        const std::string tip = widget->toolTip().toStdString();
        EXPECT_GE(tip.size(), 5u) << d.name;
        EXPECT_FALSE(std::regex_match(tip, rangeText)) << d.name << ": " << tip;
    }
    EXPECT_GT(checked, 200);
    // Knobs show their value with its unit, and follow it.
    EXPECT_NE(b.w("range1")->toolTip().indexOf("/div"), -1) << b.w("range1")->toolTip().toStdString();
    b.in.drawKnob(Ctl::range1, 6);
    b.form->sync();
    EXPECT_NE(b.w("range1")->toolTip().indexOf("500 mV/div"), -1) << b.w("range1")->toolTip().toStdString();
    b.in.drawKnob(Ctl::mainselect, 6);
    b.form->sync();
    EXPECT_NE(b.w("mainselect")->toolTip().indexOf("1 ms/div"), -1);
    // A value that another control changes: the generator's range key x1k
    // makes 440 Hz 4400 Hz, and the Freq knob's tooltip says so at once.
    ASSERT_EQ(b.in.panel.value(Ctl::genfreq), 4400);
    ASSERT_TRUE(b.in.panel.down(Ctl::genx3));
    EXPECT_NE(b.w("genfreq")->toolTip().indexOf(": 440 Hz"), -1) << b.w("genfreq")->toolTip().toStdString();
    b.in.panel.setRequireShowing(false);  // the generator's page need not be shown
    b.form->dispatch([&] { b.in.panel.userPress(Ctl::genx4); });
    b.in.panel.setRequireShowing(true);
    ASSERT_TRUE(b.in.panel.down(Ctl::genx4));
    EXPECT_NE(b.w("genfreq")->toolTip().indexOf(": 4400 Hz"), -1) << b.w("genfreq")->toolTip().toStdString();
    // The views name their keys.
    EXPECT_NE(b.w("Tempo")->toolTip().indexOf("(key T)"), -1);
    EXPECT_NE(b.w("hold")->toolTip().indexOf("Space"), -1);
    fs::remove_all(dir);
}

// ---- Status line and failure banner ------------------------------------------------------

TEST(StatusLine, NamesTheDriverTheDevicesTheRateAndTheFormat) {
    const fs::path dir = freshDir("status");
    Bench b(dir);
    b.cycle();                          // the restore asks for the capture stream
    b.in.panel.timerTick(Ctl::Timer7);  // which the housekeeping tick opens
    b.form->updateStatus();
    const std::string line = b.form->statusText();
    EXPECT_NE(line.find("simulated bench"), std::string::npos) << line;
    EXPECT_NE(line.find("in: Simulated bench, 44100 Hz, float"), std::string::npos) << line;
    EXPECT_NE(line.find("out: Simulated bench"), std::string::npos) << line;
    EXPECT_NE(line.find("overruns 0, underruns 0"), std::string::npos) << line;
    EXPECT_TRUE(b.form->failureBanner()->isHidden());
    fs::remove_all(dir);
}

// A sound card whose streams cannot be opened.
class BrokenCard : public audio::AudioDriver {
  public:
    std::string Name() const override { return "alsa"; }
    bool Open(audio::StreamDirection, const audio::StreamRequest&, std::string& error) override {
        error =
            "the device hw:3,0 is busy or was unplugged; close the other program that uses it, or choose "
            "another card on the settings page, and the instrument will open it again by itself";
        return false;
    }
    bool Start(audio::StreamDirection, std::string&) override { return false; }
    bool Close(audio::StreamDirection, std::string&) override { return true; }
    bool IsRunning(audio::StreamDirection) const override { return false; }
    unsigned int BufferFrames(audio::StreamDirection) const override { return 0; }
};

TEST(FailureBanner, AFailureShowsWrappedOverTheScreenUntilItsCauseIsGone) {
    const fs::path dir = freshDir("banner");
    Bench b(dir);
    b.in.streams().UseDriver(std::make_unique<BrokenCard>());
    b.cycle();
    b.in.panel.timerTick(Ctl::Timer7);
    b.form->sync();
    QLabel* banner = b.form->failureBanner();
    ASSERT_FALSE(banner->isHidden());
    EXPECT_NE(banner->text().indexOf("busy or was unplugged"), -1) << banner->text().toStdString();
    EXPECT_NE(banner->text().indexOf("open it again by itself"), -1);  // the whole text, to its end
    QWidget* screen = b.w("Panel2");
    EXPECT_EQ(banner->parentWidget(), screen);
    EXPECT_EQ(banner->geometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(banner->width(), screen->width());
    // Wrapped onto several lines, all of them inside the banner.
    const int lineHeight = QFontMetrics(banner->font()).lineSpacing();
    EXPECT_GE(banner->height(), 2 * lineHeight);
    EXPECT_GE(banner->height(), banner->heightForWidth(banner->width()));
    EXPECT_LT(banner->height(), screen->height() / 2);
    // What the user sees at the top of the screen: the red banner.
    const QImage seen = screen->grab().toImage();
    const QColor top = seen.pixelColor(3, 3);
    EXPECT_GT(top.red(), 150);
    EXPECT_LT(top.green(), 60);

    // The cause is gone: a card that works; the banner goes.
    ASSERT_TRUE(b.in.streams().SelectDriver("sim", audio::TimeMode::Simulated));
    b.in.st.InputRestartPending = true;
    b.in.panel.timerTick(Ctl::Timer7);
    b.form->sync();
    EXPECT_TRUE(banner->isHidden()) << b.in.st.StreamStatus;
    fs::remove_all(dir);
}

// ---- Scaling ---------------------------------------------------------------------------

// Share of the aligned 2 x 2 blocks of a picture that are not one colour: 0
// for a picture that was drawn small and pixel-doubled.
double unevenBlocks(const QImage& img) {
    int uneven = 0, blocks = 0;
    for (int y = 0; y + 1 < img.height(); y += 2)
        for (int x = 0; x + 1 < img.width(); x += 2) {
            const QRgb c = img.pixel(x, y);
            ++blocks;
            if (img.pixel(x + 1, y) != c || img.pixel(x, y + 1) != c || img.pixel(x + 1, y + 1) != c)
                ++uneven;
        }
    return blocks ? static_cast<double>(uneven) / blocks : 0;
}

TEST(Scaling, ThePanelScalesAsOnePictureWithSharpKnobs) {
    const fs::path dir = freshDir("scale");
    Bench b(dir);
    b.cycle();
    QWidget* knob = b.w("pos1");
    const QImage at100 = knob->grab().toImage();
    ASSERT_EQ(at100.size(), QSize(80, 80));

    b.form->setScalePercent(150);
    EXPECT_DOUBLE_EQ(b.form->scale(), 1.5);
    EXPECT_EQ(b.form->panelArea()->size(), QSize(1272, 1083));
    EXPECT_EQ(knob->size(), QSize(120, 120));
    EXPECT_EQ(b.w("mainselect")->size(), QSize(180, 180));
    EXPECT_EQ(b.w("Tempo")->geometry(),
              QRect(qRound(3 * 1.5), qRound(3 * 1.5), qRound(52 * 1.5) - qRound(3 * 1.5),
                    qRound(27 * 1.5) - qRound(3 * 1.5)));
    EXPECT_DOUBLE_EQ(b.w("Tempo")->font().pointSizeF(), 15.0);
    EXPECT_EQ(knob->grab().toImage().size(), QSize(120, 120));

    b.form->setScalePercent(200);
    EXPECT_EQ(b.form->panelArea()->size(), QSize(1696, 1444));
    const QImage at200 = knob->grab().toImage();
    ASSERT_EQ(at200.size(), QSize(160, 160));
    // Drawn at the size shown, not the small picture doubled.
    EXPECT_GT(unevenBlocks(at200), 0.05);
    const QImage doubled = at100.scaled(160, 160, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    EXPECT_EQ(unevenBlocks(doubled), 0.0);
    // The same face: the dark pointer disc in the middle, the panel's colour in the corner.
    EXPECT_EQ(at200.pixelColor(80, 72).red(), at100.pixelColor(40, 36).red());
    EXPECT_EQ(at200.pixelColor(2, 2), at100.pixelColor(1, 1));

    // The mouse still turns the knob by its angle.
    QTest::mousePress(knob, Qt::LeftButton, {}, QPoint(82, 80));
    QTest::mouseMove(knob, QPoint(80, 4));
    QTest::mouseRelease(knob, Qt::LeftButton, {}, QPoint(80, 4));
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 0);
    QTest::mousePress(knob, Qt::LeftButton, {}, QPoint(82, 80));
    QTest::mouseMove(knob, QPoint(156, 156));
    QTest::mouseRelease(knob, Qt::LeftButton, {}, QPoint(156, 156));
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 100);

    // Back to the designed size.
    b.form->setScalePercent(0);
    EXPECT_EQ(b.form->panelArea()->size(), QSize(848, 722));

    // Every check box's and radio button's caption whole in its box, at
    // every size ("C - Sin Sweep" beside "D - Sqr Sweep" among them).
    for (int percent : {100, 125, 150, 200}) {
        b.form->setScalePercent(percent);
        for (int i = 0; i < core::kControlCount; ++i) {
            const core::ControlDef& d = b.in.panel.def(static_cast<Ctl>(i));
            if (d.kind != core::Kind::Check && d.kind != core::Kind::Radio) continue;
            auto* button = qobject_cast<QAbstractButton*>(b.form->control(static_cast<Ctl>(i)));
            if (button == nullptr || button->text().isEmpty()) continue;
            QStyleOptionButton opt;
            opt.initFrom(button);
            opt.text = button->text();
            const QRect room = button->style()->subElementRect(
                d.kind == core::Kind::Radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents,
                &opt, button);
            EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), room.width())
                << d.name << " \"" << button->text().toStdString() << "\" at " << percent << " %";
        }
    }
    fs::remove_all(dir);
}

TEST(Scaling, TheChosenSizeIsStoredWithThePanel) {
    const fs::path dir = freshDir("scale_store");
    {
        Bench b(dir);
        b.cycle();
        b.form->setScalePercent(125);
        b.in.panel.userPress(Ctl::Panel29);
        ASSERT_TRUE(b.in.terminateRequested());
    }
    Bench next(dir);
    next.cycle();
    EXPECT_DOUBLE_EQ(next.form->scale(), 1.25);
    EXPECT_EQ(next.form->panelArea()->width(), 1060);
    fs::remove_all(dir);
}

TEST(Scaling, TheWindowAlwaysFitsItsScreen) {
    const fs::path dir = freshDir("scale_fit");
    Bench b(dir, FormOptions{false, true, false});
    b.cycle();
    b.in.setColorChooser(nullptr);
    const QRect avail = b.form->screen()->availableGeometry();
    for (int percent : {100, 200}) {
        b.form->setScalePercent(percent);
        QApplication::processEvents();
        EXPECT_LE(b.form->frameGeometry().width(), avail.width()) << percent;
        EXPECT_LE(b.form->frameGeometry().height(), avail.height()) << percent;
        EXPECT_TRUE(avail.contains(b.form->frameGeometry())) << percent;
    }
    fs::remove_all(dir);
}

// ---- Wheel and keys --------------------------------------------------------------------------

void wheel(QWidget* widget, int delta, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QPointF at(widget->width() / 2.0, widget->height() / 4.0);
    QWheelEvent e(at, widget->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &e);
}

TEST(KnobInput, TheWheelAndTheKeysTurnAKnobByItsSteps) {
    const fs::path dir = freshDir("wheel");
    Bench b(dir);
    b.cycle();
    QWidget* pos = b.w("pos1");
    b.in.drawKnob(Ctl::pos1, 0);
    wheel(pos, 120);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 1);
    wheel(pos, -240);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), -1);
    wheel(pos, 120, Qt::ShiftModifier);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 9);
    // A fine wheel: four small turns of a quarter notch make one step.
    for (int k = 0; k < 3; ++k) wheel(pos, 30);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 9);
    wheel(pos, 30);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 10);

    pos->setFocus();
    QTest::keyClick(pos, Qt::Key_Up);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 11);
    QTest::keyClick(pos, Qt::Key_Left);
    QTest::keyClick(pos, Qt::Key_Down);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 9);
    QTest::keyClick(pos, Qt::Key_PageUp);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 19);
    QTest::keyClick(pos, Qt::Key_End);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 100);
    QTest::keyClick(pos, Qt::Key_Up);  // stops at the end of the scale
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), 100);
    QTest::keyClick(pos, Qt::Key_Home);
    EXPECT_EQ(b.in.panel.value(Ctl::pos1), -100);

    // The knob's own handler runs: the time base follows the wheel.
    QTest::mouseClick(b.w("Tempo"), Qt::LeftButton);
    b.in.drawKnob(Ctl::mainselect, 4);
    b.in.cambia_frequenzaClick();
    const int rate10ms = b.in.st.TimeBaseRate;
    wheel(b.w("mainselect"), 120);
    EXPECT_EQ(b.in.panel.value(Ctl::mainselect), 5);
    EXPECT_EQ(b.in.st.TimeBaseStep, 5);
    EXPECT_NE(rate10ms, 0);
    fs::remove_all(dir);
}

TEST(KnobInput, APressNearTheCentreDoesNotTurnTheKnob) {
    const fs::path dir = freshDir("centre");
    Bench b(dir);
    b.cycle();
    QWidget* range = b.w("range1");
    b.in.drawKnob(Ctl::range1, 6);
    const QPoint c(range->width() / 2, range->height() / 2);
    QTest::mousePress(range, Qt::LeftButton, {}, c + QPoint(2, 1));
    for (QPoint to : {QPoint(-2, 0), QPoint(4, 4), QPoint(0, -6), QPoint(-3, 5)})
        QTest::mouseMove(range, c + to);
    QTest::mouseRelease(range, Qt::LeftButton, {}, c + QPoint(-3, 5));
    EXPECT_EQ(b.in.panel.value(Ctl::range1), 6);
    // Further out the knob follows the mouse's angle: straight left is position 1.
    QTest::mousePress(range, Qt::LeftButton, {}, c + QPoint(1, 0));
    QTest::mouseMove(range, c + QPoint(-40, 0));
    QTest::mouseRelease(range, Qt::LeftButton, {}, c + QPoint(-40, 0));
    EXPECT_EQ(b.in.panel.value(Ctl::range1), 1);
    fs::remove_all(dir);
}

TEST(Shortcuts, EachViewAndTheCommonKeysHaveOne) {
    const fs::path dir = freshDir("keys");
    Bench b(dir);
    b.cycle();
    b.form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(b.form.get()));
    auto key = [&](int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(b.form.get(), static_cast<Qt::Key>(k), mods);
    };
    key(Qt::Key_T);
    EXPECT_TRUE(b.in.panel.down(Ctl::Tempo));
    // The channel modes (in the time view).
    key(Qt::Key_A);
    EXPECT_TRUE(b.in.panel.down(Ctl::modea));
    key(Qt::Key_A);
    EXPECT_TRUE(b.in.panel.down(Ctl::modeab));
    key(Qt::Key_B);
    EXPECT_TRUE(b.in.panel.down(Ctl::modeb));
    key(Qt::Key_B);
    EXPECT_TRUE(b.in.panel.down(Ctl::modeab));
    key(Qt::Key_X);
    EXPECT_TRUE(b.in.panel.down(Ctl::trasf));
    key(Qt::Key_Z);
    EXPECT_TRUE(b.in.panel.down(Ctl::zeta));
    key(Qt::Key_F);
    EXPECT_TRUE(b.in.panel.down(Ctl::Frequenza));
    // "B" alone exists only in the time view: the key says so instead of nothing.
    key(Qt::Key_B);
    EXPECT_FALSE(b.in.panel.down(Ctl::modeb));
    EXPECT_NE(b.in.st.StatusText.find("\"B\" is not available in this view"), std::string::npos)
        << b.in.st.StatusText;
    key(Qt::Key_Space);
    EXPECT_TRUE(b.in.panel.down(Ctl::hold));
    key(Qt::Key_Space);
    EXPECT_FALSE(b.in.panel.down(Ctl::hold));
    // The generator's key works while its panel is not shown.
    QTest::mouseClick(b.w("fun"), Qt::RightButton);  // the settings pages
    ASSERT_FALSE(b.in.panel.showing(Ctl::genon1));
    const bool generatorOn = b.in.panel.down(Ctl::genon1);
    key(Qt::Key_G);
    EXPECT_NE(b.in.panel.down(Ctl::genon1), generatorOn);
    key(Qt::Key_G);
    EXPECT_EQ(b.in.panel.down(Ctl::genon1), generatorOn);
    const int divider = b.in.st.FftDivider;
    key(Qt::Key_Minus);
    EXPECT_EQ(b.in.st.FftDivider, divider * 2);
    key(Qt::Key_Plus);
    EXPECT_EQ(b.in.st.FftDivider, divider);
    key(Qt::Key_F11);
    EXPECT_TRUE(b.in.st.EnlargedScreen);
    // The marker handles show only when the markers are shown, enlarged or
    // not, and nothing of the hidden panels shows below the strip.
    auto handlesAsTheModelSays = [&] {
        for (Ctl h : {Ctl::mark1x, Ctl::mark2x, Ctl::mark3x, Ctl::mark4x})
            EXPECT_EQ(b.form->control(h)->isVisible(), b.in.panel.visible(h)) << b.in.panel.def(h).name;
    };
    handlesAsTheModelSays();
    {
        const QRect strip = b.form->control(Ctl::Panel1)->geometry();
        EXPECT_EQ(strip.bottom() + 1, b.form->panelArea()->height());
        EXPECT_EQ(strip.right() + 1, b.form->panelArea()->width());
    }
    const Ctl sideArea[] = {Ctl::pan1, Ctl::pan2a, Ctl::pan2b, Ctl::pan3, Ctl::PageControl1};
    for (Ctl c : sideArea) EXPECT_FALSE(b.form->control(c)->isVisible()) << b.in.panel.def(c).name;
    // On the enlarged screen the keys still change the view.
    key(Qt::Key_T);
    b.in.panel.timerTick(Ctl::Timer7);  // the strip's copies drive the main keys
    EXPECT_TRUE(b.in.panel.down(Ctl::Tempo));
    key(Qt::Key_F11);
    EXPECT_FALSE(b.in.st.EnlargedScreen);
    handlesAsTheModelSays();
    for (Ctl c : sideArea)
        EXPECT_EQ(b.form->control(c)->isVisible(), b.in.panel.visible(c)) << b.in.panel.def(c).name;
    // The panel's size, by the keys the README names (each bound once: a key
    // bound twice is ambiguous to Qt and does nothing).
    key(Qt::Key_0, Qt::ControlModifier);
    const int desktop = b.form->chosenScalePercent();
    key(Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_GT(b.form->chosenScalePercent(), desktop);
    key(Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(b.form->chosenScalePercent(), desktop);
    key(Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_GT(b.form->chosenScalePercent(), desktop);
    key(Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(b.form->chosenScalePercent(), desktop);
    // Ctrl+S is the Save key: it asks for a name.
    struct Asked : core::SaveDialog {
        int count = 0;
        std::optional<std::string> choose(std::string_view, std::string_view) override {
            ++count;
            return std::nullopt;
        }
    } asked;
    b.in.setSaveDialog(&asked);
    key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(asked.count, 1);
    b.in.setSaveDialog(nullptr);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace miral::app
