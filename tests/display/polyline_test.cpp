// SPDX-License-Identifier: GPL-3.0-or-later
// A dense polyline (several points per screen column, as a scope trace at a
// slow time base) must paint exactly the pixels of the same lines drawn one
// by one.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "display/qimage_canvas.h"

namespace miral::display {
namespace {

TEST(Polyline, DenseTraceEqualsSegmentBySegment) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> yd(-20, 420);
    for (int width : {1, 2, 3}) {
        std::vector<Point> pts;
        for (int k = 1; k < 2205; ++k) pts.push_back({static_cast<int>(563.0 * k / 2205), yd(rng)});
        QImageCanvas a(600, 400, colors::Black), b(600, 400, colors::Black);
        for (QImageCanvas* c : {&a, &b}) {
            c->pen = Pen{colors::Yellow, width, PenStyle::Solid};
            c->moveTo(0, 200);
        }
        a.polyline(pts.data(), static_cast<int>(pts.size()));
        for (const Point& p : pts) b.lineTo(p.x, p.y);
        ASSERT_EQ(a.penPos, b.penPos);
        EXPECT_TRUE(a.image() == b.image()) << "pen width " << width;
    }
}

}  // namespace
}  // namespace miral::display
