// SPDX-License-Identifier: GPL-3.0-or-later
// The screen's picture written by Qt: each offered format read back by Qt's
// own readers, refused formats and unwritable places, and the Save button of
// a headless run answered with --save-dialog.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>

#include "app/cli.h"
#include "app/headless.h"
#include "app/qt_picture_export.h"
#include "display/qimage_canvas.h"
#include "display/recording_canvas.h"

namespace miral::app {
namespace {

namespace fs = std::filesystem;

struct Dir {
    fs::path dir = fs::temp_directory_path() / ("miral_picture_" + std::to_string(::getpid()));
    Dir() {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Dir() { fs::remove_all(dir); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// A screen of 567 x 400 with a red block at (10..20, 30..40) on blue.
display::QImageCanvas screen() {
    display::QImageCanvas c(567, 400, display::rgb(0, 0, 255));
    c.brush.color = display::rgb(255, 0, 0);
    c.fillRect({10, 30, 20, 40});
    c.brush.color = display::rgb(0, 255, 0);
    c.fillRect({0, 399, 567, 400});  // the last row, which the picture leaves out
    return c;
}

TEST(PictureWriter, EachFormatReadsBack) {
    Dir d;
    display::QImageCanvas c = screen();
    QtPictureWriter w;
    w.capture(c, 567, 399);
    ASSERT_EQ(w.picture().size(), QSize(567, 399));
    std::string error;
    for (const char* name : {"a.bmp", "a.png", "a.jpg", "a.JPEG", "a.ico"}) {
        SCOPED_TRACE(name);
        const fs::path file = d.dir / name;
        ASSERT_TRUE(w.save(file.string(), &error)) << error;
        QImage back(QString::fromStdString(file.string()));
        ASSERT_FALSE(back.isNull());
        if (std::string(name) == "a.ico") {
            EXPECT_EQ(back.size(), QSize(256, 180));  // the largest icon, same shape
            continue;
        }
        EXPECT_EQ(back.size(), QSize(567, 399));
        const QColor red = back.pixelColor(15, 35), blue = back.pixelColor(300, 200),
                     last = back.pixelColor(300, 398);
        const int tol = std::string(name) == "a.bmp" || std::string(name) == "a.png" ? 0 : 12;
        EXPECT_NEAR(red.red(), 255, tol);
        EXPECT_NEAR(red.blue(), 0, tol);
        EXPECT_NEAR(blue.blue(), 255, tol);
        EXPECT_NEAR(last.green(), 0, tol);  // the green last row is not in the picture
    }
    EXPECT_EQ(d.names(), (std::vector<std::string>{"a.JPEG", "a.bmp", "a.ico", "a.jpg", "a.png"}));
}

TEST(PictureWriter, RefusedNamesAndPlacesLeaveNothing) {
    Dir d;
    display::QImageCanvas c = screen();
    QtPictureWriter w;
    std::string error;
    EXPECT_FALSE(w.save((d.dir / "early.jpg").string(), &error));  // nothing captured yet
    EXPECT_NE(error.find("no picture"), std::string::npos) << error;
    w.capture(c, 567, 399);
    for (const char* name : {"m.emf", "m.wmf", "noext"}) {
        EXPECT_FALSE(w.save((d.dir / name).string(), &error)) << name;
        EXPECT_NE(error.find(".jpg, .jpeg, .bmp, .png or .ico"), std::string::npos) << error;
    }
    EXPECT_FALSE(w.save((d.dir / "no" / "such.jpg").string(), &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    fs::create_directory(d.dir / "taken.png");
    EXPECT_FALSE(w.save((d.dir / "taken.png").string(), &error));
    EXPECT_EQ(d.names(), std::vector<std::string>{"taken.png"});
    // Another canvas than a QImage one is read pixel by pixel.
    display::RecordingCanvas rec(40, 30);
    rec.background = display::rgb(1, 2, 3);
    w.capture(rec, 100, 100);  // clipped to the canvas
    EXPECT_EQ(w.picture().size(), QSize(40, 30));
    EXPECT_EQ(w.picture().pixelColor(5, 5), QColor(1, 2, 3));
}

TEST(SaveDialog, FilterPairsBecomeQtFilters) {
    const QStringList f = qtNameFilters("JPEG Image File (*.jpg)|*.jpg|Bitmaps (*.bmp)|*.bmp");
    EXPECT_EQ(f, (QStringList{QStringLiteral("JPEG Image File (*.jpg)"), QStringLiteral("Bitmaps (*.bmp)")}));
}

TEST(SaveDialog, OffersPngFirstThenTwiceTheSizeJpegAndBmpAndWritesTheTypeChosen) {
    // The instrument's own filter, as the Save key passes it.
    const std::string filter =
        "PNG Image (*.png)|*.png|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps "
        "(*.bmp)|*.bmp";
    const QStringList offered = QtSaveDialog::offeredFilters(filter);
    ASSERT_EQ(offered.size(), 5);
    EXPECT_EQ(offered[0], "PNG Image (*.png)");
    EXPECT_EQ(QtSaveDialog::scaleOfFilter(offered[1]), 2);
    EXPECT_EQ(QtSaveDialog::scaleOfFilter(offered[0]), 1);
    for (const QString& f : offered) EXPECT_FALSE(f.contains("emf") || f.contains("wmf")) << f.toStdString();
    // A name typed without its type gets the chosen one; a typed type stays.
    EXPECT_EQ(QtSaveDialog::nameForFilter("/tmp/shot", offered[2]), "/tmp/shot.jpg");
    EXPECT_EQ(QtSaveDialog::nameForFilter("/tmp/shot", offered[4]), "/tmp/shot.bmp");
    EXPECT_EQ(QtSaveDialog::nameForFilter("/tmp/shot", offered[1]), "/tmp/shot.png");
    EXPECT_EQ(QtSaveDialog::nameForFilter("/tmp/shot.v2", offered[0]), "/tmp/shot.v2.png");
    EXPECT_EQ(QtSaveDialog::nameForFilter("/tmp/shot.BMP", offered[0]), "/tmp/shot.BMP");
}

TEST(PictureWriter, TwiceTheSizeIsSharpPixelBlocks) {
    Dir d;
    display::QImageCanvas c = screen();
    QtPictureWriter w;
    w.capture(c, 567, 399);
    w.setScale(2);
    std::string error;
    const fs::path file = d.dir / "big.png";
    ASSERT_TRUE(w.save(file.string(), &error)) << error;
    const QImage back(QString::fromStdString(file.string()));
    ASSERT_EQ(back.size(), QSize(1134, 798));
    // The red block (10..20, 30..40) now covers (20..40, 60..80) with hard edges.
    EXPECT_EQ(back.pixelColor(20, 60), QColor(255, 0, 0));
    EXPECT_EQ(back.pixelColor(39, 79), QColor(255, 0, 0));
    EXPECT_EQ(back.pixelColor(19, 60), QColor(0, 0, 255));
    EXPECT_EQ(back.pixelColor(40, 79), QColor(0, 0, 255));
    EXPECT_EQ(back.pixelColor(20, 80), QColor(0, 0, 255));
}

TEST(Headless, SaveButtonAnsweredFromTheCommandLine) {
    Dir d;
    const std::string jpg = (d.dir / "shot.jpg").string();
    const std::string cfg = (d.dir / "cfg").string();
    std::vector<std::string> args = {
        "miral", "--headless",  "--config-dir", cfg,   "--audio",       "sim", "--set",   "genon1=1",
        "--set", "CheckBox6=1", "--run",        "0.3", "--save-dialog", jpg,   "--click", "savescreen"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::string error;
    auto options = parseCommandLine(static_cast<int>(argv.size()), argv.data(), &error);
    ASSERT_TRUE(options) << error;
    ASSERT_EQ(runHeadless(*options), 0);
    EXPECT_EQ(QImage(QString::fromStdString(jpg)).size(), QSize(567, 399));
    EXPECT_GT(fs::file_size(d.dir / "shot.mat"), 128u + 2 * 131072);
    EXPECT_FALSE(fs::exists(d.dir / "shot.bin"));  // "BINARY" was not checked
}

}  // namespace
}  // namespace miral::app
