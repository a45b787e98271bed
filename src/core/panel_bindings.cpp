// SPDX-License-Identifier: GPL-3.0-or-later
// Which handler runs for which control and event. Several controls share a
// handler (the compact twins of the enlarged screen use the handlers of the
// controls they copy).
#include <array>

#include "core/panel.h"

namespace miral::core {

namespace {

struct Binding {
    Ctl control;
    Event event;
    Handler handler;
};

using C = Ctl;
using E = Event;
using Hd = Handler;

constexpr Binding kBindings[] = {
    {C::Frequenza, E::Click, Hd::FrequenzaClick},
    {C::Frequenza_bis, E::Click, Hd::FrequenzaClick},
    {C::Tempo, E::Click, Hd::TempoClick},
    {C::Tempo_bis, E::Click, Hd::TempoClick},
    {C::trasf, E::Click, Hd::trasfClick},
    {C::trasf_bis, E::Click, Hd::trasfClick},
    {C::RadioButton1, E::Click, Hd::trasfClick},
    {C::RadioButton2, E::Click, Hd::trasfClick},
    {C::RadioButton3, E::Click, Hd::trasfClick},
    {C::RadioButton4, E::Click, Hd::trasfClick},
    {C::zeta, E::Click, Hd::zetaClick},
    {C::zeta_bis, E::Click, Hd::zetaClick},
    {C::ComboBox1, E::Change, Hd::ComboBox1Change},
    {C::ComboBox2, E::Change, Hd::ComboBox1Change},
    {C::ComboBox3, E::Change, Hd::ComboBox1Change},
    {C::ComboBox4, E::Change, Hd::ComboBox1Change},
    {C::Label135, E::Click, Hd::Label135Click},
    {C::Label139, E::Click, Hd::Label139Click},
    {C::trigreset, E::Click, Hd::trigreset_Click},
    {C::triglevel_bis, E::Click, Hd::trigres},
    {C::gnd1, E::Click, Hd::Inv1Click},
    {C::dc1, E::Click, Hd::Inv1Click},
    {C::Inv1, E::Click, Hd::Inv1Click},
    {C::Inv2, E::Click, Hd::Inv1Click},
    {C::gnd2, E::Click, Hd::Inv1Click},
    {C::dc2, E::Click, Hd::Inv1Click},
    {C::sourcea, E::Click, Hd::Inv1Click},
    {C::sourceb, E::Click, Hd::Inv1Click},
    {C::Slope, E::Click, Hd::Inv1Click},
    {C::sourcea_bis, E::Click, Hd::Inv1Click},
    {C::sourceb_bis, E::Click, Hd::Inv1Click},
    {C::Slope_bis, E::Click, Hd::Inv1Click},
    {C::modea, E::Click, Hd::modeaClick},
    {C::modeb, E::Click, Hd::modeaClick},
    {C::modeab, E::Click, Hd::modeaClick},
    {C::modea_bis, E::Click, Hd::modeaClick},
    {C::modeb_bis, E::Click, Hd::modeaClick},
    {C::modeab_bis, E::Click, Hd::modeaClick},
    {C::panview, E::Click, Hd::panviewClick},
    {C::ylog, E::Click, Hd::ylogClick},
    {C::ylog_bis, E::Click, Hd::ylogClick},
    {C::vedifreq, E::Click, Hd::vedifreqClick},
    {C::vedifreq_bis, E::Click, Hd::vedifreqClick},
    {C::genon1, E::Click, Hd::genon1Click},
    {C::gensin1, E::Click, Hd::genon1Click},
    {C::gentri1, E::Click, Hd::genon1Click},
    {C::gensqr1, E::Click, Hd::genon1Click},
    {C::gennoise1, E::Click, Hd::genon1Click},
    {C::genx1, E::Click, Hd::genon1Click},
    {C::genx2, E::Click, Hd::genon1Click},
    {C::genx3, E::Click, Hd::genon1Click},
    {C::genx4, E::Click, Hd::genon1Click},
    {C::db20, E::Click, Hd::genon1Click},
    {C::db40, E::Click, Hd::genon1Click},
    {C::gensweep1, E::Click, Hd::genon1Click},
    {C::genstart1, E::Click, Hd::genon1Click},
    {C::genon2, E::Click, Hd::genon1Click},
    {C::gensin2, E::Click, Hd::genon1Click},
    {C::gentri2, E::Click, Hd::genon1Click},
    {C::gensqr2, E::Click, Hd::genon1Click},
    {C::geny1, E::Click, Hd::genon1Click},
    {C::geny2, E::Click, Hd::genon1Click},
    {C::geny3, E::Click, Hd::genon1Click},
    {C::geny4, E::Click, Hd::genon1Click},
    {C::generator1_on, E::Click, Hd::generator1_onClick},
    {C::generator1_off, E::Click, Hd::generator1_offClick},
    {C::SpeedButton15, E::Click, Hd::Edit1Click},
    {C::SpeedButton16, E::Click, Hd::Edit2Click},
    {C::SpeedButton17, E::Click, Hd::Edit3Click},
    {C::SpeedButton18, E::Click, Hd::Edit4Click},
    {C::Label131, E::Click, Hd::Label131Click},
    {C::genstart1, E::MouseDown, Hd::genstart1MouseDown},
    {C::gendispl, E::MouseDown, Hd::gendisplMouseDown},
    {C::panel_freq_gen1, E::MouseDown, Hd::gendisplMouseDown},
    {C::gendispl2, E::MouseDown, Hd::gendispl2MouseDown},
    {C::Panel3, E::MouseDown, Hd::gendispl2MouseDown},
    {C::Label62, E::MouseDown, Hd::Label62MouseDown},
    {C::panel_freq_nota, E::MouseDown, Hd::Label62MouseDown},
    {C::fun, E::MouseDown, Hd::funMouseDown},
    {C::Label211, E::MouseDown, Hd::Label211MouseDown},
    {C::Panel9, E::MouseDown, Hd::Label211MouseDown},
    {C::PaintBox1, E::MouseDown, Hd::PaintBox1MouseDown},
    {C::PaintBox1, E::MouseMove, Hd::PaintBox1MouseMove},
    {C::PaintBox1, E::MouseUp, Hd::PaintBox1MouseUp},
    {C::PaintBox1, E::DblClick, Hd::PaintBox1DblClick},
    {C::mark1x, E::MouseDown, Hd::mark1xMouseDown},
    {C::mark2x, E::MouseDown, Hd::mark1xMouseDown},
    {C::mark3x, E::MouseDown, Hd::mark1xMouseDown},
    {C::mark4x, E::MouseDown, Hd::mark1xMouseDown},
    {C::mark1x, E::MouseMove, Hd::mark1xMouseMove},
    {C::mark2x, E::MouseMove, Hd::mark1xMouseMove},
    {C::mark3x, E::MouseMove, Hd::mark1xMouseMove},
    {C::mark4x, E::MouseMove, Hd::mark1xMouseMove},
    {C::markerview, E::Click, Hd::markerviewClick},
    {C::rlcmode, E::Click, Hd::rlcmodeClick},
    {C::rr, E::Click, Hd::rlcmodeClick},
    {C::ll, E::Click, Hd::rlcmodeClick},
    {C::cc, E::Click, Hd::rlcmodeClick},
    {C::SpeedButton9, E::Click, Hd::SpeedButton9Click},
    {C::Edit14, E::Change, Hd::Edit14Change},
    {C::Edit9, E::Change, Hd::Edit9Change},
    {C::Edit17, E::Change, Hd::Edit17Change},
    {C::Edit1, E::Change, Hd::Edit1Change},
    {C::Edit5, E::Change, Hd::Edit5Change},
    {C::Edit10, E::Change, Hd::Edit10Change},
    {C::Edit16, E::Change, Hd::Edit16Change},
    {C::ComboBox5, E::Change, Hd::ComboBox5Change},
    {C::card_box, E::Change, Hd::card_boxChange},
    {C::output_box, E::Change, Hd::output_boxChange},
    {C::input_box, E::Change, Hd::input_boxChange},
    {C::output_bar, E::Change, Hd::output_barChange},
    {C::input_bar, E::Change, Hd::input_barChange},
    {C::master_bar, E::Change, Hd::master_barChange},
    {C::mixerstart, E::Click, Hd::mixerstartClick},
    {C::cc1, E::Click, Hd::cc1Click},
    {C::cc2, E::Click, Hd::cc1Click},
    {C::cc3, E::Click, Hd::cc1Click},
    {C::cc4, E::Click, Hd::cc1Click},
    {C::cc5, E::Click, Hd::cc1Click},
    {C::cc6, E::Click, Hd::cc1Click},
    {C::cc7, E::Click, Hd::cc1Click},
    {C::cc8, E::Click, Hd::cc1Click},
    {C::cc9, E::Click, Hd::cc1Click},
    {C::cc10, E::Click, Hd::cc1Click},
    {C::cc11, E::Click, Hd::cc1Click},
    {C::cc12, E::Click, Hd::cc1Click},
    {C::cc13, E::Click, Hd::cc1Click},
    {C::cc14, E::Click, Hd::cc1Click},
    {C::cc15, E::Click, Hd::cc1Click},
    {C::cc16, E::Click, Hd::cc1Click},
    {C::cc17, E::Click, Hd::cc1Click},
    {C::cc18, E::Click, Hd::cc1Click},
    {C::colo, E::Click, Hd::coloClick},
    {C::savescreen, E::Click, Hd::savescreenClick},
    {C::SpeedButton8, E::Click, Hd::savescreenClick},
    {C::distview, E::Click, Hd::distviewClick},
    {C::loopback_test, E::Click, Hd::loopback_testClick},
    {C::SpeedButton19, E::Click, Hd::SpeedButton19Click},
    {C::Panel29, E::Click, Hd::Panel29Click},
    {C::Label31, E::Click, Hd::Panel29Click},
    {C::Label31, E::DblClick, Hd::Panel29Click},
    {C::SpeedButton22, E::Click, Hd::SpeedButton22Click},
    {C::salva, E::Click, Hd::salvaClick},
    {C::ripristina, E::Click, Hd::ripristinaClick},
    {C::Button1, E::Click, Hd::tunemark},
    {C::tune_all, E::Click, Hd::tuneall},
    // Knobs.
    {C::range1, E::MouseMove, Hd::pos1MouseMove},
    {C::pos1, E::MouseMove, Hd::pos1MouseMove},
    {C::pretrigger, E::MouseMove, Hd::pos1MouseMove},
    {C::triglevel, E::MouseMove, Hd::pos1MouseMove},
    {C::fftselect, E::MouseMove, Hd::pos1MouseMove},
    {C::tb3, E::MouseMove, Hd::pos1MouseMove},
    {C::pos1_bis, E::MouseMove, Hd::pos1MouseMove},
    {C::triglevel_bis, E::MouseMove, Hd::pos1MouseMove},
    {C::pos2, E::MouseMove, Hd::pos2MouseMove},
    {C::pos2_bis, E::MouseMove, Hd::pos2MouseMove},
    {C::range2, E::MouseMove, Hd::range2MouseMove},
    {C::mainselect, E::MouseMove, Hd::mainselectMouseMove},
    {C::tb1, E::MouseMove, Hd::tb1MouseMove},
    {C::tb2, E::MouseMove, Hd::tb1MouseMove},
    {C::tb4, E::MouseMove, Hd::tb1MouseMove},
    {C::genfreq, E::MouseMove, Hd::genfreqMouseMove},
    {C::genampl, E::MouseMove, Hd::genfreqMouseMove},
    {C::gensweep, E::MouseMove, Hd::genfreqMouseMove},
    {C::genfreq, E::MouseDown, Hd::genfreqMouseDown},
    {C::genampl, E::MouseDown, Hd::genfreqMouseDown},
    {C::gensweep, E::MouseDown, Hd::genfreqMouseDown},
    {C::genfreq2, E::MouseMove, Hd::genfreq2MouseMove},
    {C::genampl2, E::MouseMove, Hd::genfreq2MouseMove},
    {C::genfreq2, E::MouseDown, Hd::genfreq2MouseDown},
    {C::genampl2, E::MouseDown, Hd::genfreq2MouseDown},
    // Timers.
    {C::Timer1, E::Timer, Hd::Timer1Timer},
    {C::Timer7, E::Timer, Hd::Timer7Timer},
    {C::Timer10, E::Timer, Hd::Timer10Timer},
};

using Table = std::array<std::array<Handler, static_cast<int>(Event::Count)>, kControlCount>;

const Table& bindingTable() {
    static const Table table = [] {
        Table t{};
        for (const Binding& b : kBindings) t[idx(b.control)][static_cast<int>(b.event)] = b.handler;
        return t;
    }();
    return table;
}

}  // namespace

Handler Panel::binding(Ctl c, Event e) const {
    if (c == Ctl::Count || c == Ctl::Form1) return Handler::None;
    return bindingTable()[idx(c)][static_cast<int>(e)];
}

}  // namespace miral::core
