#include "base/Channels.h"

bool UsbDriverFault = false;
