// SPDX-License-Identifier: GPL-3.0-or-later
// The soak runner: the whole instrument, headless on the simulated bench in
// simulated time, worked by a random but repeatable user for a long time.
//
//   soak [--minutes M] [--seed S] [--dut DEVICE] [--every MS] [--quiet] [--resident-steps]
//
// Every few simulated milliseconds it picks a control that a user could
// reach at that moment (enabled and on screen; page tabs and the side-panel
// key bring the hidden ones into reach) and works it as a user would: presses
// buttons, drags knobs (also close to their centre), picks combo items,
// types text (numbers, and hostile text), moves track bars, clicks and drags
// on the screen. Power and reset are left alone: they end the program.
//
// After every action and every cycle it checks:
//   - nothing throws, and no cycle fails (the instrument would end itself);
//   - no NaN or infinity in DisplayA/B/Phase, TimeWorkA/B or any readout
//     text ("nan", "inf");
//   - no heap allocation inside a processing cycle;
//   - resident memory after the first simulated minute stays within 5 %
//     (checked from the second minute on; at the end for shorter runs).
// It prints its figures at the end and exits 1 on the first failure, with
// the seed and the action that led to it, so that the run can be repeated.
// Beside the resident memory it shows the heap in use (what the program
// holds from malloc): a leak grows both, pages touched or libraries loaded
// for the first time only the first. --resident-steps names the action
// before every new high of either by 256 KiB or more.
#include <execinfo.h>
#include <malloc.h>
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/memory_policy.h"
#include "app/panel_canvases.h"
#include "core/instrument.h"
#include "core/operate.h"
#include "storage/preferences.h"
#include "support/counting_new.h"

using miral::core::Ctl;
using miral::core::Kind;

namespace {

struct Options {
    double minutes = 2;
    unsigned seed = 1;
    std::string dut;
    int everyMs = 40;
    bool quiet = false;
    bool residentSteps = false;
};

long residentKiB() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// What the program holds from malloc: small blocks and mapped large ones.
long heapInUseKiB() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

// Answers the Save key's dialog: sometimes a file in the soak's folder,
// sometimes a cancel.
class SoakSaveDialog : public miral::core::Instrument::SaveDialog {
  public:
    SoakSaveDialog(std::mt19937& rng, std::filesystem::path dir) : rng_(rng), dir_(std::move(dir)) {}
    std::optional<std::string> choose(std::string_view, std::string_view) override {
        static const char* names[] = {"shot.jpg", "shot.png", "shot.bmp", "noext", "a.b", "shot.JPG"};
        if (rng_() % 4 == 0) return std::nullopt;
        return (dir_ / names[rng_() % std::size(names)]).string();
    }

  private:
    std::mt19937& rng_;
    std::filesystem::path dir_;
};

class Soak {
  public:
    Soak(const Options& o, std::filesystem::path dir)
        : opt_(o), rng_(o.seed), dir_(std::move(dir)), canvases_(in_), dialog_(rng_, dir_) {}

    int run();

  private:
    void power();
    void act();
    bool endsTheProgram(Ctl c) const;
    void actOn(Ctl c);
    std::string hostileText();
    bool check(const char* when);
    void fail(const std::string& what);
    void cycle();
    int randomInt(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    Options opt_;
    std::mt19937 rng_;
    std::filesystem::path dir_;
    miral::core::Instrument in_;
    miral::app::PanelCanvases canvases_;
    SoakSaveDialog dialog_;
    long long ms_ = 0;
    long long actions_ = 0;
    long long cycles_ = 0;
    long cycleAllocations_ = 0;
    long firstCycleAllocations_ = 0;
    long long allocatingCycles_ = 0;
    long rssAtMinute_ = 0;
    long heapAtMinute_ = 0;
    long rssSeen_ = 0;
    long heapSeen_ = 0;
    long rssMax_ = 0;
    std::string lastAction_ = "(power on)";
    bool failed_ = false;
};

void Soak::power() {
    if (!opt_.dut.empty() && !in_.streams().SetDeviceUnderTest(opt_.dut)) {
        fail("--dut " + opt_.dut + ": " + in_.streams().LastError());
        return;
    }
    if (!in_.streams().SelectDriver("sim", miral::audio::TimeMode::Simulated)) {
        fail("sim: " + in_.streams().LastError());
        return;
    }
    in_.useMixerOfDriver();
    in_.setConfigDir(dir_);
    in_.setSaveDialog(&dialog_);
    in_.FormCreate();
    in_.FormActivate();
}

std::string Soak::hostileText() {
    static const char* texts[] = {
        "",         "0",        "-0",         "10",          "-10",
        "1e308",    "-1e308",   "1e-320",     "nan",         "-nan",
        "inf",      "-inf",     "2147483647", "-2147483648", "99999999999999999999",
        "0x10",     "1,5",      " 3 ",        "1e",          "--1",
        "\xff\xfe", "%s%n%d",   "\x01\x02",   "12abc",       "1.2.3",
        "+5",       "0.000001", "1000000",    "-0.0001",     "\xd9\xa1\xd9\xa2",
        "1e999",    "-1e999",   "4.9e-324",   ".",
    };
    const int pick = randomInt(0, static_cast<int>(std::size(texts)));
    if (pick < static_cast<int>(std::size(texts))) return texts[pick];
    // A long run of random bytes.
    std::string s(static_cast<std::size_t>(randomInt(1, 3000)), ' ');
    for (char& ch : s) ch = static_cast<char>(randomInt(1, 255));
    return s;
}

void Soak::actOn(Ctl c) {
    auto& panel = in_.panel;
    const miral::core::ControlState& s = panel.state(c);
    const Kind kind = panel.def(c).kind;
    std::ostringstream what;
    what << panel.def(c).name;
    switch (kind) {
        case Kind::Latch:
        case Kind::Button:
        case Kind::Check:
        case Kind::Radio:
        case Kind::Label:
        case Kind::Panel:
            if (randomInt(0, 9) == 0) {
                what << " right press";
                lastAction_ = what.str();
                panel.userPress(c, miral::core::MouseButton::Right, randomInt(0, std::max(s.width - 1, 0)),
                                randomInt(0, std::max(s.height - 1, 0)));
            } else {
                what << " press";
                lastAction_ = what.str();
                panel.userPress(c, miral::core::MouseButton::Left, randomInt(0, std::max(s.width - 1, 0)),
                                randomInt(0, std::max(s.height - 1, 0)));
            }
            break;
        case Kind::Knob: {
            // A drag along a few random points, sometimes right at the centre.
            miral::core::ShiftState held;
            held.left = true;
            const int cx = s.width / 2, cy = s.height / 2;
            what << " drag";
            lastAction_ = what.str();
            panel.userMouseDown(c, miral::core::MouseButton::Left, cx, cy, held);
            const int moves = randomInt(1, 4);
            for (int i = 0; i < moves; ++i) {
                const bool nearCentre = randomInt(0, 3) == 0;
                const int x = nearCentre ? cx + randomInt(-3, 3) : randomInt(-50, s.width + 50);
                const int y = nearCentre ? cy + randomInt(-3, 3) : randomInt(-50, s.height + 50);
                what << " (" << x << "," << y << ")";
                lastAction_ = what.str();
                panel.userMouseMove(c, held, x, y);
            }
            panel.userMouseUp(c, miral::core::MouseButton::Left, cx, cy, held);
            break;
        }
        case Kind::Edit: {
            const std::string text = hostileText();
            what << " text of " << text.size() << " bytes '" << text.substr(0, 40) << "'";
            lastAction_ = what.str();
            panel.userEditText(c, text);
            break;
        }
        case Kind::Combo: {
            const int n = static_cast<int>(s.items.size());
            if (n == 0) return;
            const int item = randomInt(0, n - 1);
            what << " item " << item;
            lastAction_ = what.str();
            panel.userSelectItem(c, item);
            break;
        }
        case Kind::TrackBar: {
            const int pos = randomInt(s.min - 1000, s.max + 1000);
            what << " position " << pos;
            lastAction_ = what.str();
            panel.userTrackPosition(c, pos);
            break;
        }
        case Kind::PageControl: {
            const int page = randomInt(0, 1);
            what << " page " << page;
            lastAction_ = what.str();
            panel.userSelectPage(c, page);
            break;
        }
        case Kind::PaintBox: {
            const int x = randomInt(-5, s.width + 5), y = randomInt(-5, s.height + 5);
            miral::core::ShiftState held;
            held.left = true;
            const int how = randomInt(0, 4);
            if (how == 0) {
                what << " double click at " << x << "," << y;
                lastAction_ = what.str();
                panel.userDoubleClick(c, x, y);
            } else if (how == 1) {
                what << " right press at " << x << "," << y;
                lastAction_ = what.str();
                panel.userPress(c, miral::core::MouseButton::Right, x, y);
            } else {
                what << " drag from " << x << "," << y;
                lastAction_ = what.str();
                panel.userMouseDown(c, miral::core::MouseButton::Left, x, y, held);
                panel.userMouseMove(c, held, randomInt(-5, s.width + 5), randomInt(-5, s.height + 5));
                panel.userMouseUp(c, miral::core::MouseButton::Left, x, y, held);
            }
            break;
        }
        default:
            break;
    }
    ++actions_;
}

// The power and reset keys end the program, and so does a click on what
// they carry (the "ON" caption).
bool Soak::endsTheProgram(Ctl c) const {
    for (Ctl key : {Ctl::Panel29, Ctl::SpeedButton22}) {
        if (c == key) return true;
        for (auto e :
             {miral::core::Event::Click, miral::core::Event::MouseDown, miral::core::Event::MouseUp}) {
            const auto h = in_.panel.binding(key, e);
            if (h != miral::core::Handler::None && in_.panel.binding(c, e) == h) return true;
        }
    }
    return false;
}

void Soak::act() {
    // Candidates: every control a user could work right now.
    static std::vector<Ctl> candidates;
    candidates.clear();
    for (int i = 0; i < static_cast<int>(Ctl::Count); ++i) {
        const Ctl c = static_cast<Ctl>(i);
        if (endsTheProgram(c)) continue;
        const Kind k = in_.panel.def(c).kind;
        if (k == Kind::Timer || k == Kind::ColorDialog || k == Kind::SaveDialog || k == Kind::ProgressBar ||
            k == Kind::TabSheet || k == Kind::GroupBox)
            continue;
        if (!in_.panel.acceptsUser(c)) continue;
        // Labels and panels only where they answer the mouse.
        if ((k == Kind::Label || k == Kind::Panel) &&
            in_.panel.binding(c, miral::core::Event::Click) == miral::core::Handler::None &&
            in_.panel.binding(c, miral::core::Event::MouseDown) == miral::core::Handler::None)
            continue;
        candidates.push_back(c);
    }
    if (candidates.empty()) return;
    actOn(candidates[static_cast<std::size_t>(randomInt(0, static_cast<int>(candidates.size()) - 1))]);
}

void Soak::fail(const std::string& what) {
    if (failed_) return;
    failed_ = true;
    std::cerr << "soak: FAILED at " << static_cast<double>(ms_) / 1000.0 << " s (seed " << opt_.seed
              << "): " << what << "\n  last action: " << lastAction_ << "\n";
}

bool Soak::check(const char* when) {
    if (in_.terminateRequested()) {
        fail(std::string("the instrument ended itself ") + when);
        return false;
    }
    auto finite = [&](const auto& arr, int n, const char* name) {
        n = std::clamp(n, 0, static_cast<int>(arr.size()));
        for (int i = 0; i < n; ++i) {
            if (!std::isfinite(arr[static_cast<std::size_t>(i)])) {
                fail(std::string(name) + "[" + std::to_string(i) + "] is not finite " + when);
                return false;
            }
        }
        return true;
    };
    const auto& st = in_.st;
    const int bins = std::max(st.FftSize / 2, 0);
    const int window = std::max(in_.panel.down(Ctl::Tempo) ? st.TimeWindow : st.FftSize, 0);
    if (!finite(st.DisplayA, bins, "DisplayA") || !finite(st.DisplayB, bins, "DisplayB") ||
        !finite(st.DisplayPhase, bins, "DisplayPhase") || !finite(st.TimeWorkA, window, "TimeWorkA") ||
        !finite(st.TimeWorkB, window, "TimeWorkB"))
        return false;
    // Readouts: the texts the program writes (labels, panels, buttons).
    for (int i = 0; i < static_cast<int>(Ctl::Count); ++i) {
        const Ctl c = static_cast<Ctl>(i);
        const Kind k = in_.panel.def(c).kind;
        if (k == Kind::Edit || k == Kind::Combo) continue;  // what the soak typed
        std::string t = in_.panel.caption(c);
        std::transform(t.begin(), t.end(), t.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        for (const char* bad : {"nan", "inf"}) {
            for (std::size_t at = t.find(bad); at != std::string::npos; at = t.find(bad, at + 1)) {
                const bool alphaBefore = at > 0 && std::isalpha(static_cast<unsigned char>(t[at - 1]));
                const bool alphaAfter =
                    at + 3 < t.size() && std::isalpha(static_cast<unsigned char>(t[at + 3]));
                if (!alphaBefore && !alphaAfter) {
                    fail(std::string(in_.panel.def(c).name) + " reads '" + in_.panel.caption(c) + "' " +
                         when);
                    return false;
                }
            }
        }
    }
    return true;
}

// Where allocations inside cycles come from (after the first cycle): each
// new place is shown once, with its call chain.
std::vector<std::vector<void*>> allocationSites;

void showAllocation(std::size_t size) {
    miral::testing::onAllocation = nullptr;  // no recursion while we look
    std::vector<void*> frames(24);
    frames.resize(static_cast<std::size_t>(backtrace(frames.data(), 24)));
    bool known = false;
    for (const auto& site : allocationSites) known = known || site == frames;
    if (!known) {
        std::cerr << "soak: a processing cycle allocates " << size << " bytes here:\n";
        backtrace_symbols_fd(frames.data(), static_cast<int>(frames.size()), 2);
        allocationSites.push_back(std::move(frames));
    }
    miral::testing::onAllocation = showAllocation;
}

void Soak::cycle() {
    const long before = miral::testing::allocations.load(std::memory_order_relaxed);
    if (cycles_ > 0) miral::testing::onAllocation = showAllocation;
    if (in_.panel.enabled(Ctl::Timer1)) in_.panel.timerTick(Ctl::Timer1);
    miral::testing::onAllocation = nullptr;
    const long allocated = miral::testing::allocations.load(std::memory_order_relaxed) - before;
    // What the cycle left for right after it (a stream to open, a file to
    // write), as the window and the headless runner do.
    in_.afterCycle();
    if (cycles_ == 0) firstCycleAllocations_ = allocated;
    ++cycles_;
    cycleAllocations_ += allocated;
}

int Soak::run() {
    power();
    if (failed_) return 1;
    const long long total = static_cast<long long>(opt_.minutes * 60000.0 + 0.5);
    long long nextReport = 60000;
    while (ms_ < total && !failed_) {
        ++ms_;
        try {
            in_.streams().AdvanceTo(static_cast<double>(ms_) / 1000.0);
            const bool acting = ms_ % opt_.everyMs == 0;
            if (acting) {
                act();
                if (!check("after the action")) break;
            }
            const long allocatedBefore = cycleAllocations_;
            cycle();
            // The first cycle restores the stored panel; every later one
            // works in what was allocated before.
            if (ms_ > 1 && cycleAllocations_ != allocatedBefore) ++allocatingCycles_;
            if (ms_ % 100 == 0) {
                in_.panel.timerTick(Ctl::Timer7);
                in_.panel.timerTick(Ctl::Timer10);
            }
            // The arrays and readouts: in the cycle right after each action
            // and in the last one before the next.
            if ((acting || ms_ % opt_.everyMs == opt_.everyMs - 1) && !check("in the following cycle")) break;
        } catch (const std::exception& ex) {
            fail(std::string("exception: ") + ex.what());
            break;
        } catch (...) {
            fail("an exception");
            break;
        }
        if (opt_.residentSteps && ms_ % 10 == 0) {
            const long rss = residentKiB();
            const long heap = heapInUseKiB();
            if (rssSeen_ > 0 && (rss - rssSeen_ >= 256 || heap - heapSeen_ >= 256))
                std::cerr << "soak: resident " << rssSeen_ << " -> " << rss << " KiB, heap in use "
                          << heapSeen_ << " -> " << heap << " KiB at " << static_cast<double>(ms_) / 1000.0
                          << " s, after " << lastAction_ << "\n";
            rssSeen_ = std::max(rssSeen_, rss);
            heapSeen_ = std::max(heapSeen_, heap);
        }
        if (ms_ == 60000) {
            rssAtMinute_ = residentKiB();
            heapAtMinute_ = heapInUseKiB();
        }
        if (ms_ > 60000) rssMax_ = std::max(rssMax_, ms_ % 1000 == 0 ? residentKiB() : rssMax_);
        if (ms_ == nextReport) {
            nextReport += 60000;
            if (!opt_.quiet)
                std::cerr << "soak: " << ms_ / 60000 << " min, " << actions_ << " actions, resident "
                          << residentKiB() << " KiB, heap in use " << heapInUseKiB() << " KiB\n";
        }
    }
    const long rssEnd = residentKiB();
    if (rssAtMinute_ > 0) rssMax_ = std::max(rssMax_, rssEnd);
    std::cout << "soak: seed " << opt_.seed << ", " << static_cast<double>(ms_) / 60000.0
              << " simulated minutes, " << actions_ << " actions, " << cycles_ << " cycles\n"
              << "soak: allocations in the cycles after the first: "
              << cycleAllocations_ - firstCycleAllocations_ << " in " << allocatingCycles_ << " cycles\n"
              << "soak: resident memory at 1 min " << rssAtMinute_ << " KiB, largest after " << rssMax_
              << " KiB, at the end " << rssEnd << " KiB\n"
              << "soak: heap in use at 1 min " << heapAtMinute_ << " KiB, at the end " << heapInUseKiB()
              << " KiB\n";
    // Every Prefs.ini key the instrument read has its row (range, default, documentation).
    if (!failed_ && !in_.prefs.unlistedReads().empty()) {
        std::string keys;
        for (const std::string& k : in_.prefs.unlistedReads()) keys += (keys.empty() ? "" : ", ") + k;
        fail("Prefs.ini keys read without their row in the table of keys: " + keys);
    }
    if (!failed_ && allocatingCycles_ > 0)
        fail(std::to_string(allocatingCycles_) + " processing cycles allocated (places above)");
    if (!failed_ && rssAtMinute_ > 0 &&
        static_cast<double>(rssMax_) > 1.05 * static_cast<double>(rssAtMinute_)) {
        fail("resident memory grew from " + std::to_string(rssAtMinute_) + " KiB to " +
             std::to_string(rssMax_) + " KiB after the first minute");
    }
    return failed_ ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    miral::app::useSteadyMemory();  // as the program's main does
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "soak: " << a << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--minutes") {
            auto v = miral::storage::parseReal(next());
            if (!v || *v <= 0) {
                std::cerr << "soak: --minutes takes a positive number\n";
                return 2;
            }
            o.minutes = *v;
        } else if (a == "--seed") {
            auto v = miral::storage::parseInteger(next());
            if (!v) {
                std::cerr << "soak: --seed takes an integer\n";
                return 2;
            }
            o.seed = static_cast<unsigned>(*v);
        } else if (a == "--dut") {
            o.dut = next();
        } else if (a == "--every") {
            auto v = miral::storage::parseInteger(next());
            if (!v || *v < 1 || *v > 100000) {
                std::cerr << "soak: --every takes milliseconds from 1 to 100000\n";
                return 2;
            }
            o.everyMs = static_cast<int>(*v);
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--resident-steps") {
            o.residentSteps = true;
        } else {
            std::cerr << "usage: soak [--minutes M] [--seed S] [--dut DEVICE] [--every MS] [--quiet] "
                         "[--resident-steps]\n";
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    const auto dir = std::filesystem::temp_directory_path() / ("miral_soak_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    int status = 0;
    {
        Soak soak(o, dir);
        status = soak.run();
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
