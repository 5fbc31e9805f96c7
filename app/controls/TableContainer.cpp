#include "controls/TableContainer.h"

#include "controls/ColourValue.h"
#include "controls/TableLayout.h"

#include <QResizeEvent>

TableContainer::TableContainer(QWidget* parent) : QWidget(parent) {}

void TableContainer::Refresh() {
    // Our own resize below would start the layout again from inside it;
    // SettleTable already ran those passes.
    if (m_arranging) return;
    m_arranging = true;
    std::vector<QWidget*> widgets;
    std::vector<TableItem> items;
    for (QObject* child : children()) {
        if (!child->isWidgetType()) continue;
        const QVariant index = child->property("Index");
        if (!index.isValid()) continue; // not part of the tile array
        auto* widget = static_cast<QWidget*>(child);
        widgets.push_back(widget);
        items.push_back(
            {index.toInt(), PixelsToTwips(widget->width()), PixelsToTwips(widget->height())});
    }
    const TableArrangement result = SettleTable(items, PixelsToTwips(width()));
    for (size_t i = 0; i < widgets.size(); ++i) {
        const TablePlace& place = result.places[i];
        if (!place.placed) continue;
        widgets[i]->move(TwipsToPixels(place.x), TwipsToPixels(place.y));
        widgets[i]->show();
    }
    resize(TwipsToPixels(result.width), TwipsToPixels(result.height));
    m_arranging = false;
}

void TableContainer::resizeEvent(QResizeEvent*) {
    Refresh();
}
