// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/gui.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QPalette>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <clocale>
#include <csignal>
#include <iostream>

#include "app/form1.h"
#include "app/headless.h"
#include "app/panel_canvases.h"
#include "app/panel_widgets.h"
#include "app/qt_picture_export.h"
#include "app/questions.h"
#include "app/remote_server.h"
#include "app/window_shot.h"
#include "core/instrument.h"

namespace miral::app {

void setupApplication() {
    // Qt takes the user's locale for everything when it starts; numbers stay
    // with the decimal point.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Miral"));
    QApplication::setApplicationDisplayName(QStringLiteral("Miral"));
    QApplication::setDesktopFileName(QStringLiteral("org.miral.Miral"));
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(style);
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    QApplication::setFont(font);
    QPalette pal = QApplication::style()->standardPalette();
    pal.setColor(QPalette::Window, qcolor(core::kFormBack));
    pal.setColor(QPalette::Button, QColor(214, 210, 198));
    pal.setColor(QPalette::WindowText, QColor(0, 0, 0));
    pal.setColor(QPalette::ButtonText, QColor(0, 0, 0));
    QApplication::setPalette(pal);
}

namespace {

bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Picture of the window as the screen shows it (what a desktop screenshot
// would give), falling back to the window's own rendering.
QImage screenPicture(TForm1& form) {
    form.sync();
    if (QScreen* scr = form.screen()) {
        const QWidget* area = form.panelArea();
        const QPixmap pix =
            scr->grabWindow(form.winId(), area->x(), area->y(), area->width(), area->height());
        if (!pix.isNull() && pix.size() == area->size()) return pix.toImage();
    }
    return form.panelImage();
}

// The end of the session or a polite kill (SIGTERM, SIGHUP, SIGINT) closes
// the window as its close box does, so the panel is stored. The handler only
// writes to a pipe; the window thread reads it.
int gSignalPipe[2] = {-1, -1};

void onEndSignal(int sig) {
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &b, 1);
}

void closeOnEndSignals(TForm1& form) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
    ::fcntl(gSignalPipe[1], F_SETFL, O_NONBLOCK);
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &form);
    QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
        unsigned char b = 0;
        [[maybe_unused]] const ssize_t n = ::read(gSignalPipe[0], &b, 1);
        form.close();
    });
    struct sigaction sa {};
    sa.sa_handler = onEndSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace

int runWindow(const Options& options, int& argc, char** argv) {
    if (!haveDisplay()) {
        std::cerr << "miral: there is no display to open the window on (DISPLAY is not set);\n"
                     "       start it on a desktop, under xvfb-run, or with --headless\n";
        return 1;
    }
    QApplication app(argc, argv);
    setupApplication();

    core::Instrument in;
    useConfigDirectory(in, options);
    std::string inputProblem;
    if (const int rc = selectAudio(in, options, audio::TimeMode::RealTime, &inputProblem)) {
        // Opened from the file manager nobody reads stderr: a file that
        // cannot be opened is said in a message box.
        if (rc == 3) showInputFailure(nullptr, inputProblem);
        return rc;
    }

    // The canvases exist before the window is first shown, so that the
    // activation paints the knob faces into them.
    PanelCanvases canvases(in);
    if (options.seed) in.setNoiseSeed(*options.seed);
    in.FormCreate();
    // --window-shot without --headless: pictures of the running window after
    // a moment of running, then the program ends (without storing the panel).
    std::vector<std::string> shots;
    for (const Step& s : options.steps)
        if (s.kind == Step::Kind::WindowShot) shots.push_back(s.arg);
    FormOptions formOptions;
    formOptions.storeOnClose = shots.empty();
    TForm1 form(in, canvases, formOptions);
    // The Save button: Qt's save dialog and image writers.
    QtPictureWriter pictures;
    QtSaveDialog saveDialog(&form, &pictures);
    in.setPictureWriter(&pictures);
    in.setSaveDialog(&saveDialog);
    // The reset key asks before it forgets the stored panel.
    QtQuestion question(&form);
    in.setQuestion(&question);
    // Logging out of the desktop switches the instrument off as the power
    // key does (the session manager asks first; a kill at the end of the
    // session comes as a signal).
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager&) { form.close(); });
    closeOnEndSignals(form);
    form.show();
    // The automation API, served on this thread's event loop: its requests
    // run between the processing cycles.
    std::unique_ptr<RemoteServer> remote;
    if (options.remotePort != 0) {
        remote = std::make_unique<RemoteServer>(in, [&] { return screenPng(in, canvases); });
        remote->setQuitHandler([&form] { form.close(); });
        std::string error;
        if (remote->start(options.remotePort, &error)) {
            std::cerr << "miral: automation API on http://127.0.0.1:" << options.remotePort
                      << " and [::1] (token in " << (in.configDir() / kRemoteTokenFile).string() << ")"
                      << std::endl;
        } else {
            std::cerr << "miral: " << error << "\n";
            in.showStatusMessage(error);
            remote.reset();
        }
    }

    int shotStatus = 0;
    if (!shots.empty()) {
        QTimer::singleShot(1500, &form, [&] {
            for (const std::string& file : shots) {
                std::string error;
                if (!saveImage(screenPicture(form), file, &error)) {
                    std::cerr << "miral: --window-shot " << file << ": " << error << "\n";
                    shotStatus = 2;
                }
            }
            form.stopTimers();
            QCoreApplication::quit();
        });
    }
    const int rc = app.exec();
    remote.reset();
    form.stopTimers();
    // The streams close cleanly before the program ends.
    in.streams().StopPlayback();
    in.streams().StopCapture();
    in.setQuestion(nullptr);
    in.setSaveDialog(nullptr);
    in.setPictureWriter(nullptr);
    return rc != 0 ? rc : shotStatus;
}

}  // namespace miral::app
