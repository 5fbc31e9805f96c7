#include "trend/TrendWindow.h"

#include "core/LoggerCore.h"
#include "core/MainWindowState.h"
#include "workspace/Workspace.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double MinuteMs = 60000;
constexpr qint64 ReadChunk = 1 << 20;

QString Local(const std::string& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

TrendWindow::TrendWindow(Live live, MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Window), m_live(std::move(live)), m_boxes(boxes),
      m_history(TrendHistory::CapacityFor(MaxSpanMinutes * MinuteMs, SampleIntervalMs)) {
    setWindowTitle("Trend");
    Build();
    m_sampler.setInterval(SampleIntervalMs);
    connect(&m_sampler, &QTimer::timeout, this, &TrendWindow::SampleNow);
}

TrendWindow::TrendWindow(MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent, Qt::Window), m_boxes(boxes), m_history(0) {
    setWindowTitle("Plot Log File");
    Build();
    m_span->insertItem(0, "Whole file", 0);
    m_span->setCurrentIndex(0);
    m_spanMinutes = 0;
    m_pause->hide();
    connect(&m_loading, &QFutureWatcher<FileResult>::finished, this, &TrendWindow::Finished);
}

TrendWindow::~TrendWindow() {
    // The worker holds nothing of the window; only its result is awaited.
    m_loading.waitForFinished();
}

void TrendWindow::Build() {
    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignRight);
    m_chart->setDropShadowEnabled(false);
    // A plain white behind the chart: the chart's own background, a gradient,
    // costs several times as much to fill at every repaint.
    m_chart->setBackgroundVisible(false);
    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setFormat("HH:mm:ss");
    m_timeAxis->setTitleText("Time");
    m_valueAxis = new QValueAxis;
    m_valueAxis->setTitleText("Net value");
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_chart->addAxis(m_valueAxis, Qt::AlignLeft);
    // A chart shown with an axis that no series uses never lays that axis
    // out again: an empty series holds both from the start.
    auto* holder = new QLineSeries;
    m_chart->addSeries(holder);
    holder->attachAxis(m_timeAxis);
    holder->attachAxis(m_valueAxis);
    for (QLegendMarker* marker : m_chart->legend()->markers(holder))
        marker->setVisible(false);
    m_view = new QChartView(m_chart, this);
    // One rectangle around all that changed: a region of a rectangle per
    // changed series costs far more to paint than the few pixels it saves.
    m_view->setViewportUpdateMode(QGraphicsView::BoundingRectViewportUpdate);
    m_view->setBackgroundBrush(Qt::white);
    // Lines are drawn without antialiasing: no pixel beyond what changed.
    m_view->setOptimizationFlag(QGraphicsView::DontAdjustForAntialiasing);

    m_span = new QComboBox(this);
    m_span->setObjectName("Span");
    for (int minutes : {1, 10, 60})
        m_span->addItem(QString("Last %1 min").arg(minutes), minutes);
    connect(m_span, &QComboBox::activated, this,
            [this](int index) { SetSpan(m_span->itemData(index).toInt()); });
    m_pause = new QPushButton("Pause", this);
    m_pause->setObjectName("Pause");
    m_pause->setCheckable(true);
    connect(m_pause, &QPushButton::toggled, this, &TrendWindow::SetPaused);
    m_status = new QLabel(this);
    m_status->setObjectName("Status");

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel("Span:", this));
    bar->addWidget(m_span);
    bar->addWidget(m_pause);
    bar->addWidget(m_status, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);
    resize(900, 500);
}

void TrendWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_live && !m_sampler.isActive()) {
        m_sampler.start();
        SampleNow();
    }
}

void TrendWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!m_live) return;
    // Closed, the window costs the acquisition nothing: no sampling, and the
    // history is given back; the next opening starts a fresh curve.
    m_sampler.stop();
    m_history = TrendHistory(m_history.CapacityPerChannel());
    m_t1 = 0; // and the next pass draws the whole chart afresh
}

void TrendWindow::SampleNow() {
    if (!m_live) return;
    const std::vector<TrendReading> pass = m_live->source();
    const double now =
        m_live->clock ? m_live->clock() : static_cast<double>(QDateTime::currentMSecsSinceEpoch());
    m_history.Add(now, pass);
    bool same = pass.size() == m_curves.size();
    for (size_t i = 0; same && i < pass.size(); ++i)
        same = Local(pass[i].caption) == m_curves[i].name;
    if (!same) {
        std::vector<QString> names;
        for (const auto& reading : pass)
            names.push_back(Local(reading.caption));
        SetChannels(names);
    }
    if (m_paused) return;
    // A chart lays every series out again whenever an axis changes, at about
    // a microsecond a point. So the axes stay while the curves grow towards
    // their right end, and only the tail (the newest slices) is redrawn, once a
    // slice has gone by; the whole chart once the curves reach the end.
    if (!same || now >= m_t1)
        Redraw();
    else if (now - m_drawnUpTo >= m_sliceMs)
        DrawTail(now);
}

void TrendWindow::SetChannels(const std::vector<QString>& names) {
    for (Curve& curve : m_curves)
        for (QLineSeries* series : curve.series) {
            m_chart->removeSeries(series);
            delete series;
        }
    m_curves.clear();
    m_curves.resize(names.size());
    for (size_t c = 0; c < names.size(); ++c) {
        m_curves[c].name = names[c];
        QLineSeries* first = AddSeries(m_curves[c]);
        for (QLegendMarker* marker : m_chart->legend()->markers(first)) {
            connect(marker, &QLegendMarker::clicked, this,
                    [this, c] { SetChannelVisible(static_cast<int>(c), !m_curves[c].visible); });
        }
    }
}

QLineSeries* TrendWindow::AddSeries(Curve& curve) {
    auto* series = new QLineSeries;
    series->setName(curve.name);
    m_chart->addSeries(series);
    series->attachAxis(m_timeAxis);
    series->attachAxis(m_valueAxis);
    if (curve.series.empty()) {
        // Lines a pixel wide are drawn without stroking their outline, which
        // makes painting 24 curves several times cheaper.
        QPen pen = series->pen();
        pen.setWidth(1);
        series->setPen(pen);
    } else {
        // A later stretch of the same curve: its colour, no legend entry.
        series->setPen(curve.series.front()->pen());
        for (QLegendMarker* marker : m_chart->legend()->markers(series))
            marker->setVisible(false);
    }
    series->setVisible(curve.visible);
    curve.series.push_back(series);
    return series;
}

void TrendWindow::SetChannelVisible(int channel, bool visible) {
    Curve& curve = m_curves.at(static_cast<size_t>(channel));
    curve.visible = visible;
    for (QLineSeries* series : curve.series)
        series->setVisible(visible);
    // The legend entry stays, dimmed, so the curve can be shown again.
    for (QLegendMarker* marker : m_chart->legend()->markers(curve.series.front())) {
        marker->setVisible(true);
        QColor label = marker->labelBrush().color();
        label.setAlphaF(visible ? 1.0 : 0.4);
        marker->setLabelBrush(label);
    }
    Redraw();
}

std::vector<QLineSeries*> TrendWindow::Runs(int channel) const {
    const Curve& curve = m_curves.at(static_cast<size_t>(channel));
    return {curve.series.begin(), curve.series.begin() + static_cast<long>(curve.used)};
}

void TrendWindow::SetSpan(int minutes) {
    m_spanMinutes = minutes;
    const int index = m_span->findData(minutes);
    if (index >= 0) m_span->setCurrentIndex(index);
    Redraw();
}

void TrendWindow::SetPaused(bool paused) {
    m_paused = paused;
    if (m_pause->isChecked() != paused) m_pause->setChecked(paused);
    m_status->setText(paused ? "Paused: readings are still kept" : "");
    if (!paused) Redraw();
}

SampleParts TrendWindow::ChannelSamples(size_t channel) const {
    if (m_file) return {m_file->channels[channel], {}};
    return m_history.Channel(channel);
}

int TrendWindow::Columns() const {
    // Whole steps of slices, so that the tail always starts on a slice's edge.
    return std::max(4, static_cast<int>(m_chart->plotArea().width()) / (4 * Steps)) * Steps;
}

std::vector<TrendRun> TrendWindow::Tail(size_t channel) const {
    return Thin(ChannelSamples(channel), m_tailFrom, m_t1, m_tailColumns,
                !m_curves[channel].bridged);
}

void TrendWindow::Redraw() {
    if (m_curves.empty()) return;
    // The time range: the span up to the latest sample (the whole file for
    // span 0); the log's times are relative to its first row.
    double first = std::numeric_limits<double>::infinity(), last = -first;
    for (size_t c = 0; c < m_curves.size(); ++c) {
        const SampleParts samples = ChannelSamples(c);
        if (samples.size() == 0) continue;
        first = std::min(first, samples[0].t);
        last = std::max(last, samples[samples.size() - 1].t);
    }
    if (!std::isfinite(first)) return;
    const double span = m_spanMinutes * MinuteMs;
    const bool live = m_live && span > 0;
    // Live, the axis ends at the next step after the latest sample.
    m_t1 = live ? (std::floor(last / (span / Steps)) + 1) * (span / Steps) : last;
    m_t0 = span > 0 ? m_t1 - span : first;
    m_columns = Columns();
    m_sliceMs = (m_t1 - m_t0) / m_columns;
    const int settledColumns =
        live ? std::clamp(static_cast<int>((last - m_t0) / m_sliceMs), 1, m_columns - 1)
             : m_columns;
    m_tailFrom = m_t0 + settledColumns * m_sliceMs;
    m_tailColumns = m_columns - settledColumns;
    const double settledTo = live ? std::nextafter(m_tailFrom, m_t0) : m_t1;
    const double offset = m_file ? m_fileStartMs : 0;

    std::vector<std::vector<TrendRun>> settled(m_curves.size()), tail(m_curves.size());
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (size_t c = 0; c < m_curves.size(); ++c) {
        settled[c] = Thin(ChannelSamples(c), m_t0, settledTo, settledColumns);
        if (live) tail[c] = Tail(c);
        if (!m_curves[c].visible) continue;
        for (const auto* runs : {&settled[c], &tail[c]})
            for (const TrendRun& run : *runs)
                for (const TrendPoint& p : run) {
                    low = std::min(low, p.v);
                    high = std::max(high, p.v);
                }
    }
    // Emptied before the axes change, each series is laid out once, when it
    // is filled again.
    for (Curve& curve : m_curves) {
        Fill(curve, 0, {});
        curve.bridged = false;
    }
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(m_t0 + offset)),
                         QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(m_t1 + offset)));
    m_timeAxis->setFormat(m_t1 - m_t0 > 86400000.0 ? "dd/MM HH:mm" : "HH:mm:ss");
    if (!std::isfinite(low)) low = 0, high = 1;
    const double margin = high > low ? (high - low) * 0.05 : std::max(1.0, std::abs(high) * 0.05);
    m_valueAxis->setRange(low - margin, high + margin);
    for (size_t c = 0; c < m_curves.size(); ++c) {
        Curve& curve = m_curves[c];
        Fill(curve, 0, settled[c]);
        curve.settled = curve.used;
        FillTail(curve, std::move(tail[c]));
    }
    m_drawnUpTo = last;
}

void TrendWindow::DrawTail(double latest) {
    // Resized, or a value beyond the value axis: the whole chart again.
    if (Columns() != m_columns) return Redraw();
    std::vector<std::vector<TrendRun>> tail(m_curves.size());
    for (size_t c = 0; c < m_curves.size(); ++c) {
        tail[c] = Tail(c);
        if (!m_curves[c].visible) continue;
        for (const TrendRun& run : tail[c])
            for (const TrendPoint& p : run)
                if (p.v < m_valueAxis->min() || p.v > m_valueAxis->max()) return Redraw();
    }
    for (size_t c = 0; c < m_curves.size(); ++c)
        FillTail(m_curves[c], std::move(tail[c]));
    m_drawnUpTo = latest;
}

void TrendWindow::FillTail(Curve& curve, std::vector<TrendRun> tail) {
    // The line from the settled curve into the tail is a series of its own,
    // that stays: the tail's repaints then stop short of the settled curve,
    // each repaint of which costs all its points.
    if (!curve.bridged && !tail.empty() && tail.front().size() >= 2 &&
        tail.front().front().t < m_tailFrom) {
        Fill(curve, curve.settled, {{tail.front()[0], tail.front()[1]}});
        ++curve.settled;
        curve.bridged = true;
        tail.front().erase(tail.front().begin());
    }
    Fill(curve, curve.settled, tail);
}

void TrendWindow::Fill(Curve& curve, size_t from, const std::vector<TrendRun>& runs) {
    const double offset = m_file ? m_fileStartMs : 0;
    while (curve.series.size() < from + runs.size())
        AddSeries(curve);
    for (size_t k = 0; k < runs.size(); ++k) {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(runs[k].size()));
        for (const TrendPoint& p : runs[k])
            points.append(QPointF(p.t + offset, p.v));
        curve.series[from + k]->replace(points);
    }
    for (size_t k = from + runs.size(); k < curve.used; ++k)
        curve.series[k]->clear();
    curve.used = from + runs.size();
}

void TrendWindow::PlotFile(const QString& path) {
    m_path = path;
    setWindowTitle("Plot Log File - " + path);
    m_status->setText("Loading " + path + " ...");
    m_loading.setFuture(QtConcurrent::run([path] {
        FileResult result;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            result.error = "Cannot open it: " + file.errorString().toStdString();
            return result;
        }
        LogReader reader;
        bool ok = true;
        while (ok && !file.atEnd()) {
            const QByteArray chunk = file.read(ReadChunk);
            if (chunk.isEmpty()) break;
            ok = reader.Feed(std::string_view(chunk.constData(), chunk.size()));
        }
        ok = ok && reader.Finish();
        result.ok = ok;
        result.error = reader.Error();
        result.table = std::move(reader.Table());
        return result;
    }));
}

void TrendWindow::Finished() {
    FileResult result = m_loading.result();
    if (!result.ok) {
        m_status->setText("Not a log file");
        m_boxes.show("Cannot plot " + m_path.toLocal8Bit().toStdString() + ":\r\n" + result.error,
                     "Plot Log File", MessageIcon::Exclamation);
        emit Loaded(false);
        return;
    }
    m_file = std::make_unique<LogTable>(std::move(result.table));
    const LogTable::Civil& s = m_file->start;
    m_fileStartMs = static_cast<double>(
        QDateTime(QDate(s.year, s.month, s.day), QTime(s.hour, s.minute, std::min(s.second, 59)))
            .toMSecsSinceEpoch());
    std::vector<QString> names;
    for (const std::string& title : m_file->titles)
        names.push_back(Local(title));
    SetChannels(names);
    QString text = QString("%1 rows, %2 channels").arg(m_file->rows).arg(names.size());
    if (m_file->skippedRows > 0) text += QString(", %1 lines skipped").arg(m_file->skippedRows);
    m_status->setText(text);
    Redraw();
    emit Loaded(true);
}

void AddTrendCommands(QWidget* owner, QMenu* logging, QMenu* comms, TrendWindow::Live live,
                      MessageBoxes& boxes, std::function<QString()> logFolder) {
    QAction* plot = logging->addAction(QString::fromUtf8("Plot Log File…"));
    plot->setObjectName("mnuPlotLog");
    QObject::connect(plot, &QAction::triggered, owner, [owner, &boxes, logFolder] {
        const QString path = QFileDialog::getOpenFileName(owner, "Plot Log File", logFolder(),
                                                          "Log files (*.csv);;All files (*)");
        if (path.isEmpty()) return;
        auto* window = new TrendWindow(boxes, owner);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        window->PlotFile(path);
    });
    QAction* trend = comms->addAction(QString::fromUtf8("Trend…"));
    trend->setObjectName("mnuTrend");
    // Made at its first opening, kept (closed, idle) after that.
    QObject::connect(trend, &QAction::triggered, owner, [owner, live, &boxes] {
        auto* window = owner->findChild<TrendWindow*>("TrendWindow", Qt::FindDirectChildrenOnly);
        if (!window) {
            window = new TrendWindow(live, boxes, owner);
            window->setObjectName("TrendWindow");
        }
        window->show();
        window->raise();
        window->activateWindow();
    });
}

std::vector<TrendReading> TilePass(const WorkspaceClass& workspace, const MainWindowState& state) {
    std::vector<TrendReading> pass;
    const int channels = UsableChannels(workspace);
    for (int i = 1; i <= channels; ++i)
        pass.push_back({workspace.Items[static_cast<size_t>(i - 1)].Caption, state.NetValues[i],
                        !state.CommsError[i]});
    return pass;
}
