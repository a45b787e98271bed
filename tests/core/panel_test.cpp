// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/panel.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/panel_readers.h"

namespace miral::core {
namespace {

// The component numbers are what the stored panel state refers to; a change
// here must be a conscious one (it voids every stored panel).
TEST(PanelTable, NumberingIsStable) {
    EXPECT_EQ(kControlCount, 346);
    EXPECT_EQ(idx(Ctl::screen), 0);
    EXPECT_EQ(idx(Ctl::PaintBox1), 2);
    EXPECT_EQ(idx(Ctl::Panel29), 13);
    EXPECT_EQ(idx(Ctl::hann), 25);
    EXPECT_EQ(idx(Ctl::pos1), 40);
    EXPECT_EQ(idx(Ctl::mainselect), 59);
    EXPECT_EQ(idx(Ctl::ComboBox5), 86);
    EXPECT_EQ(idx(Ctl::Tempo), 90);
    EXPECT_EQ(idx(Ctl::genfreq), 143);
    EXPECT_EQ(idx(Ctl::cc1), 190);
    EXPECT_EQ(idx(Ctl::Edit14), 256);
    EXPECT_EQ(idx(Ctl::master_bar), 279);
    EXPECT_EQ(idx(Ctl::Timer10), 333);
    EXPECT_EQ(idx(Ctl::csvexport), 334);  // added at the end: the numbers before it stay
    // The distortion analyzer's controls came after all of these.
    EXPECT_EQ(idx(Ctl::distview), 335);
    EXPECT_EQ(idx(Ctl::distavg), 343);
    // Then the bundle box and the loopback test.
    EXPECT_EQ(idx(Ctl::bundleexport), 344);
    EXPECT_EQ(idx(Ctl::loopback_test), 345);
}

TEST(PanelTable, NamesAreUniqueAndParentsComeFirst) {
    std::set<std::string> names;
    for (int i = 0; i < kControlCount; ++i) {
        const ControlDef& d = controlTable()[i];
        EXPECT_TRUE(names.insert(d.name).second) << d.name;
        EXPECT_EQ(findControl(d.name), static_cast<Ctl>(i));
        if (d.parent != Ctl::Form1) {
            EXPECT_LT(idx(d.parent), i) << d.name;
        }
        if (d.kind == Kind::Latch) {
            EXPECT_NE(d.group, G_NONE) << d.name;
        }
    }
    EXPECT_EQ(findControl("nonsense"), Ctl::Count);
}

TEST(PanelTable, DesignedStates) {
    Panel p;
    EXPECT_TRUE(p.down(Ctl::Frequenza));
    EXPECT_TRUE(p.down(Ctl::modeab));
    EXPECT_TRUE(p.down(Ctl::hann));
    EXPECT_TRUE(p.down(Ctl::maxx));
    EXPECT_TRUE(p.down(Ctl::genx3));
    EXPECT_TRUE(p.down(Ctl::geny2));
    EXPECT_TRUE(p.checked(Ctl::RadioButton2));
    EXPECT_EQ(p.text(Ctl::ComboBox2), "44100");
    EXPECT_EQ(p.text(Ctl::ComboBox3), "4");
    EXPECT_EQ(p.text(Ctl::ComboBox5), "Shunt B");
    EXPECT_EQ(p.position(Ctl::input_bar), 65535);
    EXPECT_EQ(p.position(Ctl::bar1), 50);
    EXPECT_EQ(p.text(Ctl::Edit10), "10000");
    EXPECT_EQ(p.tag(Ctl::Edit14), 777);
    EXPECT_EQ(p.tag(Ctl::cc18), 18);
    EXPECT_EQ(p.tag(Ctl::tb13), 100);
    EXPECT_EQ(p.caption(Ctl::Label3), "  Miral Realtime Analyzer");
    EXPECT_EQ(p.caption(Ctl::TabSheet2), "PREFERENCES      ");
    EXPECT_EQ(p.state(Ctl::Label3).color, 4194432u);
    EXPECT_EQ(p.state(Ctl::PaintBox1).width, 567);
    EXPECT_EQ(p.state(Ctl::PaintBox1).height, 400);
    EXPECT_FALSE(p.enabled(Ctl::Timer1));
    EXPECT_EQ(p.state(Ctl::Timer7).interval, 100);
}

struct Recorder : HandlerSink {
    std::vector<std::pair<Handler, Ctl>> calls;
    void handle(Handler h, const UiEvent& e) override { calls.emplace_back(h, e.sender); }
};

TEST(PanelGroups, LatchingGroupsBehaveLikeAFrontPanel) {
    Panel p;
    Recorder r;
    p.setSink(&r);
    // Pressing a button of a group releases the others.
    p.userPress(Ctl::trignorm);
    EXPECT_TRUE(p.down(Ctl::trignorm));
    EXPECT_FALSE(p.down(Ctl::trigauto));
    // In a group that is not all-up, pressing the down button keeps it down.
    p.userPress(Ctl::trignorm);
    EXPECT_TRUE(p.down(Ctl::trignorm));
    // In an all-up group a press on the down button releases it.
    p.userPress(Ctl::hann);
    EXPECT_FALSE(p.down(Ctl::hann));
    for (Ctl w : {Ctl::hann, Ctl::hamm, Ctl::flat, Ctl::black, Ctl::nuttal}) EXPECT_FALSE(p.down(w));
    p.userPress(Ctl::black);
    p.userPress(Ctl::flat);
    EXPECT_TRUE(p.down(Ctl::flat));
    EXPECT_FALSE(p.down(Ctl::black));
    // A single toggle.
    p.userPress(Ctl::hold);
    EXPECT_TRUE(p.down(Ctl::hold));
    p.userPress(Ctl::hold);
    EXPECT_FALSE(p.down(Ctl::hold));
    // Groups are independent of each other.
    EXPECT_TRUE(p.down(Ctl::Frequenza));
    EXPECT_TRUE(p.down(Ctl::modeab));
}

// What the panel reads as: the view, the channel mode and the window keys
// as a user leaves them, and the knobs whose unit is set by range keys.
TEST(PanelReaders, ReadTheKeysAsTheUserLeftThem) {
    Panel p;
    p.setRequireShowing(false);
    EXPECT_EQ(activeView(p), View::Spectrum);  // "F" is down at power-on
    const std::pair<Ctl, View> views[] = {{Ctl::Tempo, View::Time},
                                          {Ctl::trasf, View::Transfer},
                                          {Ctl::zeta, View::Impedance},
                                          {Ctl::Frequenza, View::Spectrum}};
    for (const auto& [key, view] : views) {
        p.userPress(key);
        EXPECT_EQ(activeView(p), view) << p.def(key).name;
        EXPECT_EQ(isDeviceView(view), key == Ctl::trasf || key == Ctl::zeta);
        EXPECT_STREQ(viewCaption(view), p.caption(key).c_str());
    }
    EXPECT_EQ(channelMode(p), ChannelMode::AB);
    p.userPress(Ctl::modeb);
    EXPECT_EQ(channelMode(p), ChannelMode::B);
    p.userPress(Ctl::modea);
    EXPECT_EQ(channelMode(p), ChannelMode::A);

    EXPECT_EQ(selectedWindow(p), analysis::WindowKind::Hann);
    p.userPress(Ctl::nuttal);
    EXPECT_EQ(selectedWindow(p), analysis::WindowKind::Nuttall);
    p.userPress(Ctl::nuttal);  // all up: no window
    EXPECT_EQ(selectedWindow(p), analysis::WindowKind::Rectangular);

    // Band knobs: 50 on the knob reads 50, 500 or 5000 Hz with the x 1, x 10
    // and x 100 key, each knob with its own keys.
    for (Ctl knob : {Ctl::tb1, Ctl::tb2, Ctl::tb4}) p.setValue(knob, 50);
    p.setDown(Ctl::tb12, true);
    p.setDown(Ctl::tb23, true);
    p.setDown(Ctl::tb41, true);
    EXPECT_DOUBLE_EQ(bandKnobHertz(p, Ctl::tb1), 500.0);
    EXPECT_DOUBLE_EQ(bandKnobHertz(p, Ctl::tb2), 5000.0);
    EXPECT_DOUBLE_EQ(bandKnobHertz(p, Ctl::tb4), 50.0);
    p.setValue(Ctl::fftselect, 3);
    EXPECT_FALSE(freeBand(p));
    p.setValue(Ctl::fftselect, 8);
    EXPECT_TRUE(freeBand(p));

    // Generator ranges: " 1" .. " 1k", each generator with its own keys.
    p.setDown(Ctl::genx4, true);
    p.setDown(Ctl::geny1, true);
    EXPECT_EQ(generatorRange(p, Ctl::genfreq), 1000);
    EXPECT_EQ(generatorRange(p, Ctl::genfreq2), 1);
    p.setDown(Ctl::genx2, true);
    EXPECT_EQ(generatorRange(p, Ctl::genfreq), 10);
    EXPECT_EQ(generatorRange(p, Ctl::genfreq2), 1);
}

TEST(PanelGroups, CodeFollowsTheToolkitRulesAndRunsNoHandler) {
    Panel p;
    Recorder r;
    p.setSink(&r);
    p.setDown(Ctl::Tempo, true);
    EXPECT_FALSE(p.down(Ctl::Frequenza));
    p.setDown(Ctl::Tempo, false);  // refused: the view group always has one button down
    EXPECT_TRUE(p.down(Ctl::Tempo));
    p.setDown(Ctl::maxx, false);  // the Avg/Max group may be all up
    EXPECT_FALSE(p.down(Ctl::maxx));
    p.setChecked(Ctl::RadioButton4, true);
    EXPECT_FALSE(p.checked(Ctl::RadioButton2));
    p.setChecked(Ctl::tic3, true);  // another parent: another group
    EXPECT_TRUE(p.checked(Ctl::RadioButton4));
    EXPECT_TRUE(r.calls.empty());
}

TEST(PanelActions, HandlersRunAfterTheStateChange) {
    Panel p;
    struct Checker : HandlerSink {
        Panel* p;
        bool sawDown = false;
        int count = 0;
        void handle(Handler h, const UiEvent&) override {
            if (h == Handler::genon1Click) {
                sawDown = p->down(Ctl::genon1);
                ++count;
            }
        }
    } c;
    c.p = &p;
    p.setSink(&c);
    p.setVisible(Ctl::pan2a, true);
    p.userPress(Ctl::genon1);
    EXPECT_TRUE(c.sawDown);
    EXPECT_EQ(c.count, 1);
    // Right button: no state change and no click.
    p.userPress(Ctl::genon1, MouseButton::Right);
    EXPECT_TRUE(p.down(Ctl::genon1));
    EXPECT_EQ(c.count, 1);
}

TEST(PanelActions, SharedHandlersAndEvents) {
    Panel p;
    Recorder r;
    p.setSink(&r);
    p.setRequireShowing(false);
    for (Ctl c : {Ctl::gensin1, Ctl::geny4, Ctl::db40, Ctl::genstart1}) {
        r.calls.clear();
        p.userPress(c);
        ASSERT_FALSE(r.calls.empty());
        EXPECT_EQ(r.calls.back().first, Handler::genon1Click);
        EXPECT_EQ(r.calls.back().second, c);
    }
    r.calls.clear();
    p.userPress(Ctl::fun, MouseButton::Right);
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].first, Handler::funMouseDown);
    r.calls.clear();
    p.userSelectItem(Ctl::ComboBox3, 0);
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].first, Handler::ComboBox1Change);
    EXPECT_EQ(p.text(Ctl::ComboBox3), "1");
    r.calls.clear();
    p.userEditText(Ctl::Edit14, "12.5");
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].first, Handler::Edit14Change);
    r.calls.clear();
    p.userTrackPosition(Ctl::input_bar, 100000);  // clamped to the bar's range: no change
    EXPECT_TRUE(r.calls.empty());
    p.userTrackPosition(Ctl::input_bar, 1000);
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0].first, Handler::input_barChange);
}

TEST(PanelActions, DisabledAndHiddenControlsIgnoreTheUser) {
    Panel p;
    Recorder r;
    p.setSink(&r);
    p.setEnabled(Ctl::modeb, false);
    p.userPress(Ctl::modeb);
    EXPECT_FALSE(p.down(Ctl::modeb));
    EXPECT_TRUE(r.calls.empty());
    // pan2a is hidden in the designed state, and TabSheet2 is not the active page.
    p.userPress(Ctl::genon1);
    EXPECT_FALSE(p.down(Ctl::genon1));
    EXPECT_FALSE(p.showing(Ctl::ComboBox2));
    p.userSelectPage(Ctl::PageControl1, 1);
    EXPECT_TRUE(p.showing(Ctl::ComboBox2));
    EXPECT_FALSE(p.showing(Ctl::cc1));
    // A remote operator reaches controls that are not on screen, but not disabled ones.
    p.setRequireShowing(false);
    p.userPress(Ctl::genon1);
    EXPECT_TRUE(p.down(Ctl::genon1));
    p.userPress(Ctl::modeb);
    EXPECT_FALSE(p.down(Ctl::modeb));
}

}  // namespace
}  // namespace miral::core
