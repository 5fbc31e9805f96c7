// Qt Core adapters of the logic's seams, for both front ends.
//   QtTimer logTimer([&] { core.LogTimerFired(); }, Qt::PreciseTimer);
//   RegionalSettings rs = RegionalSettingsFromLocale(QLocale::system());
#pragma once

#include "base/NumberText.h"
#include "core/CoreSeams.h"

#include <QLocale>
#include <QTimer>

#include <functional>

// A window-thread QTimer calling onTick at every timeout.
class QtTimer : public Timer {
  public:
    explicit QtTimer(std::function<void()> onTick, Qt::TimerType type = Qt::CoarseTimer);
    void Start(int32_t intervalMs) override;
    void Stop() override;
    bool IsActive() const override;
    void StartAfter(int32_t firstMs, int32_t intervalMs) override;

  private:
    QTimer m_timer;
    int32_t m_nextInterval = -1; // the period after a first one of its own
    std::function<void()> m_onTick;
};

// The decimal, group, date and time separators of a locale.
RegionalSettings RegionalSettingsFromLocale(const QLocale& locale);
