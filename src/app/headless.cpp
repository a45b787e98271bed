// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/headless.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QTimer>
#include <iostream>
#include <memory>
#include <sstream>

#include "app/form1.h"
#include "app/gui.h"
#include "app/panel_canvases.h"
#include "app/qt_picture_export.h"
#include "app/questions.h"
#include "app/remote_server.h"
#include "app/window_shot.h"
#include "core/instrument.h"
#include "core/operate.h"
#include "core/runner.h"
#include "storage/preferences.h"

namespace miral::app {

namespace {

std::vector<std::string> splitList(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream ss(s);
    std::string item;
    while (std::getline(ss, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

}  // namespace

QByteArray screenPng(core::Instrument& in, PanelCanvases& canvases) {
    const core::ControlState& pb = in.panel.state(core::Ctl::PaintBox1);
    const display::QImageCanvas* screen = canvases.canvas(core::Ctl::PaintBox1);
    if (!screen) return {};
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    screen->image().copy(0, 0, pb.width, pb.height).save(&buffer, "PNG");
    return png;
}

void useConfigDirectory(core::Instrument& in, const Options& options) {
    std::string err;
    std::optional<std::filesystem::path> chosen;
    if (options.configDir) chosen = *options.configDir;
    std::filesystem::path configDir = storage::configDirectory(chosen, &err);
    in.setConfigDir(std::move(configDir), err);
    if (!err.empty()) std::cerr << "miral: " << err << "\n";
}

int selectAudio(core::Instrument& in, const Options& options, audio::TimeMode mode, std::string* message) {
    auto fail = [&](int code, const std::string& text) {
        std::cerr << "miral: " << text << "\n";
        if (message) *message = text;
        return code;
    };
    if (!options.dut.empty() && !in.streams().SetDeviceUnderTest(options.dut))
        return fail(2, "--dut " + options.dut + ": " + in.streams().LastError());
    if (options.audio.rfind("bundle:", 0) == 0) {
        std::string error;
        if (!in.openBundle(options.audio.substr(7), &error)) return fail(3, error);
    } else if (!options.audio.empty() && !in.streams().SelectDriver(options.audio, mode)) {
        return fail(options.audio.rfind("wav:", 0) == 0 ? 3 : 2,
                    "--audio " + options.audio + ": " + in.streams().LastError());
    }
    // The simulated, WAV and bundle cards bring a mixer of their own.
    in.useMixerOfDriver();
    return 0;
}

int runHeadless(const Options& options) {
    // Pictures of the panel are painted with Qt, on its offscreen platform:
    // no display is needed. (Tests may already run a QApplication.)
    std::unique_ptr<QApplication> ownApp;
    if (QCoreApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Qt wants a private runtime folder; without a desktop session there is
        // none, so give it one quietly instead of a warning on every run.
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            std::string dir = "/tmp/miral-runtime-" + std::to_string(::getuid());
            ::mkdir(dir.c_str(), 0700);
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
        }
        static int argc = 1;
        static char name[] = "miral";
        static char* argv[] = {name, nullptr};
        ownApp = std::make_unique<QApplication>(argc, argv);
        setupApplication();
    } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::cerr << "miral: the headless runner needs a QApplication\n";
        return 2;
    }

    core::Instrument in;
    useConfigDirectory(in, options);
    in.panel.setRequireShowing(false);

    // The sound card: the simulated bench, WAV files and bundles run in
    // simulated time (repeatable), real cards in real time.
    const bool simulated = options.audio == "sim" || options.audio.rfind("wav:", 0) == 0 ||
                           options.audio.rfind("bundle:", 0) == 0;
    if (const int rc =
            selectAudio(in, options, simulated ? audio::TimeMode::Simulated : audio::TimeMode::RealTime))
        return rc;

    // The knob images, the screen and the tuner boxes exist before the
    // activation paints the knob faces.
    PanelCanvases canvases(in);
    // The Save button: pictures with Qt, the dialog answered by --save-dialog.
    QtPictureWriter pictures;
    AnsweredSaveDialog saveDialog;
    in.setPictureWriter(&pictures);
    in.setSaveDialog(&saveDialog);
    // The instrument's questions (the reset key's): "yes" unless --answer no.
    AnsweredQuestion question;
    in.setQuestion(&question);
    if (options.seed) in.setNoiseSeed(*options.seed);
    in.FormCreate();
    in.FormActivate();
    // The window is made only when a picture of it is asked for; it mirrors
    // the same instrument and leaves the timing to the runner.
    std::unique_ptr<TForm1> window;
    core::Runner runner(in, simulated);
    runner.start();

    // What the window shows in its status line (a stream that failed, a file
    // that could not be read) goes to stderr here, once per new message.
    std::string lastStatus;
    auto reportStatus = [&] {
        if (!in.st.StatusText.empty() && in.st.StatusText != lastStatus)
            std::cerr << "miral: " << in.st.StatusText << "\n";
        lastStatus = in.st.StatusText;
    };
    std::string error;
    // A step whose argument is "LEFT=RIGHT": false, with the reason on
    // stderr, when the argument is not of that form or the step fails.
    auto pairStep = [&](const char* flag, const char* form, const std::string& arg, auto&& run) {
        const auto eq = arg.find('=');
        if (eq == std::string::npos) {
            std::cerr << "miral: " << flag << " " << arg << ": expected " << form << "\n";
            return false;
        }
        if (!run(arg.substr(0, eq), arg.substr(eq + 1))) {
            std::cerr << "miral: " << flag << " " << arg << ": " << error << "\n";
            return false;
        }
        return true;
    };
    for (const Step& step : options.steps) {
        error.clear();
        switch (step.kind) {
            case Step::Kind::Set:
                if (!pairStep("--set", "NAME=VALUE", step.arg,
                              [&](const std::string& name, const std::string& value) {
                                  return core::operateSet(in, name, value, &error);
                              }))
                    return 2;
                break;
            case Step::Kind::Click:
                if (!core::operateClick(in, step.arg, &error)) {
                    std::cerr << "miral: --click " << step.arg << ": " << error << "\n";
                    return 2;
                }
                // The loopback test runs to its end (at most a minute).
                for (int i = 0; i < 600 && in.loopbackRunning() && !in.terminateRequested(); ++i)
                    runner.runFor(0.1);
                break;
            case Step::Kind::Print:
                for (const std::string& name : splitList(step.arg)) {
                    std::string line;
                    if (!core::operatePrint(in, name, &line, &error)) {
                        std::cerr << "miral: --print " << name << ": " << error << "\n";
                        return 2;
                    }
                    std::cout << line << "\n";
                }
                break;
            case Step::Kind::Run: {
                auto secs = storage::parseReal(step.arg);
                if (!secs || *secs < 0) {
                    std::cerr << "miral: --run " << step.arg << ": expected a number of seconds\n";
                    return 2;
                }
                runner.runFor(*secs);
                break;
            }
            case Step::Kind::Dump:
                if (!pairStep("--dump", "ARRAY=FILE", step.arg,
                              [&](const std::string& name, const std::string& file) {
                                  return core::dumpArray(in, name, file, &error);
                              }))
                    return 2;
                break;
            case Step::Kind::WindowShot: {
                if (!window) {
                    window = std::make_unique<TForm1>(in, canvases, FormOptions{false, false, false});
                    window->show();
                }
                QCoreApplication::processEvents();
                if (!saveWindowShot(*window, step.arg, &error)) {
                    std::cerr << "miral: --window-shot " << step.arg << ": " << error << "\n";
                    return 2;
                }
                break;
            }
            case Step::Kind::Answer:
                if (step.arg == "yes" || step.arg == "no") {
                    question.answer = step.arg == "yes";
                } else {
                    std::cerr << "miral: --answer " << step.arg << ": expected yes or no\n";
                    return 2;
                }
                break;
            case Step::Kind::SaveBundle:
                if (!in.saveBundle(step.arg, &error)) {
                    std::cerr << "miral: --save-bundle " << step.arg << ": " << error << "\n";
                    return 2;
                }
                break;
            case Step::Kind::SaveDialog:
                if (step.arg.empty()) {
                    saveDialog.answer.reset();
                } else {
                    saveDialog.answer = step.arg;
                }
                break;
            case Step::Kind::Screenshot: {
                // The screen as it was last presented, at the screen's size.
                const core::ControlState& pb = in.panel.state(core::Ctl::PaintBox1);
                const display::QImageCanvas* screen = canvases.canvas(core::Ctl::PaintBox1);
                const QImage picture = screen->image().copy(0, 0, pb.width, pb.height);
                if (!saveImage(picture, step.arg, &error)) {
                    std::cerr << "miral: --screenshot " << step.arg << ": " << error << "\n";
                    return 2;
                }
                break;
            }
        }
        reportStatus();
        if (in.terminateRequested()) break;
    }
    std::cout.flush();
    if (options.remotePort != 0 && !in.terminateRequested()) {
        // The automation API: the instrument keeps running in real time (the
        // simulated bench and WAV files at the pace of the clock) until
        // POST /quit or a polite kill, which switch it off as "ON" does.
        RemoteServer server(in, [&] { return screenPng(in, canvases); });
        error.clear();
        if (!server.start(options.remotePort, &error)) {
            std::cerr << "miral: " << error << "\n";
            in.setQuestion(nullptr);
            return 2;
        }
        in.setTerminateHandler([] { QCoreApplication::quit(); });
        server.setQuitHandler([] { QCoreApplication::quit(); });
        onEndSignals(&server, [&in] {
            std::string why;
            if (in.panel.down(core::Ctl::Panel29)) core::operateClick(in, "Panel29", &why);
            QCoreApplication::quit();
        });
        std::cerr << "miral: automation API on http://127.0.0.1:" << options.remotePort
                  << " and [::1] (token in " << (in.configDir() / kRemoteTokenFile).string() << ")"
                  << std::endl;
        QElapsedTimer clock;
        clock.start();
        const double start = runner.now();
        QTimer ticks;
        ticks.setTimerType(Qt::PreciseTimer);
        ticks.setInterval(1);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            // One cycle per timeout: a request waiting on the event loop is
            // served after at most one cycle, however slow the cycles are.
            runner.tickAt(start + static_cast<double>(clock.elapsed()) / 1000.0);
            reportStatus();
            if (in.terminateRequested()) QCoreApplication::quit();
        });
        ticks.start();
        QCoreApplication::exec();
        in.setTerminateHandler({});
    }
    in.setQuestion(nullptr);
    return 0;
}

}  // namespace miral::app
