#include "workspace/Workspace.h"

#include "base/NumberText.h"

ItemClass DefaultChannelItem(int position) {
    ItemClass item;
    item.Station = position;
    item.Caption = "Channel " + IntegerText(position);
    item.Format = "00.000";
    return item;
}
