#include "gui/StatisticsFrm.h"

#include "core/ChannelStatistics.h"
#include "core/LoggerCore.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr int RefreshMs = 1000;
}

StatisticsFrm::StatisticsFrm(LoggerCore& core, const WorkspaceClass& workspace, Clock& clock,
                             QWidget* parent)
    : QDialog(parent), m_core(core), m_workspace(workspace), m_clock(clock),
      m_table(new QTableWidget(this)), m_totals(new QLabel(this)) {
    setObjectName("StatisticsFrm");
    setWindowTitle("Statistics");
    setModal(false);
    m_table->setObjectName("StatisticsTable");
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_totals->setObjectName("StatisticsTotals");
    auto* reset = new QPushButton("&Reset", this);
    reset->setObjectName("btnReset");
    auto* close = new QPushButton("&Close", this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_totals, 1);
    buttons->addWidget(reset);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    resize(900, 360);

    connect(reset, &QPushButton::clicked, this, [this] {
        m_core.ResetStatistics();
        Refresh();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_timer, &QTimer::timeout, this, &StatisticsFrm::Refresh);
}

void StatisticsFrm::Refresh() {
    const auto rows = StatisticsTable(m_workspace, m_core.Statistics(), m_clock.MonotonicMs());
    const int columns = static_cast<int>(rows.front().size());
    m_table->setColumnCount(columns);
    m_table->setRowCount(static_cast<int>(rows.size()) - 1);
    for (int c = 0; c < columns; ++c) {
        const QString header = QString::fromStdString(rows[0][static_cast<size_t>(c)]);
        if (!m_table->horizontalHeaderItem(c) || m_table->horizontalHeaderItem(c)->text() != header)
            m_table->setHorizontalHeaderItem(c, new QTableWidgetItem(header));
    }
    for (size_t r = 1; r < rows.size(); ++r) {
        for (int c = 0; c < columns; ++c) {
            const QString text = QString::fromLocal8Bit(rows[r][static_cast<size_t>(c)].c_str());
            QTableWidgetItem* item = m_table->item(static_cast<int>(r) - 1, c);
            if (!item) {
                item = new QTableWidgetItem;
                if ((c >= 1 && c <= 3) || c >= 7)
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                m_table->setItem(static_cast<int>(r) - 1, c, item);
            }
            if (item->text() != text) item->setText(text);
        }
    }
    m_totals->setText(QString("Rows written: %1, lost: %2, not flushed: %3; reconnects: %4")
                          .arg(m_core.RowsWritten())
                          .arg(m_core.RowsLost())
                          .arg(m_core.RowsNotFlushed())
                          .arg(m_core.Reconnects()));
}

void StatisticsFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Refresh();
    m_timer.start(RefreshMs);
}

void StatisticsFrm::hideEvent(QHideEvent* event) {
    m_timer.stop();
    QDialog::hideEvent(event);
}
