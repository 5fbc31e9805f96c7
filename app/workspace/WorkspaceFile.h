// Workspace files (".lws"): one INI section "Workspace" holding the whole
// measurement set-up.
#pragma once

#include "base/MessageBox.h"
#include "base/NumberText.h"
#include "workspace/Workspace.h"

#include <string>

// Writes ws to path, entry by entry in the fixed order, and stores the file
// whole as StoreIniText does (in place where the folder or the file's links
// or owner call for it); any failure is shown through boxes.
void SaveWorkspace(const WorkspaceClass& ws, const std::string& path, const RegionalSettings& rs,
                   MessageBoxes& boxes);

// Reads path into ws. A file that cannot be read is shown through boxes and
// leaves ws unchanged; an empty path loads every default. Values that do not
// convert keep the field's previous value (0 for a channel's field). At most
// MaxChannels channels are loaded, and Channels always equals the item count.
// A USB workspace while UsbDriverFault is set is loaded, then warned about.
void LoadWorkspace(WorkspaceClass& ws, const std::string& path, const RegionalSettings& rs,
                   MessageBoxes& boxes);

// Whether path is a workspace file: readable, with the "Workspace" section.
bool IsWorkspaceFile(const std::string& path);
