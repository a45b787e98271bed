#include "app/gui.h"

#include <QApplication>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

#include <clocale>
#include <iostream>

#include "app/form1.h"
#include "app/panel_canvases.h"
#include "app/panel_widgets.h"
#include "app/qt_picture_export.h"
#include "app/window_shot.h"
#include "core/instrument.h"
#include "storage/preferences.h"

namespace miral::app {

void setupApplication() {
    // Qt takes the user's locale for everything when it starts; numbers stay
    // with the decimal point.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Miral"));
    QApplication::setApplicationDisplayName(QStringLiteral("Miral"));
    QApplication::setDesktopFileName(QStringLiteral("miral"));
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
        const QPixmap pix = scr->grabWindow(form.winId(), area->x(), area->y(), area->width(), area->height());
        if (!pix.isNull() && pix.size() == area->size()) return pix.toImage();
    }
    return form.panelImage();
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
    std::string err;
    std::optional<std::filesystem::path> chosen;
    if (options.configDir) chosen = *options.configDir;
    in.setConfigDir(storage::configDirectory(chosen, &err));
    if (!err.empty()) std::cerr << "miral: " << err << "\n";
    if (!options.dut.empty() && !in.streams().SetDeviceUnderTest(options.dut)) {
        std::cerr << "miral: --dut " << options.dut << ": " << in.streams().LastError() << "\n";
        return 2;
    }
    if (!options.audio.empty() && !in.streams().SelectDriver(options.audio, audio::TimeMode::RealTime)) {
        std::cerr << "miral: --audio " << options.audio << ": " << in.streams().LastError() << "\n";
        return options.audio.rfind("wav:", 0) == 0 ? 3 : 2;
    }
    // The simulated and WAV cards bring a mixer of their own.
    in.useMixerOfDriver();

    // The canvases exist before the window is first shown, so that the
    // activation paints the knob faces into them.
    PanelCanvases canvases(in);
    in.FormCreate();
    TForm1 form(in, canvases);
    // The Save button: Qt's save dialog and image writers.
    QtPictureWriter pictures;
    QtSaveDialog saveDialog(&form);
    in.setPictureWriter(&pictures);
    in.setSaveDialog(&saveDialog);
    form.show();

    // --window-shot without --headless: pictures of the running window after
    // a moment of running, then the program ends (without storing the panel).
    std::vector<std::string> shots;
    for (const Step& s : options.steps)
        if (s.kind == Step::Kind::WindowShot) shots.push_back(s.arg);
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
    form.stopTimers();
    in.setSaveDialog(nullptr);
    in.setPictureWriter(nullptr);
    return rc != 0 ? rc : shotStatus;
}

}  // namespace miral::app
