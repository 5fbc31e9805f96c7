// The trend window: every channel's net value against time in a Qt chart,
// one curve per channel named by its caption, failed readings as gaps. It
// either follows the running program (sampling what the tiles show while it
// is open) or plots a finished log file, read in a worker thread.
//
//   auto* w = new TrendWindow(TrendWindow::Live{source, clock}, boxes, parent);
//   w->show();                          // samples every 333 ms until closed
//   auto* f = new TrendWindow(boxes);   f->PlotFile("run.csv");
#pragma once

#include "base/MessageBox.h"
#include "trend/TrendModel.h"

#include <QFutureWatcher>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QMenu;
class QPushButton;
class QValueAxis;

class TrendWindow : public QWidget {
    Q_OBJECT
  public:
    // The screen refresh's period: the tiles never show readings faster.
    static constexpr int SampleIntervalMs = 333;
    static constexpr int MaxSpanMinutes = 60;
    // Live, the time axis moves on by this part of the span at a time.
    static constexpr int Steps = 10;

    struct Live {
        std::function<std::vector<TrendReading>()> source; // one pass, as the tiles show it
        std::function<double()> clock; // ms since the epoch; empty: the system's
    };
    TrendWindow(Live live, MessageBoxes& boxes, QWidget* parent = nullptr);
    explicit TrendWindow(MessageBoxes& boxes, QWidget* parent = nullptr);
    ~TrendWindow() override;

    // Starts reading a log file; Loaded() follows. A file that is not a log
    // is reported in a message box and leaves the plot empty.
    void PlotFile(const QString& path);
    // One live pass (what the window's timer does).
    void SampleNow();
    // The shown span in minutes: 1, 10 or 60; 0 for a whole log file.
    void SetSpan(int minutes);
    void SetPaused(bool paused);
    bool IsPaused() const { return m_paused; }
    void Redraw();

    // For tests and the benchmark.
    QChart* Chart() const { return m_chart; }
    QChartView* View() const { return m_view; }
    QDateTimeAxis* TimeAxis() const { return m_timeAxis; }
    QValueAxis* ValueAxis() const { return m_valueAxis; }
    QLabel* Status() const { return m_status; }
    int ChannelCount() const { return static_cast<int>(m_curves.size()); }
    // The drawn stretches of a channel's curve (one per run between gaps).
    std::vector<QLineSeries*> Runs(int channel) const;
    void SetChannelVisible(int channel, bool visible);
    const TrendHistory& History() const { return m_history; }

  signals:
    void Loaded(bool ok);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    struct Curve {
        QString name;
        std::vector<QLineSeries*> series; // the first carries the legend entry
        size_t settled = 0;               // series before the live tail's
        bool bridged = false;             // the line into the tail is one of them
        size_t used = 0;
        bool visible = true;
    };
    struct FileResult {
        bool ok = false;
        std::string error;
        LogTable table;
    };
    void Build();
    void SetChannels(const std::vector<QString>& names);
    QLineSeries* AddSeries(Curve& curve);
    SampleParts ChannelSamples(size_t channel) const;
    int Columns() const;
    std::vector<TrendRun> Tail(size_t channel) const;
    void DrawTail(double latest);
    void Fill(Curve& curve, size_t from, const std::vector<TrendRun>& runs);
    void FillTail(Curve& curve, std::vector<TrendRun> tail);
    void Finished();

    std::optional<Live> m_live;
    MessageBoxes& m_boxes;
    TrendHistory m_history;
    std::unique_ptr<LogTable> m_file;
    double m_fileStartMs = 0;  // the file's first row, ms since the epoch
    double m_drawnUpTo = 0;    // the latest sample drawn
    double m_t0 = 0, m_t1 = 0; // the time axis' range
    int m_columns = 0;         // slices of the span, of about four pixels each
    double m_sliceMs = 0;      // the time one slice covers
    double m_tailFrom = 0;     // where the live tail starts, on a slice's edge
    int m_tailColumns = 0;
    QString m_path;
    QFutureWatcher<FileResult> m_loading;
    QTimer m_sampler;
    std::vector<Curve> m_curves;
    int m_spanMinutes = 1;
    bool m_paused = false;

    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QDateTimeAxis* m_timeAxis = nullptr;
    QValueAxis* m_valueAxis = nullptr;
    QComboBox* m_span = nullptr;
    QPushButton* m_pause = nullptr;
    QLabel* m_status = nullptr;
};

// Adds "Plot Log File…" to the Logging menu and "Trend…" to the
// Communications menu of `owner`; the windows they open are its children.
// `logFolder` gives the folder the file dialog starts in.
void AddTrendCommands(QWidget* owner, QMenu* logging, QMenu* comms, TrendWindow::Live live,
                      MessageBoxes& boxes, std::function<QString()> logFolder);

struct MainWindowState;
struct WorkspaceClass;
// One pass of every channel as the tiles show it: caption, net value, and
// whether the channel is in error.
std::vector<TrendReading> TilePass(const WorkspaceClass& workspace, const MainWindowState& state);
