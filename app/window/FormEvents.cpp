#include "window/FormEvents.h"

#include <array>
#include <cstring>
#include <utility>

namespace formevents {
namespace {

struct HookSlot {
    WindowHandle window = 0;
    WindowProc previous = nullptr;
    WindowProc procedure = nullptr;
    CFormEvents* owner = nullptr;
};

// Index 0 is unused so that slot n is entry n.
std::array<HookSlot, HookSlotCount + 1> g_slots{};
bool g_proceduresWritten = false;
WindowSystem* g_system = nullptr;

template <int N>
std::intptr_t SlotWindowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) {
    return ProcessHookedMessage(N, window, message, wParam, lParam);
}

template <int... N> void WriteSlotProcedures(std::integer_sequence<int, N...>) {
    ((g_slots[N + 1].procedure = &SlotWindowProc<N + 1>), ...);
}

bool ValidSlot(std::int16_t slot) {
    return slot >= 1 && slot <= HookSlotCount;
}

bool IsHookedMessage(std::uint32_t message) {
    switch (message) {
    case WM_MOVE:
    case WM_ACTIVATEAPP:
    case WM_GETMINMAXINFO:
    case WM_NCHITTEST:
    case WM_NCACTIVATE:
    case WM_SIZING:
    case WM_MOVING:
        return true;
    default:
        return false;
    }
}

std::intptr_t CallPrevious(const HookSlot& slot, WindowHandle window, std::uint32_t message,
                           std::uintptr_t wParam, std::intptr_t lParam) {
    return slot.previous ? slot.previous(window, message, wParam, lParam) : 0;
}

} // namespace

void SetWindowSystem(WindowSystem* system) {
    g_system = system;
}

CFormEvents::~CFormEvents() {
    if (m_slot != 0) UnhookWindow(m_slot);
}

void CFormEvents::SetHookedForm(HookableForm* new_Form) {
    const WindowHandle newWindow = new_Form ? new_Form->FormWindow() : 0;
    if ((new_Form == nullptr && m_hWnd == 0) || (new_Form != nullptr && newWindow == m_hWnd))
        return;
    if (m_hWnd != 0) {
        UnhookWindow(m_slot);
        m_slot = 0;
    }
    m_form = new_Form;
    m_hWnd = newWindow;
    if (new_Form != nullptr) m_slot = HookWindow(this, m_hWnd);
}

void CFormEvents::HandleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                                std::intptr_t& result) {
    if (m_sink == nullptr) return;
    switch (message) {
    case WM_ACTIVATEAPP:
        if (wParam != 0)
            m_sink->ActivateApp();
        else
            m_sink->DeactivateApp();
        break;
    case WM_MOVE:
        m_sink->Move();
        break;
    case WM_GETMINMAXINFO: {
        if (lParam == 0) break;
        MinMaxInfo info;
        std::memcpy(&info, reinterpret_cast<const void*>(lParam), sizeof info);
        m_sink->GetMinMaxInfo(info.maxSizeX, info.maxSizeY, info.maxPosX, info.maxPosY,
                              info.minTrackX, info.minTrackY, info.maxTrackX, info.maxTrackY);
        std::memcpy(reinterpret_cast<void*>(lParam), &info, sizeof info);
        break;
    }
    case WM_NCHITTEST: {
        const auto x = static_cast<std::int16_t>(static_cast<std::uint16_t>(lParam & 0xFFFF));
        const auto y =
            static_cast<std::int16_t>(static_cast<std::uint16_t>((lParam >> 16) & 0xFFFF));
        auto hitCode = static_cast<std::int32_t>(result);
        m_sink->NCHitTest(x, y, hitCode);
        result = hitCode;
        break;
    }
    case WM_SIZING:
    case WM_MOVING: {
        if (lParam == 0) break;
        WindowRect before;
        std::memcpy(&before, reinterpret_cast<const void*>(lParam), sizeof before);
        WindowRect proposed = before;
        const auto border = static_cast<std::int16_t>(wParam);
        if (message == WM_SIZING)
            m_sink->Resizing(proposed.left, proposed.top, proposed.right, proposed.bottom, border);
        else
            m_sink->Moving(proposed.left, proposed.top, proposed.right, proposed.bottom, border);
        if (proposed.left != before.left || proposed.top != before.top ||
            proposed.right != before.right || proposed.bottom != before.bottom)
            result = -1;
        if (result != 0) std::memcpy(reinterpret_cast<void*>(lParam), &proposed, sizeof proposed);
        break;
    }
    case WM_NCACTIVATE: {
        // Already handled by the window: a changed state has no effect.
        auto state = static_cast<std::int32_t>(wParam);
        m_sink->NCActivate(state);
        break;
    }
    default:
        break;
    }
}

std::int16_t HookWindow(CFormEvents* owner, WindowHandle window) {
    if (!g_proceduresWritten) {
        WriteSlotProcedures(std::make_integer_sequence<int, HookSlotCount>{});
        g_proceduresWritten = true;
    }
    if (window == 0 || g_system == nullptr) return 0;
    for (std::int16_t n = 1; n <= HookSlotCount; ++n) {
        HookSlot& slot = g_slots[n];
        if (slot.window != 0) continue;
        slot.owner = owner;
        slot.window = window;
        slot.previous = g_system->SetWindowProc(window, slot.procedure);
        return n;
    }
    return 0;
}

void UnhookWindow(std::int16_t slotNumber) {
    if (!ValidSlot(slotNumber)) return;
    HookSlot& slot = g_slots[slotNumber];
    if (slot.window != 0 && g_system != nullptr)
        g_system->SetWindowProc(slot.window, slot.previous);
    slot.window = 0;
    slot.previous = nullptr;
    slot.owner = nullptr;
}

WindowHandle SlotWindow(std::int16_t slot) {
    return ValidSlot(slot) ? g_slots[slot].window : 0;
}

std::intptr_t ProcessHookedMessage(std::int16_t slotNumber, WindowHandle window,
                                   std::uint32_t message, std::uintptr_t wParam,
                                   std::intptr_t lParam) {
    if (!ValidSlot(slotNumber)) return 0;
    HookSlot& slot = g_slots[slotNumber];
    // A stray message for a window this slot does not hold. The slot may by
    // now hook another window, whose hook must survive: leave it as it is.
    if (slot.window != window) return 0;
    if (!IsHookedMessage(message)) return CallPrevious(slot, window, message, wParam, lParam);

    CFormEvents* owner = slot.owner;
    if (owner == nullptr || owner->hWnd() != window) {
        const std::intptr_t answer = CallPrevious(slot, window, message, wParam, lParam);
        UnhookWindow(slotNumber);
        return answer;
    }
    std::intptr_t result = CallPrevious(slot, window, message, wParam, lParam);
    try {
        owner->HandleMessage(message, wParam, lParam, result);
    } catch (...) {
        // A failing handler never reaches the window system: the answer
        // reached so far stands.
    }
    return result;
}

void LockRedraw(const HookableForm& form) {
    if (g_system != nullptr) g_system->LockWindowUpdate(form.FormWindow());
}

void UnlockRedraw(const HookableForm& form) {
    if (g_system == nullptr) return;
    g_system->UnlockWindowUpdate();
    g_system->UpdateWindow(form.FormWindow());
}

} // namespace formevents
