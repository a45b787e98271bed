// SPDX-License-Identifier: GPL-3.0-or-later
// The window on the desktop (Qt's offscreen platform) with its own timers,
// playing and recording through the private PulseAudio server while the
// server is killed and started again: what the user sees on the screen, the
// level bars, the generator readout and the status line. scripts/test starts
// the server; without it the test is skipped.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/form1.h"
#include "app/panel_canvases.h"
#include "core/instrument.h"
#include "core/operate.h"
#include "display/screen.h"
#include "sound_servers.h"

namespace miral::app {
namespace {

using core::Ctl;
namespace fs = std::filesystem;

// Lets the window's timers run until `done` holds, at most `seconds`; the
// time it took, or -1.
double waitFor(double seconds, const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const double t = clock.elapsed() / 1000.0;
        if (done()) return t;
        if (t > seconds) return -1.0;
        QTest::qWait(20);
    }
}

int count(const QImage& image, QRgb color, const QRect& r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == (color & 0xFFFFFF);
    return n;
}

TEST(WindowServerLoss, TheWindowShowsTheLossAndTheToneReturnsByItself) {
    if (!test::PulseThere()) GTEST_SKIP() << "no private PulseAudio server (scripts/test starts one)";
    test::PulseRevival revival;
    for (const char* cmd : {"pactl set-sink-volume @DEFAULT_SINK@ 100% >/dev/null 2>&1",
                            "pactl set-source-volume @DEFAULT_SOURCE@ 100% >/dev/null 2>&1"})
        if (std::system(cmd) != 0) ADD_FAILURE() << cmd;
    const fs::path dir = fs::temp_directory_path() / ("miral_window_loss_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "Prefs.ini")
        << "rx_buffersize=1024\nnum_rx_buffers=4\ntx_buffersize=1024\nnum_tx_buffers=4\n";
    {
        core::Instrument in;
        in.setConfigDir(dir);
        in.panel.setRequireShowing(false);  // the gain correction's box is on a settings page not shown
        ASSERT_TRUE(in.streams().SelectDriver("pulse")) << in.streams().LastError();
        PanelCanvases canvases(in);
        in.FormCreate();
        // The desktop program's timers, without its dialogs.
        TForm1 form(in, canvases, FormOptions{true, false});
        form.show();
        QCoreApplication::processEvents();
        ASSERT_TRUE(in.activated());
        // The first cycle restores the panel; the user's settings come after.
        ASSERT_GE(waitFor(3.0, [&] { return !in.st.RestoreOnFirstTick; }), 0.0);
        std::string err;
        ASSERT_TRUE(core::operateSet(in, "genampl", "100", &err)) << err;
        ASSERT_TRUE(core::operateSet(in, "genon1", "1", &err)) << err;
        ASSERT_TRUE(core::operateSet(in, "CheckBox4", "0", &err)) << err;

        const double played = 32000.0 / 1.1;
        auto toneThere = [&] {
            const double l = test::ToneAt(in.st.TimeWorkA.data(), in.st.FftSize, 440.0, in.st.AnalysisRate);
            return std::fabs(l / played - 1.0) < 0.05;
        };
        // What the user sees: the screen, the channel A level bar, the readout.
        const int w = in.panel.state(Ctl::PaintBox1).width, h = in.panel.state(Ctl::PaintBox1).height;
        auto screen = [&] { return form.control(Ctl::PaintBox1)->grab().toImage(); };
        const QRect middle(w / 2 - 60, h / 2 - 6, 120, 12);
        const QRgb bannerBack = qRgb(display::red(display::kBannerBack), display::green(display::kBannerBack),
                                     display::blue(display::kBannerBack));
        const QRgb bannerText = qRgb(display::red(display::kBannerText), display::green(display::kBannerText),
                                     display::blue(display::kBannerText));
        auto barGreen = [&] {
            const QImage bar = form.control(Ctl::bar1)->grab().toImage();
            return count(bar, qRgb(90, 220, 90), bar.rect());
        };
        // The readout label paints the caption of its control.
        auto readout = [&] { return in.panel.caption(Ctl::gendispl); };

        ASSERT_GE(waitFor(6.0, toneThere), 0.0) << "no tone at the start: " << in.st.StatusText;
        EXPECT_GT(barGreen(), 0);
        EXPECT_EQ(count(screen(), bannerBack, middle), 0);

        ASSERT_TRUE(test::PulseScript("miral_pulse_kill"));
        const double seen = waitFor(3.0, [&] { return in.streams().CaptureLost(); });
        ASSERT_GE(seen, 0.0) << in.st.StatusText;
        EXPECT_LE(seen, 1.0);
        std::printf("window: killed server seen after %.2f s\n", seen);
        waitFor(1.2, [] { return false; });
        const QImage lost = screen();
        EXPECT_GT(count(lost, bannerBack, middle), 200) << "no banner on the screen";
        EXPECT_GT(count(lost, bannerText, QRect(0, 0, w, h)), 300) << "no banner text";
        EXPECT_EQ(barGreen(), 0) << "the level bar did not drop";
        EXPECT_EQ(readout(), core::kGeneratorStopped);
        // The stream failure banner over the top of the screen says so too.
        const auto* failure = form.findChild<QLabel*>(QStringLiteral("FailureBanner"));
        ASSERT_NE(failure, nullptr);
        EXPECT_TRUE(failure->isVisible());
        EXPECT_NE(failure->text().toStdString().find("retrying"), std::string::npos)
            << failure->text().toStdString();

        ASSERT_TRUE(test::PulseScript("miral_pulse_restart"));
        const double back = waitFor(6.0, toneThere);
        ASSERT_GE(back, 0.0) << "the tone did not return: " << in.st.StatusText;
        EXPECT_LE(back, 3.0);
        std::printf("window: tone back %.2f s after the server answered again\n", back);
        waitFor(0.3, [] { return false; });
        EXPECT_EQ(count(screen(), bannerBack, middle), 0) << "the banner stayed";
        EXPECT_GT(barGreen(), 0);
        EXPECT_EQ(readout(), "440");
        form.stopTimers();
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace miral::app
