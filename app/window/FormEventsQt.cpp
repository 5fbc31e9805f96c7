#include "window/FormEventsQt.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

using namespace formevents;

namespace {

// Qt's own answer to the notification being dispatched; a nested dispatch
// saves and restores it.
std::intptr_t g_defaultAnswer = 0;

std::intptr_t QtDefaultWindowProc(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
    return g_defaultAnswer;
}

QWidget* WidgetOf(WindowHandle window) {
    return reinterpret_cast<QWidget*>(window);
}

// Virtual window procedures of Qt widgets, and the one drawing freeze.
class QtWindowSystem : public WindowSystem {
  public:
    WindowProc SetWindowProc(WindowHandle window, WindowProc procedure) override {
        const WindowProc previous = Procedure(window);
        if (procedure == nullptr || procedure == &QtDefaultWindowProc)
            m_procedures.remove(window);
        else
            m_procedures.insert(window, procedure);
        return previous;
    }
    WindowProc Procedure(WindowHandle window) const {
        return m_procedures.value(window, &QtDefaultWindowProc);
    }
    bool LockWindowUpdate(WindowHandle window) override {
        if (m_frozen) return false;
        m_frozen = WidgetOf(window);
        if (m_frozen) m_frozen->setUpdatesEnabled(false);
        return true;
    }
    void UnlockWindowUpdate() override {
        if (m_frozen) m_frozen->setUpdatesEnabled(true);
        m_frozen = nullptr;
    }
    void UpdateWindow(WindowHandle window) override {
        if (QWidget* widget = WidgetOf(window); widget && widget->isVisible()) widget->repaint();
    }
    void Forget(WindowHandle window) {
        m_procedures.remove(window);
        if (m_frozen == WidgetOf(window)) m_frozen = nullptr;
    }

  private:
    QHash<WindowHandle, WindowProc> m_procedures;
    QPointer<QWidget> m_frozen;
};

QtWindowSystem& System() {
    static QtWindowSystem system;
    return system;
}

std::intptr_t PackPoint(QPoint point) {
    const auto clamp16 = [](int v) {
        return static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(v, -32768, 32767)));
    };
    return static_cast<std::intptr_t>(clamp16(point.x()) |
                                      (static_cast<std::uint32_t>(clamp16(point.y())) << 16));
}

WindowRect ToRect(const QRect& r) {
    return {r.left(), r.top(), r.x() + r.width(), r.y() + r.height()};
}

bool SameRect(const WindowRect& a, const WindowRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The sizing code of the edges that moved between two frames, 0 when none.
std::int16_t DraggedBorder(const QRect& before, const QRect& after) {
    const int dl = after.left() - before.left();
    const int dr = (after.x() + after.width()) - (before.x() + before.width());
    const int dt = after.top() - before.top();
    const int db = (after.y() + after.height()) - (before.y() + before.height());
    const int horizontal = (dl == 0 && dr == 0) ? 0 : (std::abs(dl) > std::abs(dr) ? 1 : 2);
    const int vertical = (dt == 0 && db == 0) ? 0 : (std::abs(dt) > std::abs(db) ? 1 : 2);
    static constexpr std::int16_t codes[3][3] = {{0, WMSZ_TOP, WMSZ_BOTTOM},
                                                 {WMSZ_LEFT, WMSZ_TOPLEFT, WMSZ_BOTTOMLEFT},
                                                 {WMSZ_RIGHT, WMSZ_TOPRIGHT, WMSZ_BOTTOMRIGHT}};
    return codes[horizontal][vertical];
}

std::int32_t HitCodeOfBorder(std::int16_t border) {
    static constexpr std::int32_t codes[] = {HTNOWHERE, HTLEFT,       HTRIGHT,
                                             HTTOP,     HTTOPLEFT,    HTTOPRIGHT,
                                             HTBOTTOM,  HTBOTTOMLEFT, HTBOTTOMRIGHT};
    return (border >= 0 && border <= 8) ? codes[border] : HTNOWHERE;
}

Qt::Edges EdgesOfHitCode(std::intptr_t hitCode) {
    switch (hitCode) {
    case HTLEFT:
        return Qt::LeftEdge;
    case HTRIGHT:
        return Qt::RightEdge;
    case HTTOP:
        return Qt::TopEdge;
    case HTTOPLEFT:
        return Qt::TopEdge | Qt::LeftEdge;
    case HTTOPRIGHT:
        return Qt::TopEdge | Qt::RightEdge;
    case HTBOTTOM:
        return Qt::BottomEdge;
    case HTBOTTOMLEFT:
        return Qt::BottomEdge | Qt::LeftEdge;
    case HTBOTTOMRIGHT:
        return Qt::BottomEdge | Qt::RightEdge;
    default:
        return {};
    }
}

} // namespace

QtFormEvents::QtFormEvents(QWidget* widget, FormEventsSink* sink, QObject* parent)
    : QObject(parent), m_widget(widget), m_events(sink) {
    SetWindowSystem(&System());
    if (m_widget == nullptr) return;
    m_lastFrame = m_widget->frameGeometry();
    m_appActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    m_widget->installEventFilter(this);
    connect(m_widget, &QObject::destroyed, this, [this] {
        Release();
        System().Forget(reinterpret_cast<WindowHandle>(m_widget));
        m_widget = nullptr;
    });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            &QtFormEvents::onApplicationStateChanged);
    m_events.SetHookedForm(this);
}

QtFormEvents::~QtFormEvents() {
    Release();
    if (m_widget) m_widget->removeEventFilter(this);
}

WindowHandle QtFormEvents::FormWindow() const {
    return reinterpret_cast<WindowHandle>(m_widget);
}

void QtFormEvents::Release() {
    m_events.SetHookedForm(nullptr);
}

std::intptr_t QtFormEvents::Dispatch(std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam, std::intptr_t defaultAnswer) {
    if (m_widget == nullptr) return defaultAnswer;
    const std::intptr_t saved = g_defaultAnswer;
    g_defaultAnswer = defaultAnswer;
    const WindowHandle window = FormWindow();
    const std::intptr_t answer = System().Procedure(window)(window, message, wParam, lParam);
    g_defaultAnswer = saved;
    return answer;
}

QtFormEvents::ProgramGeometry::ProgramGeometry(QtFormEvents& owner) : m_owner(owner) {
    ++m_owner.m_programDepth;
}

QtFormEvents::ProgramGeometry::~ProgramGeometry() {
    if (--m_owner.m_programDepth == 0 && m_owner.m_widget)
        m_owner.m_lastFrame = m_owner.m_widget->frameGeometry();
}

bool QtFormEvents::BeginSizeDrag(std::int32_t hitCode) {
    if (m_widget == nullptr) return false;
    const std::intptr_t answer = Dispatch(WM_NCHITTEST, 0, PackPoint(QCursor::pos()), hitCode);
    const Qt::Edges edges = EdgesOfHitCode(answer);
    if (!edges) return false;
    QWindow* window = m_widget->windowHandle();
    return window != nullptr && window->startSystemResize(edges);
}

bool QtFormEvents::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_widget) return false;
    const QEvent::Type type = event->type();
    if (type == QEvent::WindowStateChange) {
        // Maximising, minimising and restoring size the window without a
        // drag; the geometry they leave is the new starting point.
        m_lastFrame = QRect();
        return false;
    }
    if (type != QEvent::Resize && type != QEvent::Move && type != QEvent::Show &&
        type != QEvent::ActivationChange)
        return false;
    // Qt handles the event first; the notification carries its outcome.
    watched->event(event);
    switch (type) {
    case QEvent::Resize:
        afterResize();
        break;
    case QEvent::Move:
        afterMove();
        break;
    case QEvent::Show:
        if (!m_minMaxDone) raiseMinMaxInfo();
        m_lastFrame = m_widget->frameGeometry();
        break;
    case QEvent::ActivationChange:
        Dispatch(WM_NCACTIVATE, m_widget->isActiveWindow() ? 1 : 0, 0, 1);
        break;
    default:
        break;
    }
    return true;
}

void QtFormEvents::onApplicationStateChanged(Qt::ApplicationState state) {
    const bool active = state == Qt::ApplicationActive;
    if (active == m_appActive) return;
    m_appActive = active;
    Dispatch(WM_ACTIVATEAPP, active ? 1 : 0, 0, 0);
}

void QtFormEvents::applyFrame(const WindowRect& rect) {
    const QSize margins = m_widget->frameGeometry().size() - m_widget->size();
    m_applying = true;
    m_widget->move(rect.left, rect.top);
    m_widget->resize(std::max(0, rect.right - rect.left - margins.width()),
                     std::max(0, rect.bottom - rect.top - margins.height()));
    m_applying = false;
}

void QtFormEvents::afterResize() {
    const QRect frame = m_widget->frameGeometry();
    const QRect before = m_lastFrame;
    const bool sizedByState = m_widget->windowState() &
                              (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen);
    if (m_programDepth > 0 || m_applying || !before.isValid() || !m_widget->isVisible() ||
        sizedByState) {
        m_lastFrame = frame;
        return;
    }
    const std::int16_t border = DraggedBorder(before, frame);
    if (border == 0) {
        m_lastFrame = frame;
        return;
    }
    // The window manager sized the window already: a frame part that the
    // hit test turns into nowhere cannot size it, so its drag is undone.
    const std::int32_t hitCode = HitCodeOfBorder(border);
    if (Dispatch(WM_NCHITTEST, 0, PackPoint(QCursor::pos()), hitCode) == HTNOWHERE) {
        applyFrame(ToRect(before));
        m_lastFrame = m_widget->frameGeometry();
        return;
    }
    WindowRect rect = ToRect(frame);
    const WindowRect proposed = rect;
    Dispatch(WM_SIZING, static_cast<std::uintptr_t>(border), reinterpret_cast<std::intptr_t>(&rect),
             0);
    if (!SameRect(rect, proposed)) applyFrame(rect);
    m_lastFrame = m_widget->frameGeometry();
}

void QtFormEvents::afterMove() {
    const QRect frame = m_widget->frameGeometry();
    Dispatch(WM_MOVE, 0, PackPoint(m_widget->geometry().topLeft()), 0);
    if (m_widget == nullptr) return;
    const bool userMove = m_programDepth == 0 && !m_applying && m_widget->isVisible() &&
                          m_lastFrame.isValid() && m_lastFrame.size() == frame.size();
    if (userMove) {
        WindowRect rect = ToRect(frame);
        const WindowRect proposed = rect;
        Dispatch(WM_MOVING, 0, reinterpret_cast<std::intptr_t>(&rect), 0);
        if (!SameRect(rect, proposed)) applyFrame(rect);
    }
    if (m_lastFrame.size() == frame.size()) m_lastFrame = m_widget->frameGeometry();
}

void QtFormEvents::raiseMinMaxInfo() {
    m_minMaxDone = true;
    const QSize margins = m_widget->frameGeometry().size() - m_widget->size();
    const QScreen* screen = m_widget->screen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QSize minimum = m_widget->minimumSize() + margins;
    const QSize maximum(
        std::min(m_widget->maximumWidth(), QWIDGETSIZE_MAX - margins.width()) + margins.width(),
        std::min(m_widget->maximumHeight(), QWIDGETSIZE_MAX - margins.height()) + margins.height());
    MinMaxInfo info{0,
                    0,
                    available.width(),
                    available.height(),
                    available.x(),
                    available.y(),
                    minimum.width(),
                    minimum.height(),
                    maximum.width(),
                    maximum.height()};
    const MinMaxInfo proposed = info;
    Dispatch(WM_GETMINMAXINFO, 0, reinterpret_cast<std::intptr_t>(&info), 0);
    if (m_widget == nullptr) return;
    if (info.minTrackX != proposed.minTrackX || info.minTrackY != proposed.minTrackY)
        m_widget->setMinimumSize(std::max(0, info.minTrackX - margins.width()),
                                 std::max(0, info.minTrackY - margins.height()));
    if (info.maxTrackX != proposed.maxTrackX || info.maxTrackY != proposed.maxTrackY)
        m_widget->setMaximumSize(std::max(0, info.maxTrackX - margins.width()),
                                 std::max(0, info.maxTrackY - margins.height()));
}
