// Qt front end of the window behaviour hooks.
//
// Qt hands out no window procedures, so each hooked widget gets a virtual one:
// the adapter watches what Qt reports for the widget (after Qt has handled
// it), turns it into the matching notification, runs it through whatever
// procedure is installed for the widget (the hook's slot procedure while
// hooked) and applies the answer where Qt allows:
//   application (de)activation -> WM_ACTIVATEAPP
//   move                       -> WM_MOVE, then WM_MOVING (a changed
//                                 rectangle moves the window there)
//   user resize                -> WM_NCHITTEST for the dragged edge (answer 0
//                                 restores the previous geometry), then
//                                 WM_SIZING (a changed rectangle is applied)
//   first show                 -> WM_GETMINMAXINFO (changed tracking sizes
//                                 become the widget's minimum/maximum size)
//   activation change          -> WM_NCACTIVATE
// The adapter's event filter delivers resize, move, show and activation
// change to the widget itself before raising, so event filters installed on
// the widget before the adapter do not see those four.
// Maximising, minimising and restoring are not drags.
// Window managers size top-level windows themselves, so the adapter tells a
// user's drag from the program's own geometry changes only by the
// ProgramGeometry guard: wrap every resize/move the program makes itself.
//
// Main window use:
//   QtFormEvents formX(this, &sink);   // hooks this widget, like FormX
//   { QtFormEvents::ProgramGeometry g(formX); resize(w, h); }
//   formX.BeginSizeDrag(HTBOTTOMRIGHT); // the size grip
//   formX.Release();                    // on unload
#pragma once

#include "window/FormEvents.h"

#include <QObject>
#include <QRect>

class QWidget;

class QtFormEvents : public QObject, public formevents::HookableForm {
    Q_OBJECT
  public:
    // Hooks widget (a top-level window) at once; sink receives the events.
    QtFormEvents(QWidget* widget, formevents::FormEventsSink* sink, QObject* parent = nullptr);
    ~QtFormEvents() override;

    formevents::WindowHandle FormWindow() const override;
    formevents::CFormEvents& Events() { return m_events; }
    // Detaches the hook (the widget stays).
    void Release();

    // Starts the window system's sizing drag from a hit code (as a mouse
    // press on that part of the frame would); the hit test is asked first
    // and an answer of HTNOWHERE or HTCLIENT starts nothing.
    bool BeginSizeDrag(std::int32_t hitCode);

    // While one exists, geometry changes are the program's, not a drag.
    class ProgramGeometry {
      public:
        explicit ProgramGeometry(QtFormEvents& owner);
        ~ProgramGeometry();
        ProgramGeometry(const ProgramGeometry&) = delete;
        ProgramGeometry& operator=(const ProgramGeometry&) = delete;

      private:
        QtFormEvents& m_owner;
    };

    // Runs one notification through the widget's installed procedure with
    // defaultAnswer as Qt's own answer; returns the final answer.
    std::intptr_t Dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                           std::intptr_t defaultAnswer = 0);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void onApplicationStateChanged(Qt::ApplicationState state);
    void afterResize();
    void afterMove();
    void raiseMinMaxInfo();
    void applyFrame(const formevents::WindowRect& rect);

    QWidget* m_widget;
    formevents::CFormEvents m_events;
    QRect m_lastFrame;
    int m_programDepth = 0;
    bool m_applying = false;
    bool m_appActive = false;
    bool m_minMaxDone = false;
};
