#include "Channels.h"

bool UsbDriverFault = false;
