#include "core/Windowless.h"

#include "workspace/Workspace.h"

WindowlessSurface::WindowlessSurface(const WorkspaceClass& workspace,
                                     std::function<void()> processEvents)
    : m_workspace(workspace), m_processEvents(std::move(processEvents)) {}

std::string WindowlessSurface::TileTitle(int tile) {
    if (tile < 1 || tile > static_cast<int>(m_workspace.Items.size())) return "";
    return m_workspace.Items[static_cast<size_t>(tile - 1)].Caption;
}
