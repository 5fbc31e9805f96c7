// "Statistics": a window beside the main window with every channel's read
// figures, updated live while it is shown; Reset starts them afresh.
#pragma once

#include <QDialog>
#include <QTimer>

class Clock;
class LoggerCore;
class QLabel;
class QTableWidget;
struct WorkspaceClass;

class StatisticsFrm : public QDialog {
    Q_OBJECT
  public:
    StatisticsFrm(LoggerCore& core, const WorkspaceClass& workspace, Clock& clock, QWidget* parent);
    QTableWidget* Table() const { return m_table; }
    // Shows the figures as they are now.
    void Refresh();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    LoggerCore& m_core;
    const WorkspaceClass& m_workspace;
    Clock& m_clock;
    QTableWidget* m_table;
    QLabel* m_totals;
    QTimer m_timer;
};
