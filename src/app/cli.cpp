// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli.h"

#include <charconv>
#include <string_view>
#include <system_error>

namespace miral::app {

std::string usageText() {
    return "Usage: miral [options]\n"
           "Miral turns the sound card into a bench instrument: oscilloscope, spectrum\n"
           "analyzer, Bode analyzer, impedance meter, tuner and function generators.\n"
           "\n"
           "Options:\n"
           "  --help                 show this text\n"
           "  --version              print the version\n"
           "  --config-dir DIR       folder of Prefs.ini and prefs.dat\n"
           "                         (default: $XDG_CONFIG_HOME/miral or ~/.config/miral)\n"
           "  --audio API            pulse, alsa, jack, sim (simulated bench), wav:FILE or\n"
           "                         bundle:FILE (a measurement bundle, NAME.miral: its\n"
           "                         capture held on the inputs, its panel restored)\n"
           "                         (default: PulseAudio when a server answers, else ALSA)\n"
           "  FILE.miral             the same as --audio bundle:FILE.miral\n"
           "  --remote[=PORT]        serve the automation API (HTTP and JSON) on 127.0.0.1\n"
           "                         and ::1, port 4780 unless given; the token is in\n"
           "                         remote-token in the configuration folder. With\n"
           "                         --headless the instrument keeps running after its\n"
           "                         steps until POST /quit or SIGTERM\n"
           "  --dut DEVICE           device under test of the simulated bench, e.g. wire,\n"
           "                         rc-lowpass:R=1000,C=1e-7, delay-b:ns=20000, gain-b:db=-6,\n"
           "                         noise:dbfs=-80, harmonics:h2=-60,h3=-70, and for the\n"
           "                         impedance meter shunt:R=10,C=1u / shunt:R=10,L=1m /\n"
           "                         shunt:R=10,Z=100 (also shunt-serial:...) (join with +)\n"
           "  --seed N               seed of the generators' noise, a whole number 0 ..\n"
           "                         18446744073709551615 (default: fixed with sim and\n"
           "                         wav:FILE, so that their runs repeat; the clock with a card)\n"
           "  --headless             run without a window; then these steps, in order:\n"
           "    --set NAME=VALUE     operate a control as a user would (buttons 1/0, knobs\n"
           "                         an integer, edits a text, combos an item, track bars a position)\n"
           "    --click NAME         a full left-button press on a control\n"
           "    --print NAME,...     print NAME=value for controls and instrument fields\n"
           "    --run SECONDS        run the instrument for SECONDS of (simulated) time\n"
           "    --dump ARRAY=FILE    write an array, one value per line\n"
           "    --screenshot FILE    write the screen (PNG or JPG by extension)\n"
           "    --window-shot FILE   write the whole front panel (PNG or JPG)\n"
           "    --save-dialog FILE   answer the Save button's picture-save dialog with FILE\n"
           "                         from now on (an empty FILE cancels it, as without\n"
           "                         this step); then e.g. --click savescreen\n"
           "    --save-bundle FILE   write the measurement bundle of this moment (.miral)\n"
           "    --answer yes|no      answer the instrument's questions from now on (the\n"
           "                         reset key asks \"Forget the stored panel and switch\n"
           "                         off?\"); \"yes\" without this step\n"
           "  --window-shot FILE     (without --headless) start the window, write its picture\n"
           "                         after a moment of running, then end without storing\n"
           "\n"
           "Keys in the window:\n"
           "  T, F, X, Z             time, frequency, transfer-function and impedance view\n"
           "  Space                  hold the screen\n"
           "  Ctrl+S                 save (as the Save key)\n"
           "  F11                    enlarged screen on or off\n"
           "  + and -                FFT size up and down\n"
           "  A, B                   channel A only, channel B only (again: both)\n"
           "  G                      main generator on or off\n"
           "  Ctrl++, Ctrl+-, Ctrl+0 panel larger, smaller, as the desktop's scale\n"
           "  on a knob (click it or Tab to it): wheel and arrow keys one step;\n"
           "  Shift+wheel, Page Up and Down ten steps; Home and End the ends of its scale\n"
           "The window's close box, Alt+F4 and logging out store the panel as \"ON\" does.\n"
           "\n"
           "Exit codes: 0 success, 2 a bad command line or step, 3 unreadable input.\n";
}

std::optional<Options> parseCommandLine(int argc, char** argv, std::string* error) {
    Options o;
    auto need = [&](int& i, std::string_view opt) -> std::optional<std::string> {
        if (i + 1 >= argc) {
            *error = std::string(opt) + " needs a value";
            return std::nullopt;
        }
        return std::string(argv[++i]);
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        // Also accept --option=value.
        std::string inlineValue;
        bool hasInline = false;
        if (a.rfind("--", 0) == 0) {
            auto eq = a.find('=');
            if (eq != std::string_view::npos) {
                inlineValue = std::string(a.substr(eq + 1));
                a = a.substr(0, eq);
                hasInline = true;
            }
        }
        auto value = [&]() -> std::optional<std::string> {
            if (hasInline) return inlineValue;
            return need(i, a);
        };
        auto step = [&](Step::Kind k) -> bool {
            auto v = value();
            if (!v) return false;
            o.steps.push_back({k, *v});
            return true;
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--headless") {
            o.headless = true;
        } else if (a == "--config-dir") {
            auto v = value();
            if (!v) return std::nullopt;
            o.configDir = *v;
        } else if (a == "--audio") {
            auto v = value();
            if (!v) return std::nullopt;
            o.audio = *v;
        } else if (a == "--dut") {
            auto v = value();
            if (!v) return std::nullopt;
            o.dut = *v;
        } else if (a == "--seed") {
            auto v = value();
            if (!v) return std::nullopt;
            std::uint64_t seed = 0;
            const char* first = v->data();
            const char* last = first + v->size();
            const auto [end, ec] = std::from_chars(first, last, seed);
            if (v->empty() || ec != std::errc() || end != last) {
                *error = "--seed needs a whole number from 0 to 18446744073709551615, not '" + *v + "'";
                return std::nullopt;
            }
            o.seed = seed;
        } else if (a == "--set") {
            if (!step(Step::Kind::Set)) return std::nullopt;
        } else if (a == "--click") {
            if (!step(Step::Kind::Click)) return std::nullopt;
        } else if (a == "--print") {
            if (!step(Step::Kind::Print)) return std::nullopt;
        } else if (a == "--run") {
            if (!step(Step::Kind::Run)) return std::nullopt;
        } else if (a == "--dump") {
            if (!step(Step::Kind::Dump)) return std::nullopt;
        } else if (a == "--screenshot") {
            if (!step(Step::Kind::Screenshot)) return std::nullopt;
        } else if (a == "--window-shot") {
            if (!step(Step::Kind::WindowShot)) return std::nullopt;
        } else if (a == "--answer") {
            if (!step(Step::Kind::Answer)) return std::nullopt;
        } else if (a == "--save-dialog") {
            if (!step(Step::Kind::SaveDialog)) return std::nullopt;
        } else if (a == "--save-bundle") {
            if (!step(Step::Kind::SaveBundle)) return std::nullopt;
        } else if (a == "--remote") {
            o.remotePort = kDefaultRemotePort;
            if (hasInline) {
                int port = 0;
                bool digits = !inlineValue.empty() && inlineValue.size() <= 5;
                for (char c : inlineValue) {
                    if (c < '0' || c > '9')
                        digits = false;
                    else
                        port = port * 10 + (c - '0');
                }
                if (!digits || port < 1 || port > 65535) {
                    *error = "--remote=" + inlineValue + ": expected a port number 1..65535";
                    return std::nullopt;
                }
                o.remotePort = port;
            }
        } else if (a.rfind("-", 0) != 0 && a.size() > 6 && a.substr(a.size() - 6) == ".miral" &&
                   o.audio.empty()) {
            // What the desktop's "Open" of a bundle runs.
            o.audio = "bundle:" + std::string(a);
        } else {
            *error = "unknown option '" + std::string(argv[i]) + "' (see miral --help)";
            return std::nullopt;
        }
    }
    if (!o.headless) {
        for (const Step& s : o.steps) {
            if (s.kind != Step::Kind::WindowShot) {
                *error = "steps such as --set, --print and --run need --headless";
                return std::nullopt;
            }
        }
    }
    return o;
}

}  // namespace miral::app
