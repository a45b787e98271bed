// SPDX-License-Identifier: GPL-3.0-or-later
// The compact copies on the enlarged screen's strip and the controls they copy.
#pragma once

#include "core/panel_defs.h"

namespace miral::core {

struct Twin {
    Ctl copy;
    Ctl main;
};

inline constexpr Twin kTwinButtons[] = {
    {Ctl::sourcea_bis, Ctl::sourcea},     {Ctl::sourceb_bis, Ctl::sourceb},
    {Ctl::Slope_bis, Ctl::Slope},         {Ctl::trigauto_bis, Ctl::trigauto},
    {Ctl::trignorm_bis, Ctl::trignorm},   {Ctl::trigsingle_bis, Ctl::trigsingle},
    {Ctl::modea_bis, Ctl::modea},         {Ctl::modeb_bis, Ctl::modeb},
    {Ctl::modeab_bis, Ctl::modeab},       {Ctl::xlog_bis, Ctl::xlog},
    {Ctl::ylog_bis, Ctl::ylog},           {Ctl::borderview_bis, Ctl::borderview},
    {Ctl::vedinota_bis, Ctl::vedinota},   {Ctl::vedifreq_bis, Ctl::vedifreq},
    {Ctl::freq_bis, Ctl::freq},           {Ctl::croma_bis, Ctl::croma},
    {Ctl::color_bis, Ctl::color},         {Ctl::Tempo_bis, Ctl::Tempo},
    {Ctl::Frequenza_bis, Ctl::Frequenza}, {Ctl::trasf_bis, Ctl::trasf},
    {Ctl::zeta_bis, Ctl::zeta},           {Ctl::avg_bis, Ctl::avg},
    {Ctl::maxx_bis, Ctl::maxx},           {Ctl::lowf_bis, Ctl::lowf},
};

}  // namespace miral::core
