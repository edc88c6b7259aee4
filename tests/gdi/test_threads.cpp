// Drawing from several threads at once, and the window system's DC calls made while it
// holds its own lock (which it takes after the drawing lock when it composites).
#include "canvas.h"
#include "platform/surface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

TEST(Threads, WindowSystemLockAndDrawingLockDoNotDeadlock) {
    auto surface = std::make_shared<platform::Surface>(64, 64, 0xFFFFFF);
    std::mutex windowSystem;
    std::atomic<bool> stop{false};
    std::thread compositor([&] {
        while (!stop) {
            std::lock_guard g(platform::GdiMutex());
            std::lock_guard w(windowSystem);
            (void)surface->at(0, 0);
        }
    });
    std::thread painter([&] {
        Canvas c(32, 32);
        RECT r{0, 0, 32, 32};
        while (!stop) DrawTextW(c.dc, L"中文", -1, &r, DT_NOPREFIX);
    });
    for (int i = 0; i < 300; ++i) {
        HDC dc;
        {
            std::lock_guard w(windowSystem);
            dc = platform::CreateSurfaceDC(surface, POINT{i % 8, 0}, RECT{0, 0, 64, 64});
            ASSERT_TRUE(platform::SetSurfaceDCGeometry(dc, POINT{0, i % 8}, RECT{0, 0, 32, 32}));
        }
        SetPixel(dc, 1, 1, RGB(255, 0, 0));
        DeleteDC(dc);
    }
    stop = true;
    compositor.join();
    painter.join();
    EXPECT_EQ(surface->at(1, 1), 0xFF0000u);
}

// Like the animation thread: one thread keeps drawing on a window DC while another paints
// the same window through its own DC.
TEST(Threads, TwoThreadsDrawIntoOneSurface) {
    auto surface = std::make_shared<platform::Surface>(100, 50, 0xFFFFFF);
    auto work = [&](int left, COLORREF colour) {
        HDC dc = platform::CreateSurfaceDC(surface, POINT{left, 0}, RECT{left, 0, left + 50, 50});
        Canvas frame(50, 50, colour);
        for (int i = 0; i < 200; ++i) {
            BitBlt(dc, 0, 0, 50, 50, frame.dc, 0, 0, SRCCOPY);
            RECT r{0, 0, 50, 50};
            SetBkMode(dc, TRANSPARENT);
            DrawTextW(dc, L"加载", -1, &r, DT_WORDBREAK);
        }
        BitBlt(dc, 0, 0, 50, 50, frame.dc, 0, 0, SRCCOPY);
        DeleteDC(dc);
    };
    std::thread a(work, 0, RGB(255, 0, 0)), b(work, 50, RGB(0, 0, 255));
    a.join();
    b.join();
    EXPECT_EQ(surface->at(10, 10), 0xFF0000u);
    EXPECT_EQ(surface->at(60, 10), 0x0000FFu);
}

}  // namespace
