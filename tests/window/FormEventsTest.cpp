// The hook slot table driven with synthetic messages through a fake window
// system whose windows answer every message with a preset value.
#include "RecordingSink.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace formevents;

namespace {

// Every window's original procedure answers g_answer and counts the call.
std::intptr_t g_answer = 0;
int g_delivered = 0;

std::intptr_t OriginalProc(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
    ++g_delivered;
    return g_answer;
}

struct FakeWindowSystem : WindowSystem {
    WindowProc SetWindowProc(WindowHandle window, WindowProc procedure) override {
        const WindowProc previous = Proc(window);
        procs[window] = procedure;
        return previous;
    }
    WindowProc Proc(WindowHandle window) const {
        return procs.count(window) ? procs.at(window) : &OriginalProc;
    }
    std::intptr_t Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam = 0,
                       const void* lParam = nullptr) {
        return Proc(window)(window, message, wParam, reinterpret_cast<std::intptr_t>(lParam));
    }
    bool LockWindowUpdate(WindowHandle) override { return false; }
    void UnlockWindowUpdate() override {}
    void UpdateWindow(WindowHandle) override {}

    std::map<WindowHandle, WindowProc> procs;
};

struct FakeForm : HookableForm {
    explicit FakeForm(WindowHandle w) : window(w) {}
    WindowHandle FormWindow() const override { return window; }
    WindowHandle window;
};

class FormEventsTest : public ::testing::Test {
  protected:
    FormEventsTest() {
        SetWindowSystem(&system);
        g_answer = 0;
        g_delivered = 0;
    }
    ~FormEventsTest() override {
        for (std::int16_t n = 1; n <= HookSlotCount; ++n)
            UnhookWindow(n);
        SetWindowSystem(nullptr);
    }
    FakeWindowSystem system;
};

// One form hooked through the first slot.
class HookedForm : public FormEventsTest {
  protected:
    HookedForm() { formX.SetHookedForm(&form); }
    static constexpr WindowHandle W = 100;
    RecordingSink sink;
    FakeForm form{W};
    CFormEvents formX{&sink};
};

std::intptr_t PackPoint(std::int16_t x, std::int16_t y) {
    return std::intptr_t(std::uint16_t(x) | (std::uint32_t(std::uint16_t(y)) << 16));
}

} // namespace

// The default handling runs first, every time; the answer is what the
// handler leaves (a failing handler leaves the answer reached before it).
// Coordinates left of and above the primary screen are negative. A
// rectangle the handler leaves alone keeps the default handling's answer; a
// changed one answers -1. Moving follows the same rule.
TEST_F(HookedForm, HitTestAndRectanglesAnswerWhatTheHandlerLeaves) {
    ASSERT_EQ(formX.SlotNumber(), 1);
    const auto hitTest = [&](std::intptr_t answer, std::intptr_t point = 0) {
        g_answer = answer;
        return system.Proc(W)(W, WM_NCHITTEST, 0, point);
    };
    EXPECT_EQ(hitTest(HTTOP, PackPoint(10, 20)), HTNOWHERE);
    EXPECT_EQ(hitTest(HTBOTTOM, PackPoint(-5, -1200)), HTNOWHERE);
    EXPECT_EQ(hitTest(HTRIGHT), HTRIGHT);
    sink.fail = true;
    EXPECT_EQ(hitTest(HTTOP), HTTOP);
    EXPECT_EQ(g_delivered, 4);
    sink.fail = false;
    WindowRect rect{10, 20, 300, 200}, moved{0, 0, 50, 50};
    g_answer = 1;
    EXPECT_EQ(system.Send(W, WM_SIZING, WMSZ_RIGHT, &rect), 1);
    g_answer = 0;
    sink.edge = 420;
    EXPECT_EQ(system.Send(W, WM_SIZING, WMSZ_BOTTOMRIGHT, &rect), -1);
    EXPECT_EQ((std::vector{rect.left, rect.top, rect.right, rect.bottom}),
              (std::vector{10, 20, 420, 200}));
    sink.edge = 5;
    EXPECT_EQ(system.Send(W, WM_MOVING, 9, &moved), -1);
    EXPECT_EQ(moved.left, 5);
    EXPECT_EQ(sink.log, (std::vector<std::string>{"NCHitTest 10 20 12", "NCHitTest -5 -1200 15",
                                                  "NCHitTest 0 0 11", "NCHitTest 0 0 12",
                                                  "Resizing 10 20 300 200 2",
                                                  "Resizing 10 20 300 200 8", "Moving 9"}));
}

// A form is hooked once; moving to another form or to none gives the window
// its procedure back; a second release finds nothing to do.
// A sink that handles nothing leaves every default answer.
TEST_F(FormEventsTest, SettingTheFormHooksOnceAndReleasesOnce) {
    FormEventsSink sink;
    FakeForm a(1), b(2), c(3);
    CFormEvents formX(&sink), other(&sink);
    formX.SetHookedForm(nullptr);
    EXPECT_TRUE(formX.SlotNumber() == 0 && system.procs.empty());
    formX.SetHookedForm(&a);
    const WindowProc hooked = system.Proc(1);
    formX.SetHookedForm(&a);
    EXPECT_EQ(std::make_pair(system.Proc(1), formX.hWnd()),
              std::make_pair(hooked, WindowHandle(1)));
    g_answer = 7;
    WindowRect rect{};
    MinMaxInfo info{};
    for (std::uint32_t message : {WM_MOVE, WM_ACTIVATEAPP, WM_NCACTIVATE, WM_NCHITTEST})
        EXPECT_EQ(system.Send(1, message, 1), 7) << message;
    for (std::uint32_t message : {WM_SIZING, WM_MOVING})
        EXPECT_EQ(system.Send(1, message, 0, &rect), 7) << message;
    EXPECT_EQ(system.Send(1, WM_GETMINMAXINFO, 0, &info), 7);
    formX.SetHookedForm(&b);
    EXPECT_EQ(
        std::make_tuple(system.Proc(1), formX.SlotNumber(), SlotWindow(1), formX.HookedForm()),
        std::make_tuple(&OriginalProc, 1, WindowHandle(2), static_cast<HookableForm*>(&b)));
    formX.SetHookedForm(nullptr);
    EXPECT_EQ(std::make_pair(system.Proc(2), formX.hWnd()),
              std::make_pair(&OriginalProc, WindowHandle(0)));
    other.SetHookedForm(&c);
    formX.SetHookedForm(nullptr);
    UnhookWindow(0);
    EXPECT_EQ(SlotWindow(1), 3u);
}
