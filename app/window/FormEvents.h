// Window behaviour hooks: a form takes part in hit-testing, sizing, moving and
// activation decisions through events raised after the default handling.
//
// The main window keeps one CFormEvents as FormX, gives it a FormEventsSink
// (its FormX_NCHitTest and FormX_Resizing handlers) and sets HookedForm to
// itself at start-up; on unload it sets HookedForm to nullptr. With Qt the
// adapter in FormEventsQt.h provides the window procedures and the form.
#pragma once

#include <cstdint>

namespace formevents {

using WindowHandle = std::uintptr_t;
using WindowProc = std::intptr_t (*)(WindowHandle window, std::uint32_t message,
                                     std::uintptr_t wParam, std::intptr_t lParam);

// The notifications that raise events.
constexpr std::uint32_t WM_MOVE = 0x03;
constexpr std::uint32_t WM_ACTIVATEAPP = 0x1C;
constexpr std::uint32_t WM_GETMINMAXINFO = 0x24;
constexpr std::uint32_t WM_NCHITTEST = 0x84;
constexpr std::uint32_t WM_NCACTIVATE = 0x86;
constexpr std::uint32_t WM_SIZING = 0x214;
constexpr std::uint32_t WM_MOVING = 0x216;

// Hit codes and sizing codes as the rest of the program uses them.
constexpr std::int32_t HTNOWHERE = 0, HTCLIENT = 1, HTCAPTION = 2, HTLEFT = 10, HTRIGHT = 11,
                       HTTOP = 12, HTTOPLEFT = 13, HTTOPRIGHT = 14, HTBOTTOM = 15,
                       HTBOTTOMLEFT = 16, HTBOTTOMRIGHT = 17;
constexpr std::int16_t WMSZ_LEFT = 1, WMSZ_RIGHT = 2, WMSZ_TOP = 3, WMSZ_TOPLEFT = 4,
                       WMSZ_TOPRIGHT = 5, WMSZ_BOTTOM = 6, WMSZ_BOTTOMLEFT = 7,
                       WMSZ_BOTTOMRIGHT = 8;

// The record WM_GETMINMAXINFO points to: reserved, maximised size, maximised
// position, minimum and maximum tracking size, each x then y (40 bytes).
struct MinMaxInfo {
    std::int32_t reservedX, reservedY, maxSizeX, maxSizeY, maxPosX, maxPosY, minTrackX, minTrackY,
        maxTrackX, maxTrackY;
};
// The rectangle WM_SIZING and WM_MOVING point to, in screen pixels.
struct WindowRect {
    std::int32_t left, top, right, bottom;
};

// What the window system offers: replacing a window's procedure, and the
// drawing freeze. Installed once per process with SetWindowSystem.
class WindowSystem {
  public:
    virtual ~WindowSystem() = default;
    // Installs procedure for window; returns the one it replaced.
    virtual WindowProc SetWindowProc(WindowHandle window, WindowProc procedure) = 0;
    // Freezes drawing of window; false when another window is frozen.
    virtual bool LockWindowUpdate(WindowHandle window) = 0;
    virtual void UnlockWindowUpdate() = 0;
    // Repaints the invalid parts of window at once.
    virtual void UpdateWindow(WindowHandle window) = 0;
};
void SetWindowSystem(WindowSystem* system);

// A form: anything with a window.
class HookableForm {
  public:
    virtual ~HookableForm() = default;
    virtual WindowHandle FormWindow() const = 0;
};

// The events; every reference parameter is the answer the handler may change.
class FormEventsSink {
  public:
    virtual ~FormEventsSink() = default;
    virtual void ActivateApp() {}
    virtual void DeactivateApp() {}
    virtual void Move() {}
    virtual void GetMinMaxInfo(std::int32_t& /*MaxSizeX*/, std::int32_t& /*MaxSizeY*/,
                               std::int32_t& /*MaxPosX*/, std::int32_t& /*MaxPosY*/,
                               std::int32_t& /*MinTrackSizeX*/, std::int32_t& /*MinTrackSizeY*/,
                               std::int32_t& /*MaxTrackSizeX*/, std::int32_t& /*MaxTrackSizeY*/) {}
    virtual void NCHitTest(std::int16_t /*X*/, std::int16_t /*Y*/, std::int32_t& /*hitCode*/) {}
    virtual void Resizing(std::int32_t& /*X1*/, std::int32_t& /*Y1*/, std::int32_t& /*X2*/,
                          std::int32_t& /*Y2*/, std::int16_t /*draggedBorder*/) {}
    virtual void Moving(std::int32_t& /*X1*/, std::int32_t& /*Y1*/, std::int32_t& /*X2*/,
                        std::int32_t& /*Y2*/, std::int16_t /*draggedBorder*/) {}
    virtual void NCActivate(std::int32_t& /*State*/) {}
};

class CFormEvents {
  public:
    explicit CFormEvents(FormEventsSink* sink = nullptr) : m_sink(sink) {}
    ~CFormEvents(); // releases its slot
    CFormEvents(const CFormEvents&) = delete;
    CFormEvents& operator=(const CFormEvents&) = delete;

    void SetSink(FormEventsSink* sink) { m_sink = sink; }
    WindowHandle hWnd() const { return m_hWnd; }
    HookableForm* HookedForm() const { return m_form; }
    // nullptr releases the hook; the same form again changes nothing.
    void SetHookedForm(HookableForm* new_Form);
    std::int16_t SlotNumber() const { return m_slot; }

    // Raises the event of one hooked message; result is the answer so far.
    void HandleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                       std::intptr_t& result);

  private:
    FormEventsSink* m_sink;
    HookableForm* m_form = nullptr;
    WindowHandle m_hWnd = 0;
    std::int16_t m_slot = 0;
};

constexpr int HookSlotCount = 10;

// Slot number 1..10 used, or 0 when every slot is taken.
std::int16_t HookWindow(CFormEvents* owner, WindowHandle window);
// Slot 0 and unknown slots are ignored.
void UnhookWindow(std::int16_t slot);
// What slot procedure n does with a message of the window it hooks.
std::intptr_t ProcessHookedMessage(std::int16_t slot, WindowHandle window, std::uint32_t message,
                                   std::uintptr_t wParam, std::intptr_t lParam);
// The window a slot holds (0 = free), for diagnostics and tests.
WindowHandle SlotWindow(std::int16_t slot);

void LockRedraw(const HookableForm& form);
void UnlockRedraw(const HookableForm& form);

} // namespace formevents
