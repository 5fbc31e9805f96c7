#include "core/PortSetup.h"

#include "base/NumberText.h"
#include "comm/ProtocolModule.h"
#include "workspace/Workspace.h"

std::string CannotOpenPortText(int16_t port) {
    return "Cannot open COM" + IntegerText(port) +
           "!\r\nEither load another workspace or edit the current workspace and select a "
           "valid COM port.";
}

PortSetup SetUpPort(ProtocolModule& protocol, const WorkspaceClass& workspace) {
    PortSetup setup;
    try {
        setup.opened = !IsFailure(protocol.ProtocolOpenPort(workspace.Port, workspace.Baudrate));
        if (!setup.opened) setup.fault = CannotOpenPortText(workspace.Port);
    } catch (const ProtocolError& error) {
        setup.fault = error.what();
    }
    try {
        protocol.ProtocolSetTimeout(ReplyTimeoutMs);
    } catch (const ProtocolError& error) {
        if (setup.fault.empty()) setup.fault = error.what();
    }
    return setup;
}
