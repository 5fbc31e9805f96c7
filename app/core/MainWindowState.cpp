#include "MainWindowState.h"

bool UsbDriverFault = false;
