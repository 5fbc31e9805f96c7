// Holds the channel tiles and arranges them in rows by their Index property
// (Index 0, the template, is left alone), then takes the size they cover.
// Runs on Refresh() and on every size change.
#pragma once

#include <QWidget>

class TableContainer : public QWidget {
    Q_OBJECT

  public:
    explicit TableContainer(QWidget* parent = nullptr);
    void Refresh();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    bool m_arranging = false;
};
