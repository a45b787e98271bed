// SPDX-License-Identifier: GPL-3.0-or-later
// The front panel window driven as a user would: real widgets found by name,
// real mouse events (QTest), the model checked behind them and the pictures
// the window shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "app/cli.h"
#include "app/form1.h"
#include "app/headless.h"
#include "app/panel_canvases.h"
#include "app/panel_widgets.h"
#include "core/instrument.h"
#include "storage/preferences.h"
#include "support/fresh_dir.h"

namespace miral::app {
namespace {

using core::Ctl;
namespace fs = std::filesystem;

fs::path freshDir(const char* tag) {
    return testing::freshDir("miral_window_", tag);
}

class FakeChooser : public core::ColorChooser {
  public:
    std::optional<display::Color> choose(display::Color initial) override {
        ++calls;
        offered = initial;
        return answer;
    }
    int calls = 0;
    display::Color offered = 0;
    std::optional<display::Color> answer;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = freshDir("gui");
        in_.setConfigDir(dir_);  // no Prefs.ini there
        // The simulated bench and its own mixer: moving a level slider here must
        // not change the volumes of the machine's (or the test server's) sound card.
        ASSERT_TRUE(in_.streams().SelectDriver("sim", audio::TimeMode::Simulated));
        in_.useMixerOfDriver();
        canvases_ = std::make_unique<PanelCanvases>(in_);
        in_.FormCreate();
        form_ = std::make_unique<TForm1>(in_, *canvases_, FormOptions{false, false});
        in_.setColorChooser(&chooser_);
        form_->show();
    }
    void TearDown() override {
        form_.reset();
        canvases_.reset();
        fs::remove_all(dir_);
    }

    QWidget* w(const char* name) {
        auto* found = form_->findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void click(const char* name, Qt::MouseButton b = Qt::LeftButton) { QTest::mouseClick(w(name), b); }
    bool down(Ctl c) const { return in_.panel.down(c); }
    // The colour the user sees at a point of a widget.
    static QColor seen(QWidget* widget, QPoint p) { return widget->grab().toImage().pixelColor(p); }

    fs::path dir_;
    core::Instrument in_;
    FakeChooser chooser_;
    std::unique_ptr<PanelCanvases> canvases_;
    std::unique_ptr<TForm1> form_;
};

// ---- The panel as built ------------------------------------------------------------

TEST_F(WindowTest, EveryControlHasItsWidgetAtItsPlaceInItsParent) {
    EXPECT_EQ(form_->objectName(), "Form1");
    EXPECT_EQ(form_->windowTitle(), "Miral");
    EXPECT_EQ(form_->panelArea()->size(), QSize(848, 722));
    int widgets = 0;
    for (int i = 0; i < core::kControlCount; ++i) {
        const auto c = static_cast<Ctl>(i);
        const core::ControlDef& d = in_.panel.def(c);
        QWidget* widget = form_->control(c);
        const bool needsWidget = d.kind != core::Kind::Timer && d.kind != core::Kind::ColorDialog &&
                                 d.kind != core::Kind::SaveDialog;
        ASSERT_EQ(widget != nullptr, needsWidget) << d.name;
        if (!widget) continue;
        ++widgets;
        EXPECT_EQ(widget->objectName().toStdString(), d.name);
        QWidget* parent = d.parent == Ctl::Form1 ? form_->panelArea() : form_->control(d.parent);
        EXPECT_EQ(widget->parentWidget(), parent) << d.name;
        const core::ControlState& s = in_.panel.state(c);
        if (d.kind != core::Kind::TabSheet) {
            EXPECT_EQ(widget->geometry(), QRect(s.left, s.top, s.width, s.height)) << d.name;
        }
        EXPECT_EQ(!widget->isHidden(), s.visible && (d.kind != core::Kind::TabSheet || c == Ctl::TabSheet1))
            << d.name;
    }
    EXPECT_EQ(widgets, core::kControlCount - 5);  // all but the three timers and two dialogs
    // The title strip reads as designed, yellow on its own colour.
    QWidget* title = w("Label3");
    EXPECT_EQ(seen(title, QPoint(title->width() - 3, 7)), QColor(128, 0, 64));
    // Knob images say what they do and their value, never their range text.
    EXPECT_TRUE(w("pos1")->toolTip().startsWith("Channel A vertical position: "))
        << w("pos1")->toolTip().toStdString();
    EXPECT_FALSE(w("pos1")->toolTip().contains("-100#100"));
    EXPECT_FALSE(w("mainselect")->toolTip().contains("0#8"));
    EXPECT_EQ(w("cc3")->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(WindowTest, StartingWithoutPrefsIniGivesTheDefaultProbeNames) {
    auto* combo = qobject_cast<QComboBox*>(w("ComboBox5"));
    ASSERT_NE(combo, nullptr);
    const QStringList expected = {"Shunt 1", "Shunt 2", "Shunt 3", "Shunt 4", "Probe 1",
                                  "Probe 2", "Probe 3", "Probe 4", "User 1",  "User 2"};
    ASSERT_EQ(combo->count(), expected.size());
    for (int i = 0; i < combo->count(); ++i) EXPECT_EQ(combo->itemText(i), expected[i]);
    EXPECT_EQ(combo->currentText(), "Shunt 2");
}

// ---- Keys --------------------------------------------------------------------------------

TEST_F(WindowTest, ALatchingKeyReleasesTheOthersOfItsGroupAndShowsLit) {
    const QColor upFace = seen(w("trignorm"), QPoint(4, 4));
    click("trignorm");
    EXPECT_TRUE(down(Ctl::trignorm));
    EXPECT_FALSE(down(Ctl::trigauto));
    EXPECT_FALSE(down(Ctl::trigsingle));
    const QColor litFace = seen(w("trignorm"), QPoint(4, 4));
    EXPECT_NE(litFace, upFace);
    EXPECT_EQ(seen(w("trigauto"), QPoint(4, 4)), upFace);  // the released key shows up again
    // Clicking the down key of a group that must keep one key down changes nothing.
    click("trignorm");
    EXPECT_TRUE(down(Ctl::trignorm));
    EXPECT_FALSE(down(Ctl::trigauto));
}

TEST_F(WindowTest, AnAllUpGroupCanBeEmptied) {
    ASSERT_TRUE(down(Ctl::hann));
    click("flat");
    EXPECT_TRUE(down(Ctl::flat));
    EXPECT_FALSE(down(Ctl::hann));
    click("flat");
    for (Ctl c : {Ctl::hann, Ctl::hamm, Ctl::flat, Ctl::black, Ctl::nuttal}) EXPECT_FALSE(down(c));
}

TEST_F(WindowTest, ACaptionWithoutHandlerLetsTheClickThroughToItsKey) {
    // Label205 ("x10") lies over dc1; the press goes through the window system
    // and must reach the key below.
    QWidget* label = w("Label205");
    EXPECT_TRUE(label->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_FALSE(w("Label135")->testAttribute(Qt::WA_TransparentForMouseEvents));  // "+" has its own handler
    const QPoint at = label->mapTo(form_.get(), label->rect().center());
    QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(down(Ctl::dc1));
    QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_FALSE(down(Ctl::dc1));
}

TEST_F(WindowTest, CheckBoxesAndRadiosChangeOnlyThroughTheModel) {
    auto* split = qobject_cast<QCheckBox*>(w("split1"));
    ASSERT_TRUE(split->isChecked());
    click("split1");
    EXPECT_FALSE(in_.panel.checked(Ctl::split1));
    EXPECT_FALSE(split->isChecked());
    click("tic3");
    EXPECT_TRUE(in_.panel.checked(Ctl::tic3));
    EXPECT_FALSE(in_.panel.checked(Ctl::tic1));
    EXPECT_FALSE(qobject_cast<QRadioButton*>(w("tic1"))->isChecked());
    EXPECT_TRUE(qobject_cast<QRadioButton*>(w("tic3"))->isChecked());
    // A disabled control refuses the user, whatever the widget would do.
    in_.panel.setEnabled(Ctl::split2, false);
    form_->sync();
    EXPECT_FALSE(w("split2")->isEnabled());
    click("split2");
    EXPECT_TRUE(in_.panel.checked(Ctl::split2));
    // Model changes show without any handler running.
    in_.panel.setChecked(Ctl::CheckBox3, true);
    form_->sync();
    EXPECT_TRUE(qobject_cast<QCheckBox*>(w("CheckBox3"))->isChecked());
}

TEST_F(WindowTest, EditsCombosTrackBarsAndPagesReachTheModel) {
    // The preferences are on the second page; a control of a page that is
    // not shown refuses the user, and its widget goes back to the model.
    auto* edit = qobject_cast<QLineEdit*>(w("Edit9"));
    edit->selectAll();
    QTest::keyClicks(edit, "7");
    EXPECT_EQ(in_.panel.text(Ctl::Edit9), "10");
    EXPECT_EQ(edit->text(), "10");

    QWidget* pages = w("PageControl1");
    QTest::mouseClick(pages, Qt::LeftButton, {}, QPoint(pages->width() - 40, 10));
    EXPECT_EQ(in_.panel.position(Ctl::PageControl1), 1);
    EXPECT_TRUE(w("TabSheet2")->isVisible());
    EXPECT_FALSE(w("TabSheet1")->isVisible());

    edit->selectAll();
    QTest::keyClicks(edit, "22.5");
    EXPECT_EQ(in_.panel.text(Ctl::Edit9), "22.5");

    auto* rate = qobject_cast<QComboBox*>(w("ComboBox2"));
    QTest::keyClick(rate, Qt::Key_End);
    EXPECT_EQ(in_.panel.itemText(Ctl::ComboBox2), "192000");

    auto* level = qobject_cast<QSlider*>(w("output_bar"));
    ASSERT_NE(in_.panel.position(Ctl::output_bar), 0);
    QTest::keyClick(level, Qt::Key_Home);
    EXPECT_EQ(in_.panel.position(Ctl::output_bar), 0);
    in_.panel.setPosition(Ctl::output_bar, 1234);
    form_->sync();
    EXPECT_EQ(level->value(), 1234);
    // Disabled: the slider moves back to the model's position.
    in_.panel.setEnabled(Ctl::output_bar, false);
    level->setValue(99);  // as the toolkit would on a stray event
    EXPECT_EQ(in_.panel.position(Ctl::output_bar), 1234);
    EXPECT_EQ(level->value(), 1234);

    QTest::mouseClick(pages, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(in_.panel.position(Ctl::PageControl1), 0);
    EXPECT_TRUE(w("TabSheet1")->isVisible());
}

// ---- Knobs --------------------------------------------------------------------------------

// The value a drag to (x, y) gives: the angle of the point around the
// centre, the scale running 270 degrees clockwise from 225 degrees.
int expectedKnobValue(int width, int height, int lo, int hi, int x, int y) {
    const double dx = x - width / 2, dy = height / 2 - y;
    double a = std::asin(dy / std::hypot(dx, dy)) * 180.0 / M_PI;
    if (dx < 0) a = 180.0 - a;
    if (a >= 225) return lo;
    if (a <= -45) return hi;
    return static_cast<int>(std::trunc((225.0 - a) * (hi - lo) / 270.0 + lo + 0.5));
}

void drag(QWidget* knob, QPoint to) {
    QTest::mousePress(knob, Qt::LeftButton, {}, QPoint(knob->width() / 2 + 1, knob->height() / 2));
    QTest::mouseMove(knob, to);
    QTest::mouseRelease(knob, Qt::LeftButton, {}, to);
}

TEST_F(WindowTest, DraggingAKnobSetsTheValueOfTheMouseAngle) {
    QWidget* knob = w("pos1");
    const QImage before = knob->grab().toImage();
    drag(knob, QPoint(40, 2));  // straight up
    EXPECT_EQ(in_.panel.value(Ctl::pos1), 0);
    const QImage middle = knob->grab().toImage();
    EXPECT_NE(before, middle);  // the pointer moved on screen
    drag(knob, QPoint(2, 78));  // dead zone, left
    EXPECT_EQ(in_.panel.value(Ctl::pos1), -100);
    drag(knob, QPoint(78, 78));  // dead zone, right
    EXPECT_EQ(in_.panel.value(Ctl::pos1), 100);
    for (QPoint p : {QPoint(10, 30), QPoint(25, 5), QPoint(60, 8), QPoint(79, 45), QPoint(13, 50)}) {
        drag(knob, p);
        EXPECT_EQ(in_.panel.value(Ctl::pos1), expectedKnobValue(80, 80, -100, 100, p.x(), p.y()))
            << p.x() << "," << p.y();
    }
    // A stepped knob: the angle of position 3 of range1's eight.
    QWidget* range = w("range1");
    const double a = (225.0 - 3 * 270.0 / 7) * M_PI / 180.0;
    const QPoint p(50 + static_cast<int>(std::lround(40 * std::cos(a))),
                   50 - static_cast<int>(std::lround(40 * std::sin(a))));
    drag(range, p);
    EXPECT_EQ(in_.panel.value(Ctl::range1), 3);
}

TEST_F(WindowTest, MovingOverAKnobWithoutTheButtonDoesNotTurnIt) {
    QWidget* knob = w("pos1");
    drag(knob, QPoint(40, 2));
    ASSERT_EQ(in_.panel.value(Ctl::pos1), 0);
    QMouseEvent move(QEvent::MouseMove, QPointF(78, 78), knob->mapToGlobal(QPointF(78, 78)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(knob, &move);
    EXPECT_EQ(in_.panel.value(Ctl::pos1), 0);
}

// ---- Screen, side area ------------------------------------------------------------------

void doubleClick(QWidget* widget, QPoint p) {
    QTest::mousePress(widget, Qt::LeftButton, {}, p);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, p);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, p);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, p);
}

TEST_F(WindowTest, DoubleClickingTheScreenEnlargesItAndASecondRestoresTheExactSize) {
    QWidget* screen = w("screen");
    QWidget* area = form_->panelArea();
    const QRect normal = screen->geometry();
    ASSERT_EQ(normal, QRect(0, 1, 585, 418));
    const QPoint side(760, 200);  // in the side area
    ASSERT_FALSE(screen->isAncestorOf(area->childAt(side)));

    doubleClick(w("PaintBox1"), QPoint(100, 100));
    EXPECT_TRUE(in_.st.EnlargedScreen);
    EXPECT_EQ(screen->geometry(), QRect(0, 1, 840, (848 - 6) * 418 / 585));
    EXPECT_EQ(w("PaintBox1")->size(), QSize(840 - 18, (848 - 6) * 418 / 585 - 18));
    EXPECT_TRUE(screen->isAncestorOf(area->childAt(side)));  // above the side panels
    EXPECT_TRUE(w("Panel1")->isVisible());
    EXPECT_TRUE(w("Panel1")->isAncestorOf(area->childAt(QPoint(100, 640))) ||
                area->childAt(QPoint(100, 640)) == w("Panel1"));
    EXPECT_FALSE(w("PageControl1")->isVisible());
    EXPECT_FALSE(w("SpeedButton22")->isVisible());

    doubleClick(w("PaintBox1"), QPoint(100, 100));
    EXPECT_FALSE(in_.st.EnlargedScreen);
    EXPECT_EQ(screen->geometry(), normal);
    EXPECT_FALSE(w("Panel1")->isVisible());
    EXPECT_FALSE(screen->isAncestorOf(area->childAt(side)));
    EXPECT_TRUE(w("SpeedButton22")->isVisible());
}

TEST_F(WindowTest, FunCyclesTheSideAreaAndARightClickReturnsToTheSettings) {
    auto sideShown = [&] {
        return std::array<bool, 4>{w("PageControl1")->isVisible(), w("pan1")->isVisible(),
                                   w("pan2a")->isVisible(), w("pan2b")->isVisible()};
    };
    using S = std::array<bool, 4>;
    click("fun", Qt::RightButton);
    EXPECT_EQ(sideShown(), (S{true, false, false, false}));
    EXPECT_FALSE(down(Ctl::fun));
    click("fun");
    EXPECT_EQ(sideShown(), (S{false, true, false, false}));
    EXPECT_FALSE(down(Ctl::fun));  // released after every press
    click("fun");
    EXPECT_EQ(sideShown(), (S{false, false, true, true}));
    click("fun");
    EXPECT_EQ(sideShown(), (S{true, false, false, false}));
    click("fun");
    click("fun", Qt::RightButton);  // from the tuner straight back
    EXPECT_EQ(sideShown(), (S{true, false, false, false}));
    EXPECT_EQ(form_->panelArea()->width(), 848);
}

TEST_F(WindowTest, TheWindowFollowsTheFormSizeAndShowsTheStatusLine) {
    in_.panel.setFormSize(680, 722);
    form_->sync();
    EXPECT_EQ(form_->panelArea()->size(), QSize(680, 722));
    EXPECT_EQ(form_->width(), 680);
    EXPECT_EQ(form_->panelImage().size(), QSize(680, 722));
    const int height = form_->height();
    EXPECT_GT(height, 722);  // the status line below the panel
    in_.st.StatusText = "Capture stream could not be opened";
    form_->sync();
    // The message follows the line with the driver and the streams; the line
    // shows it first, and the window keeps its size.
    EXPECT_TRUE(QString::fromStdString(form_->statusText()).startsWith("simulated bench   in: "))
        << form_->statusText();
    EXPECT_TRUE(QString::fromStdString(form_->statusText()).endsWith("\nCapture stream could not be opened"));
    EXPECT_TRUE(form_->statusLine()->text().startsWith("Capture stream could not be opened"))
        << form_->statusLine()->text().toStdString();
    EXPECT_EQ(form_->statusLine()->toolTip().toStdString(), form_->statusText());
    EXPECT_EQ(form_->height(), height);
    in_.st.StatusText = std::string(400, 'x');  // far longer than the line
    form_->sync();
    EXPECT_EQ(form_->height(), height);
}

// Every control the model shows can be reached by the mouse at its centre:
// nothing else lies over it, except a caption label that takes its clicks.
// With MIRAL_PANEL_SHOTS=DIR the pictures of each arrangement are written there.
class LayoutTest : public WindowTest {
  protected:
    // only: check just the controls inside these (the enlarged screen lies
    // over everything else on purpose).
    void checkReachable(const std::string& arrangement, std::vector<QWidget*> only = {}) {
        QWidget* area = form_->panelArea();
        int checked = 0;
        for (int i = 0; i < core::kControlCount; ++i) {
            const auto c = static_cast<Ctl>(i);
            QWidget* widget = form_->control(c);
            if (!widget || !in_.panel.showing(c)) continue;
            if (widget->testAttribute(Qt::WA_TransparentForMouseEvents)) continue;
            if (!only.empty() && std::none_of(only.begin(), only.end(), [&](QWidget* o) {
                    return o == widget || o->isAncestorOf(widget);
                }))
                continue;
            const QRect r(widget->mapTo(area, QPoint(0, 0)), widget->size());
            EXPECT_TRUE(area->rect().contains(r))
                << arrangement << ": " << controlName(c) << " leaves the window";
            ASSERT_TRUE(widget->isVisible()) << arrangement << ": " << controlName(c);
            // The centre and the corners (keys and boxes are small: any
            // overlap shows).
            const int inset = std::min({3, r.width() / 2, r.height() / 2});
            const QRect in = r.adjusted(inset, inset, -inset, -inset);
            // A readout label may sit in the empty corner of a knob image.
            const bool image = in_.panel.def(c).kind == core::Kind::Knob;
            // The marker handles ride on the strip below the screen by design.
            const bool strip = c == Ctl::PaintBox4 || c == Ctl::PaintBox5;
            for (QPoint at : {in.center(), in.topLeft(), in.topRight(), in.bottomLeft(), in.bottomRight()}) {
                QWidget* hit = area->childAt(at);
                const auto* hitView =
                    hit ? form_->view(core::findControl(hit->objectName().toStdString())) : nullptr;
                const bool cornerLabel = image && at != in.center() && hitView &&
                                         in_.panel.def(hitView->ctl()).kind == core::Kind::Label;
                const bool handle = strip && hit && hit->objectName().startsWith(QLatin1String("mark"));
                const bool reached = hit == widget || widget->isAncestorOf(hit) || cornerLabel || handle ||
                                     (hit && hit->geometry() == widget->geometry() &&
                                      hit->parentWidget() == widget->parentWidget());
                EXPECT_TRUE(reached) << arrangement << ": " << controlName(c) << " is covered by "
                                     << (hit ? hit->objectName().toStdString() : "nothing") << " at "
                                     << at.x() << "," << at.y();
            }
            ++checked;
        }
        EXPECT_GT(checked, 30) << arrangement;
        if (const QByteArray dir = qgetenv("MIRAL_PANEL_SHOTS"); !dir.isEmpty())
            form_->panelImage().save(QString::fromLocal8Bit(dir) + "/" + QString::fromStdString(arrangement) +
                                     ".png");
    }
};

TEST_F(LayoutTest, EveryShownControlIsReachableInEveryArrangement) {
    click("fun", Qt::RightButton);
    checkReachable("settings");
    QWidget* pages = w("PageControl1");
    QTest::mouseClick(pages, Qt::LeftButton, {}, QPoint(pages->width() - 40, 10));
    ASSERT_EQ(in_.panel.position(Ctl::PageControl1), 1);
    checkReachable("preferences");
    click("fun");
    checkReachable("tuner");
    click("fun");
    checkReachable("generators");
    doubleClick(w("PaintBox1"), QPoint(50, 50));
    ASSERT_TRUE(in_.st.EnlargedScreen);
    checkReachable("enlarged", {w("screen"), w("Panel1")});
}

// ---- Colours ------------------------------------------------------------------------------

TEST_F(WindowTest, SwatchesAskTheColourDialogOnlyForAPersonalScheme) {
    auto* schemes = qobject_cast<QComboBox*>(w("ComboBox1"));
    QTest::keyClick(schemes, Qt::Key_Home);  // "DEFAULT"
    ASSERT_EQ(in_.panel.itemText(Ctl::ComboBox1), "DEFAULT");
    click("cc3");
    EXPECT_EQ(chooser_.calls, 0);  // the default scheme cannot be edited: no dialog

    QTest::keyClick(schemes, Qt::Key_Down);  // "PERSONAL 1"
    ASSERT_EQ(in_.panel.itemText(Ctl::ComboBox1), "PERSONAL 1");
    const display::Color before = in_.panel.color(Ctl::cc3);
    const QColor shownBefore = seen(w("cc3"), QPoint(w("cc3")->width() / 2, w("cc3")->height() / 2));
    chooser_.answer.reset();  // cancelled
    click("cc3");
    EXPECT_EQ(chooser_.calls, 1);
    EXPECT_EQ(chooser_.offered, before);
    EXPECT_EQ(in_.panel.color(Ctl::cc3), before);
    EXPECT_EQ(in_.schemeColor(1, 3), before);

    chooser_.answer = display::rgb(10, 200, 30);
    click("cc3");
    EXPECT_EQ(in_.panel.color(Ctl::cc3), display::rgb(10, 200, 30));
    const QColor shownAfter = seen(w("cc3"), QPoint(w("cc3")->width() / 2, w("cc3")->height() / 2));
    EXPECT_NE(shownAfter, shownBefore);
    EXPECT_EQ(shownAfter, QColor(10, 200, 30));
}

// ---- Pictures -------------------------------------------------------------------------------

TEST(WindowShot, TheHeadlessRunnerWritesThePanelAtItsSize) {
    const fs::path dir = freshDir("shot");
    Options o;
    o.headless = true;
    o.configDir = dir.string();
    o.audio = "sim";
    o.steps.push_back({Step::Kind::WindowShot, (dir / "panel.png").string()});
    o.steps.push_back({Step::Kind::Set, "Tempo=1"});
    o.steps.push_back({Step::Kind::WindowShot, (dir / "panel.jpg").string()});
    ASSERT_EQ(runHeadless(o), 0);
    const QImage png(QString::fromStdString((dir / "panel.png").string()));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.height(), 722);
    EXPECT_TRUE(png.width() == 848 || png.width() == 680) << png.width();
    // The panel's own colours where nothing lies over it.
    EXPECT_EQ(png.pixelColor(png.width() - 2, 719), QColor(131, 148, 142));
    EXPECT_EQ(png.pixelColor(234, 429), QColor(128, 0, 64));  // the title strip
    const QImage jpg(QString::fromStdString((dir / "panel.jpg").string()));
    ASSERT_FALSE(jpg.isNull());
    EXPECT_EQ(jpg.size(), png.size());

    Options bad = o;
    bad.steps = {{Step::Kind::WindowShot, (dir / "panel.bmp").string()}};
    EXPECT_EQ(runHeadless(bad), 2);
    EXPECT_FALSE(fs::exists(dir / "panel.bmp"));
    fs::remove_all(dir);
}

// ---- Status line ----------------------------------------------------------------------------

TEST(WindowStatus, AConfigurationFolderThatCannotBeMadeIsNamedAtOnce) {
    const fs::path dir = freshDir("noconfig");
    std::ofstream(dir / "config") << "a file where a folder should be\n";
    std::string problem;
    const fs::path config = storage::configDirectory(dir / "config" / "miral", &problem);
    ASSERT_FALSE(problem.empty());
    core::Instrument in;
    in.setConfigDir(config, problem);
    ASSERT_TRUE(in.streams().SelectDriver("sim", audio::TimeMode::Simulated));
    in.useMixerOfDriver();
    PanelCanvases canvases(in);
    in.FormCreate();
    {
        TForm1 form(in, canvases, FormOptions{false, false});
        form.show();
        form.sync();
        const std::string shown = form.statusText();
        EXPECT_NE(shown.find("cannot create the configuration folder " + (dir / "config" / "miral").string()),
                  std::string::npos)
            << shown;
        EXPECT_NE(shown.find("nothing is stored"), std::string::npos) << shown;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace miral::app
