// The hook slot table driven with synthetic messages through a fake window
// system whose windows answer every message with a preset value.
#include "window/FormEvents.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace formevents;

namespace {

struct Delivered {
    WindowHandle window;
    std::uint32_t message;
};

// Every window's original procedure answers g_answer and logs the call.
std::intptr_t g_answer = 0;
std::vector<Delivered> g_delivered;

std::intptr_t OriginalProc(WindowHandle window, std::uint32_t message, std::uintptr_t,
                           std::intptr_t) {
    g_delivered.push_back({window, message});
    return g_answer;
}

class FakeWindowSystem : public WindowSystem {
  public:
    WindowProc SetWindowProc(WindowHandle window, WindowProc procedure) override {
        WindowProc previous = Proc(window);
        procs[window] = procedure;
        return previous;
    }
    WindowProc Proc(WindowHandle window) const {
        auto it = procs.find(window);
        return it == procs.end() ? &OriginalProc : it->second;
    }
    std::intptr_t Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam = 0,
                       std::intptr_t lParam = 0) {
        return Proc(window)(window, message, wParam, lParam);
    }
    bool LockWindowUpdate(WindowHandle window) override {
        if (frozen != 0) return false;
        frozen = window;
        return true;
    }
    void UnlockWindowUpdate() override { frozen = 0; }
    void UpdateWindow(WindowHandle window) override { repainted.push_back(window); }

    std::map<WindowHandle, WindowProc> procs;
    WindowHandle frozen = 0;
    std::vector<WindowHandle> repainted;
};

struct FakeForm : HookableForm {
    explicit FakeForm(WindowHandle w) : window(w) {}
    WindowHandle FormWindow() const override { return window; }
    WindowHandle window;
};

// Records the events and answers them as the test asks.
struct RecordingSink : FormEventsSink {
    void ActivateApp() override { events.push_back("ActivateApp"); }
    void DeactivateApp() override { events.push_back("DeactivateApp"); }
    void Move() override { events.push_back("Move"); }
    void GetMinMaxInfo(std::int32_t& maxSizeX, std::int32_t& maxSizeY, std::int32_t& maxPosX,
                       std::int32_t& maxPosY, std::int32_t& minTrackX, std::int32_t& minTrackY,
                       std::int32_t& maxTrackX, std::int32_t& maxTrackY) override {
        events.push_back("GetMinMaxInfo");
        seen = {maxSizeX, maxSizeY, maxPosX, maxPosY, minTrackX, minTrackY, maxTrackX, maxTrackY};
        if (setMinTrackX) minTrackX = *setMinTrackX;
    }
    void NCHitTest(std::int16_t x, std::int16_t y, std::int32_t& hitCode) override {
        events.push_back("NCHitTest");
        seen = {x, y, hitCode};
        if (hitCode == HTTOP || hitCode == HTBOTTOM) hitCode = HTNOWHERE;
        if (throwInHandler) throw std::runtime_error("handler failed");
    }
    void Resizing(std::int32_t& x1, std::int32_t& y1, std::int32_t& x2, std::int32_t& y2,
                  std::int16_t border) override {
        events.push_back("Resizing");
        seen = {x1, y1, x2, y2, border};
        if (setX2) x2 = *setX2;
        if (nested) nested();
    }
    void Moving(std::int32_t& x1, std::int32_t&, std::int32_t&, std::int32_t&,
                std::int16_t border) override {
        events.push_back("Moving");
        seen = {border};
        if (setX2) x1 = *setX2;
    }
    void NCActivate(std::int32_t& state) override {
        events.push_back("NCActivate");
        seen = {state};
        state = 12345;
    }

    std::vector<std::string> events;
    std::vector<std::int32_t> seen;
    std::optional<std::int32_t> setMinTrackX, setX2;
    bool throwInHandler = false;
    std::function<void()> nested;
};

class FormEventsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetWindowSystem(&system);
        g_answer = 0;
        g_delivered.clear();
    }
    void TearDown() override {
        for (std::int16_t n = 1; n <= HookSlotCount; ++n)
            UnhookWindow(n);
        SetWindowSystem(nullptr);
    }
    FakeWindowSystem system;
};

// One form hooked through the first slot.
class HookedForm : public FormEventsTest {
  protected:
    void SetUp() override {
        FormEventsTest::SetUp();
        formX.emplace(&sink);
        formX->SetHookedForm(&form);
    }
    void TearDown() override {
        formX.reset();
        FormEventsTest::TearDown();
    }
    static constexpr WindowHandle W = 100;
    RecordingSink sink;
    FakeForm form{W};
    std::optional<CFormEvents> formX;
};

std::intptr_t PackPoint(std::int16_t x, std::int16_t y) {
    return static_cast<std::intptr_t>(
        static_cast<std::uint16_t>(x) |
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16));
}

} // namespace

TEST_F(HookedForm, HitTestAnswerIsWhatTheHandlerLeaves) {
    ASSERT_EQ(formX->SlotNumber(), 1);

    g_answer = HTTOP;
    EXPECT_EQ(system.Send(W, WM_NCHITTEST, 0, PackPoint(10, 20)), HTNOWHERE);
    EXPECT_EQ(sink.seen, (std::vector<std::int32_t>{10, 20, HTTOP}));
    g_answer = HTBOTTOM;
    EXPECT_EQ(system.Send(W, WM_NCHITTEST), HTNOWHERE);
    g_answer = HTRIGHT;
    EXPECT_EQ(system.Send(W, WM_NCHITTEST), HTRIGHT);
    // The default handling ran first, every time.
    ASSERT_EQ(g_delivered.size(), 3u);
    EXPECT_EQ(g_delivered[0].message, WM_NCHITTEST);

    // Left of and above the primary screen the coordinates are negative.
    system.Send(W, WM_NCHITTEST, 0, PackPoint(-5, -1200));
    EXPECT_EQ(sink.seen[0], -5);
    EXPECT_EQ(sink.seen[1], -1200);
}

TEST_F(HookedForm, SizingRectangleChangesOnlyWhenTheHandlerChangesIt) {

    WindowRect rect{10, 20, 300, 200};
    EXPECT_EQ(system.Send(W, WM_SIZING, WMSZ_RIGHT, reinterpret_cast<std::intptr_t>(&rect)), 0);
    EXPECT_EQ(sink.seen, (std::vector<std::int32_t>{10, 20, 300, 200, WMSZ_RIGHT}));
    EXPECT_EQ(rect.right, 300);

    // An answer of its own from the default handling survives an idle handler.
    g_answer = 1;
    EXPECT_EQ(system.Send(W, WM_SIZING, WMSZ_LEFT, reinterpret_cast<std::intptr_t>(&rect)), 1);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.right, 300);

    g_answer = 0;
    sink.setX2 = 420;
    EXPECT_EQ(system.Send(W, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<std::intptr_t>(&rect)),
              -1);
    EXPECT_EQ(rect.right, 420);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.bottom, 200);

    // Moving follows the same rule with its own event.
    WindowRect moved{0, 0, 50, 50};
    sink.setX2 = 5;
    EXPECT_EQ(system.Send(W, WM_MOVING, 9, reinterpret_cast<std::intptr_t>(&moved)), -1);
    EXPECT_EQ(sink.events.back(), "Moving");
    EXPECT_EQ(moved.left, 5);
}

TEST_F(HookedForm, MinMaxInfoAndTheParameterlessEvents) {

    MinMaxInfo info{-1, -2, 1920, 1080, 0, 0, 100, 50, 4000, 3000};
    sink.setMinTrackX = 640;
    EXPECT_EQ(system.Send(W, WM_GETMINMAXINFO, 0, reinterpret_cast<std::intptr_t>(&info)), 0);
    EXPECT_EQ(sink.seen, (std::vector<std::int32_t>{1920, 1080, 0, 0, 100, 50, 4000, 3000}));
    EXPECT_EQ(info.minTrackX, 640);
    EXPECT_EQ(info.reservedX, -1);
    EXPECT_EQ(info.reservedY, -2);
    EXPECT_EQ(info.maxTrackY, 3000);

    system.Send(W, WM_ACTIVATEAPP, 1);
    system.Send(W, WM_ACTIVATEAPP, 0);
    system.Send(W, WM_MOVE);
    g_answer = 1;
    // The frame was already drawn: a changed state is not the answer.
    EXPECT_EQ(system.Send(W, WM_NCACTIVATE, 1), 1);
    EXPECT_EQ(sink.seen, (std::vector<std::int32_t>{1}));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"GetMinMaxInfo", "ActivateApp",
                                                     "DeactivateApp", "Move", "NCActivate"}));

    // Every other message goes to the default handling only.
    g_answer = 77;
    EXPECT_EQ(system.Send(W, 0x0F), 77);
    EXPECT_EQ(sink.events.size(), 5u);
}

TEST_F(FormEventsTest, SettingTheFormHooksOnceAndReleasesOnce) {
    RecordingSink sink;
    FakeForm a(1), b(2);
    CFormEvents formX(&sink);
    formX.SetHookedForm(nullptr);
    EXPECT_EQ(formX.SlotNumber(), 0);
    EXPECT_EQ(system.procs.size(), 0u);

    formX.SetHookedForm(&a);
    const WindowProc hooked = system.Proc(1);
    formX.SetHookedForm(&a);
    EXPECT_EQ(formX.SlotNumber(), 1);
    EXPECT_EQ(system.Proc(1), hooked);
    EXPECT_EQ(SlotWindow(2), 0u);
    EXPECT_EQ(formX.hWnd(), 1u);

    // Moving to another form gives the first window its procedure back.
    formX.SetHookedForm(&b);
    EXPECT_EQ(system.Proc(1), &OriginalProc);
    EXPECT_EQ(formX.SlotNumber(), 1);
    EXPECT_EQ(SlotWindow(1), 2u);
    EXPECT_EQ(formX.HookedForm(), &b);

    formX.SetHookedForm(nullptr);
    EXPECT_EQ(system.Proc(2), &OriginalProc);
    EXPECT_EQ(formX.hWnd(), 0u);
    EXPECT_EQ(SlotWindow(1), 0u);
    // A second release finds nothing to do; another hook keeps its slot.
    FakeForm c(3);
    CFormEvents other(&sink);
    other.SetHookedForm(&c);
    formX.SetHookedForm(nullptr);
    EXPECT_EQ(SlotWindow(1), 3u);
    UnhookWindow(0);
    EXPECT_EQ(SlotWindow(1), 3u);
}

TEST_F(FormEventsTest, EleventhWindowGetsNoEventsAndTheTenKeepWorking) {
    std::vector<std::unique_ptr<FakeForm>> forms;
    std::vector<std::unique_ptr<RecordingSink>> sinks;
    std::vector<std::unique_ptr<CFormEvents>> hooks;
    for (int i = 0; i < 11; ++i) {
        forms.push_back(std::make_unique<FakeForm>(1000 + i));
        sinks.push_back(std::make_unique<RecordingSink>());
        hooks.push_back(std::make_unique<CFormEvents>(sinks.back().get()));
        hooks.back()->SetHookedForm(forms.back().get());
    }
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(hooks[i]->SlotNumber(), i + 1);
    EXPECT_EQ(hooks[10]->SlotNumber(), 0);

    g_answer = HTBOTTOM;
    EXPECT_EQ(system.Send(1010, WM_NCHITTEST), HTBOTTOM);
    EXPECT_TRUE(sinks[10]->events.empty());
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(system.Send(1000 + i, WM_NCHITTEST), HTNOWHERE) << i;
        EXPECT_EQ(sinks[i]->events.size(), 1u) << i;
    }

    // An ending object frees its slot and gives the window its procedure back;
    // the lowest free slot is taken next.
    hooks[3].reset();
    EXPECT_EQ(system.Proc(1003), &OriginalProc);
    EXPECT_EQ(SlotWindow(4), 0u);
    FakeForm late(2000);
    RecordingSink lateSink;
    CFormEvents lateHook(&lateSink);
    lateHook.SetHookedForm(&late);
    EXPECT_EQ(lateHook.SlotNumber(), 4);
}

TEST_F(HookedForm, FailingHandlerLeavesTheAnswerReachedSoFar) {
    sink.throwInHandler = true;
    g_answer = HTCAPTION;
    EXPECT_EQ(system.Send(W, WM_NCHITTEST), HTCAPTION);
    EXPECT_EQ(sink.events.size(), 1u);
}

TEST_F(HookedForm, HandlerMessagesRunNestedThroughTheSameSlot) {
    int depth = 0;
    sink.nested = [&] {
        if (depth++ == 0) system.Send(W, WM_MOVE);
    };
    WindowRect rect{0, 0, 10, 10};
    system.Send(W, WM_SIZING, WMSZ_RIGHT, reinterpret_cast<std::intptr_t>(&rect));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"Resizing", "Move"}));
}

TEST_F(HookedForm, StrayMessageOfAnotherWindowLeavesTheSlotsHookAlone) {
    const std::int16_t slot = formX->SlotNumber();
    g_answer = 5;
    EXPECT_EQ(ProcessHookedMessage(slot, W + 1, WM_NCHITTEST, 0, 0), 0);
    EXPECT_TRUE(sink.events.empty());
    EXPECT_EQ(SlotWindow(slot), W);
    EXPECT_EQ(system.Send(W, WM_NCHITTEST), 5);
    EXPECT_EQ(sink.events.size(), 1u);
    // A message for a free slot is answered 0 and changes nothing.
    EXPECT_EQ(ProcessHookedMessage(HookSlotCount, W + 1, WM_MOVE, 0, 0), 0);
    EXPECT_EQ(ProcessHookedMessage(HookSlotCount + 1, W + 1, WM_MOVE, 0, 0), 0);
}

TEST_F(FormEventsTest, RedrawFreezeAndRelease) {
    FakeForm form(66), second(67);
    LockRedraw(form);
    EXPECT_EQ(system.frozen, 66u);
    // One frozen window at a time.
    LockRedraw(second);
    EXPECT_EQ(system.frozen, 66u);
    UnlockRedraw(form);
    EXPECT_EQ(system.frozen, 0u);
    EXPECT_EQ(system.repainted, (std::vector<WindowHandle>{66}));
}
