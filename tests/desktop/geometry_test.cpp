// Window arithmetic: animation steps, frame placement in a corner, and the monitor a window is on.
#include <gtest/gtest.h>

#include "geometry.hpp"

using desktop::Extents;
using desktop::Rect;

namespace {

struct StepCase {
    const char* name;
    Rect from;
    Rect to;
    int steps;
};

TEST(ResizeSteps, EndExactlyOnTargetAndMoveOneWay) {
    const StepCase cases[] = {
        {"grow", {100, 50, 400, 300}, {100, 50, 803, 601}, 8},
        {"shrink", {10, 20, 1024, 768}, {10, 20, 333, 257}, 8},
        {"move and grow", {0, 0, 200, 100}, {1201, 677, 519, 403}, 7},
        {"negative origin", {-50, -40, 300, 200}, {-1, 3, 299, 201}, 8},
        {"one step", {5, 5, 10, 10}, {6, 7, 8, 9}, 1},
        {"zero steps taken as one", {5, 5, 10, 10}, {6, 7, 8, 9}, 0},
        {"no change", {3, 4, 500, 600}, {3, 4, 500, 600}, 8},
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Rect> steps = desktop::resizeSteps(c.from, c.to, c.steps);
        ASSERT_EQ(steps.size(), static_cast<std::size_t>(std::max(c.steps, 1)));
        EXPECT_EQ(steps.back(), c.to);
        Rect previous = c.from;
        for (const Rect& s : steps) {
            // Every coordinate moves monotonically from its start to its end.
            EXPECT_GE((s.width - previous.width) * (c.to.width - c.from.width), 0);
            EXPECT_GE((s.height - previous.height) * (c.to.height - c.from.height), 0);
            EXPECT_GE((s.x - previous.x) * (c.to.x - c.from.x), 0);
            EXPECT_GE((s.y - previous.y) * (c.to.y - c.from.y), 0);
            previous = s;
        }
    }
}

TEST(ResizeSteps, IntermediateSizesLieBetween) {
    const std::vector<Rect> steps = desktop::resizeSteps({0, 0, 400, 300}, {0, 0, 800, 600}, 8);
    EXPECT_EQ(steps.front(), (Rect{0, 0, 450, 337}));
    EXPECT_EQ(steps[3], (Rect{0, 0, 600, 450}));
}

TEST(FramePlacement, LowerLeftCornerOfMonitorWithDecorations) {
    struct Case {
        const char* name;
        Rect monitor;
        Extents extents;
        int width, height;
        Rect client;
    } cases[] = {
        {"no decorations", {0, 0, 1920, 1080}, {}, 800, 600, {0, 480, 800, 600}},
        {"title bar and border", {0, 0, 1920, 1080}, {1, 1, 24, 1}, 800, 600, {1, 504, 798, 575}},
        {"monitor right of another", {1200, 0, 720, 1080}, {2, 3, 20, 4}, 500, 400, {1202, 700, 495, 376}},
        {"monitor below another", {0, 1080, 1280, 1024}, {0, 0, 30, 0}, 640, 480, {0, 1654, 640, 450}},
        {"smaller than decorations", {0, 0, 800, 600}, {5, 5, 30, 5}, 4, 4, {5, 594, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Rect client = desktop::frameAtLowerLeft(c.monitor, c.extents, c.width, c.height);
        EXPECT_EQ(client, c.client);
        if (client.width > 1) {
            // The outer frame: lower-left corner on the monitor's, exactly the size asked.
            EXPECT_EQ(client.x - c.extents.left, c.monitor.x);
            EXPECT_EQ(client.y + client.height + c.extents.bottom, c.monitor.y + c.monitor.height);
            EXPECT_EQ(client.width + c.extents.left + c.extents.right, c.width);
            EXPECT_EQ(client.height + c.extents.top + c.extents.bottom, c.height);
        }
    }
}

TEST(FramePlacement, KeepTopLeftChangesOnlyTheSize) {
    EXPECT_EQ(desktop::keepTopLeft({120, 80, 400, 300}, 800, 600), (Rect{120, 80, 800, 600}));
    EXPECT_EQ(desktop::keepTopLeft({120, 80, 400, 300}, 0, -5), (Rect{120, 80, 1, 1}));
}

TEST(MonitorChoice, LargestShareWinsAndPrimaryBreaksTies) {
    // Primary first, as the monitor list gives them: the primary on the right.
    const std::vector<Rect> monitors = {{1200, 0, 720, 1080}, {0, 0, 1200, 1080}};
    struct Case {
        const char* name;
        Rect window;
        int monitor;
    } cases[] = {
        {"inside the primary", {1300, 100, 400, 300}, 0},
        {"inside the other", {100, 100, 400, 300}, 1},
        {"mostly on the other", {900, 100, 400, 300}, 1},
        {"mostly on the primary", {1100, 100, 400, 300}, 0},
        {"evenly split", {1000, 100, 400, 300}, 0},
        {"off every monitor", {5000, 5000, 10, 10}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(desktop::monitorIndexFor(monitors, c.window), c.monitor);
    }
    EXPECT_EQ(desktop::monitorIndexFor({}, {0, 0, 10, 10}), -1);
}

}  // namespace

TEST(FramePlacement, FitIntoWorkArea) {
    struct Case {
        const char* name;
        Rect client;
        Extents extents;
        Rect area;
        Rect fitted;
    } cases[] = {
        {"fits: unchanged", {100, 100, 400, 300}, {1, 1, 20, 1}, {0, 0, 1280, 800}, {100, 100, 400, 300}},
        {"larger both ways: fills the area", {0, 0, 4000, 3000}, {1, 1, 20, 1}, {0, 0, 1280, 800},
         {1, 20, 1278, 779}},
        {"crosses the right edge: moved left", {1000, 50, 500, 300}, {2, 2, 20, 2}, {0, 0, 1280, 800},
         {778, 50, 500, 300}},
        {"crosses the bottom edge: moved up", {10, 700, 400, 300}, {0, 0, 0, 0}, {0, 0, 1280, 800},
         {10, 500, 400, 300}},
        {"above and left of the area: moved in", {-50, -50, 200, 100}, {1, 1, 20, 1}, {1200, 30, 720, 1050},
         {1201, 50, 200, 100}},
        {"panel at the top: work area below it", {1300, 0, 600, 2000}, {1, 1, 20, 1}, {1200, 30, 720, 1050},
         {1300, 50, 600, 1029}},
        {"area smaller than the decorations", {5, 5, 300, 300}, {10, 10, 30, 10}, {0, 0, 15, 20}, {10, 30, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(desktop::fitFrameInto(c.client, c.extents, c.area), c.fitted);
    }
}

TEST(Units, PixelsAndIntersections) {
    EXPECT_EQ(desktop::toPixels(500, 1.0), 500);
    EXPECT_EQ(desktop::toPixels(500, 2.0), 1000);
    EXPECT_EQ(desktop::toPixels(333, 1.5), 500);  // 499.5 rounds to the nearest pixel
    EXPECT_EQ(desktop::toPixels(-7, 2.0), -14);
    EXPECT_EQ(desktop::toPixels(2000000000, 4.0), 2147483647);
    EXPECT_EQ(desktop::intersection({0, 0, 1920, 1080}, {1200, 30, 800, 2000}), (Rect{1200, 30, 720, 1050}));
    const Rect apart = desktop::intersection({0, 0, 100, 100}, {200, 0, 100, 100});
    EXPECT_EQ(apart.width * apart.height, 0);
}
