#include "gui/MainFrameLogic.h"

#include "comm/DriverLibrary.h"
#include "core/PortSetup.h"

#include "window/FormEvents.h"
#include "workspace/IniFile.h"
#include "workspace/TextCoding.h"
#include "workspace/WorkspaceFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace {

constexpr int32_t DefaultWidthTwips = 16000;
constexpr int32_t DefaultHeightTwips = 4000;
constexpr int32_t CaptionAllowanceTwips = 300;
constexpr double UnloadWaitMs = 1000;

bool FileWithContent(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    const auto size = std::filesystem::file_size(path, ec);
    return !ec && size > 0;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// A saved size that is not a positive whole number counts as absent.
std::optional<int32_t> PositiveTwips(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    const char* begin = text->data();
    const char* end = begin + text->size();
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1])))
        --end;
    int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || value <= 0) return std::nullopt;
    return value;
}

} // namespace

std::string WindowCaption(const std::string& title, const std::string& programName,
                          bool fixedInstall) {
    return fixedInstall ? title : title + " - " + programName;
}

std::string CommandLineWorkspace(const std::string& commandLine) {
    std::string path;
    std::copy_if(commandLine.begin(), commandLine.end(), std::back_inserter(path),
                 [](char c) { return c != '"'; });
    if (path.size() < 4) return {};
    std::string extension = path.substr(path.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".lws" ? path : std::string();
}

MainFrameLogic::MainFrameLogic(MainWindowSurface& view, MainFrameServices services)
    : m_view(view), m_s(std::move(services)), m_protocol(m_ws, m_s.bus, m_s.ascii, m_s.usb),
      m_screenTimer(m_s.timers([this] { m_core.ScreenTimer_Timer(); }, false)),
      m_retryTimer(m_s.timers([this] { m_core.AutoRetryTimer_Timer(); }, false)),
      m_logTimer(m_s.timers([this] { m_core.LogTimerFired(); }, true)),
      m_core(m_ws, m_state, m_protocol, m_s.facts.regional,
             CoreSeams{m_view, *m_s.boxes, *m_retryTimer, *m_logTimer, m_s.clock, m_logChooser,
                       m_settings, m_s.shell}) {}

std::string MainFrameLogic::Settings::ReadSetting(const std::string& section,
                                                  const std::string& key,
                                                  const std::string& defaultValue) {
    return ReadIniValue(m_logic.Folders().SettingsFile, section, key, defaultValue);
}

std::string MainFrameLogic::LogFolder() const {
    return ReadIniValue(m_folders.SettingsFile, "LogFiles", "InitDir", m_folders.DataFolder);
}

bool MainFrameLogic::Startup() {
    const ProgramFacts& f = m_s.facts;
    MainWindowSurface& ui = m_view;
    ui.SetVersionLabel("v" + IntegerText(f.versionMajor) + "." + IntegerText(f.versionMinor) + "." +
                       IntegerText(f.versionRevision));
    if (!CheckUsbDriver()) return false;
    ui.SetWindowIcon();

    const std::string zero = FormatPattern(0, "0.0", f.regional);
    m_state.DecimalComma = zero.size() >= 2 && zero[1] == ',';

    m_folders = InitFolders(f.location, m_s.specialFolders, *m_s.boxes);
    m_chooser = std::make_unique<FileChooser>(*m_s.fileDialogs, m_folders.SettingsFile,
                                              m_folders.DataFolder);

    const std::string base = JoinPath(f.location.ApplicationFolder, f.location.ProgramName);
    if (FileExists(base + ".gif")) ui.LoadLogo(base + ".gif");
    if (FileExists(base + ".jpg")) ui.LoadLogo(base + ".jpg");

    Load("");
    ChooseWorkspace();
    SetupDisplays();
    ui.AttachHooks();
    ui.ProcessPendingEvents();
    ui.ShowWindow();
    m_screenTimer->Start(ScreenTimerMs);
    ui.SetLogoTooltip(std::string("Go to ") + MakerWebSite);
    return true;
}

bool MainFrameLogic::CheckUsbDriver() {
    try {
        m_s.usb.VERSION();
        return true;
    } catch (const ProtocolError&) {
    }
    const std::string folder =
        DriverLibrary::FolderFor("VexaUSBDrv", m_s.facts.location.ApplicationFolder);
    if (!FileWithContent(JoinPath(folder, "libVexaUSBDrv.so"))) {
        m_s.boxes->show("Cannot find the VexaUSBDrv.DLL. This should be located in the same "
                        "folder as this application.",
                        "Critical Error", MessageIcon::Critical, MessageButtons::Ok);
        return false;
    }
    UsbDriverFault = true;
    return true;
}

void MainFrameLogic::Load(const std::string& path) {
    ::LoadWorkspace(m_ws, path, m_s.facts.regional, *m_s.boxes);
}

bool MainFrameLogic::Save(const std::string& path) {
    // The file layer reports a failed save only by its message.
    struct Watch : MessageBoxes {
        MessageBoxes& inner;
        bool shown = false;
        explicit Watch(MessageBoxes& boxes) : inner(boxes) {}
        MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                           MessageButtons buttons) override {
            shown = true;
            return inner.show(text, title, icon, buttons);
        }
    } watch(*m_s.boxes);
    ::SaveWorkspace(m_ws, path, m_s.facts.regional, watch);
    return !watch.shown;
}

void MainFrameLogic::ChooseWorkspace() {
    const ProgramFacts& f = m_s.facts;
    const std::string fixedPath =
        JoinPath(f.location.ApplicationFolder, f.location.ProgramName + ".lws");
    m_state.FixedInstall = FileExists(fixedPath);
    if (m_state.FixedInstall) {
        m_view.SetMenuVisible(MenuItem::OpenWorkspace, false);
        m_view.SetMenuVisible(MenuItem::SaveWorkspace, false);
        m_view.SetMenuVisible(MenuItem::Separator, false);
        Load(fixedPath);
        return;
    }
    m_view.SetMenuVisible(MenuItem::ConfigureWorkspace, true);
    const std::string fromCommandLine = CommandLineWorkspace(f.commandLine);
    if (!fromCommandLine.empty()) {
        Load(fromCommandLine);
        return;
    }
    const std::string& settings = m_folders.SettingsFile;
    const std::string file = ReadIniValue(settings, "WorkspaceFiles", "InitFile", "");
    if (file.empty()) return;
    const std::string folder =
        ReadIniValue(settings, "WorkspaceFiles", "InitDir", m_folders.DataFolder);
    Load(JoinPath(folder, file));
}

TwipSize MainFrameLogic::SavedSize() {
    return {PositiveTwips(m_s.sizes.Read("Size", "Width")).value_or(DefaultWidthTwips),
            PositiveTwips(m_s.sizes.Read("Size", "Height")).value_or(DefaultHeightTwips)};
}

void MainFrameLogic::SetupDisplays() {
    MainWindowSurface& ui = m_view;
    ui.SetCaption(WindowCaption(LegibleText(m_ws.Title), m_s.facts.location.ProgramName,
                                m_state.FixedInstall));

    // The state arrays hold 24 channels; a larger count shows the first 24.
    const int tiles = std::clamp<int>(m_ws.Channels, 0, MaxChannels);
    ui.RemoveTiles();
    for (int i = 1; i <= tiles; ++i) {
        const ItemClass item =
            i <= static_cast<int>(m_ws.Items.size()) ? m_ws.Items[i - 1] : DefaultChannelItem(i);
        ui.CreateTile(i, LegibleText(item.Caption),
                      FormatPattern(0, item.Format, m_s.facts.regional));
    }
    ui.EnableMenu(MenuCommand::StartLog, tiles >= 1);
    ui.EnableMenu(MenuCommand::StopLog, false);

    // A driver fault beyond a refused port (the time-out) goes untold here:
    // a failed open has told the operator already, and the reads will.
    if (!SetUpPort(m_protocol, m_ws).opened)
        m_s.boxes->show(CannotOpenPortText(m_ws.Port), "Critical Error", MessageIcon::Critical,
                        MessageButtons::Ok);

    MeasureFrame();
    ui.ProcessPendingEvents();
    SetWindowSize(SavedSize());
    FitWindowToTiles(ui.LayoutTiles());
}

void MainFrameLogic::MeasureFrame() {
    const TwipSize outer = m_view.OuterSize();
    const TwipSize inner = m_view.InnerSize();
    m_state.BorderWidth = static_cast<int32_t>(RoundHalfEven((outer.width - inner.width) / 2.0));
    m_state.CaptionHeight =
        (outer.height - inner.height) - 2 * m_state.BorderWidth - CaptionAllowanceTwips;
}

void MainFrameLogic::FitWindowToTiles(TwipSize tc) {
    SetWindowSize({tc.width + 2 * m_state.BorderWidth,
                   tc.height + m_state.CaptionHeight + 2 * m_state.BorderWidth});
}

void MainFrameLogic::SetWindowSize(TwipSize outer) {
    m_fitting = true;
    m_view.SetOuterSize(outer);
    // A hidden window gets its resize event only when shown; the container
    // must follow the new size now.
    FillWindow();
    m_fitting = false;
}

void MainFrameLogic::FrameChanged() {
    if (m_fitting) return;
    MeasureFrame();
    FitWindowToTiles(m_view.LayoutTiles());
}

bool MainFrameLogic::QueryUnload() {
    if (m_state.WorkspaceChanged) {
        const MessageAnswer answer = m_s.boxes->show(
            "You have made changes to the workspace but have not saved those changes!\r\n"
            "Would you like to save the workspace now?",
            "Unsaved Workspace", MessageIcon::Exclamation, MessageButtons::YesNoCancel);
        if (answer == MessageAnswer::Cancel) return true;
        if (answer == MessageAnswer::Yes) {
            const std::string path = m_chooser->ChooseWorkspaceToSave();
            if (path.empty()) return true;
            // A save that failed would lose the edits: stay open so the
            // operator can choose another file.
            if (!Save(path)) return true;
            m_state.WorkspaceChanged = false;
        }
    }
    m_state.Closing = true;
    m_logTimer->Stop();
    m_screenTimer->Stop();
    m_view.SetBusyPointer(true);
    return false;
}

void MainFrameLogic::Unload() {
    MainWindowSurface& ui = m_view;
    ui.DetachHooks();
    if (!ui.IsMinimised()) {
        const TwipSize outer = ui.OuterSize();
        m_s.sizes.Write("Size", "Width", IntegerText(outer.width));
        m_s.sizes.Write("Size", "Height", IntegerText(outer.height));
    }
    ClosePort();
    ui.DisableInput();
    // Monotonic, so neither midnight nor a clock change stretches the wait.
    const double start = m_s.clock.MonotonicMs();
    for (double waited = 0; waited < UnloadWaitMs; waited = m_s.clock.MonotonicMs() - start)
        ui.WaitForEvents(UnloadWaitMs - waited);
    ui.SetBusyPointer(false);
}

void MainFrameLogic::RebuildWithFreeze() {
    const bool minimised = m_view.IsMinimised();
    if (!minimised) m_view.FreezeDrawing();
    SetupDisplays();
    if (!minimised) m_view.ReleaseDrawing();
}

void MainFrameLogic::OpenWorkspace() {
    m_screenTimer->Stop();
    const std::string path = m_chooser->ChooseWorkspaceToOpen();
    if (!path.empty()) {
        // Each driver holds its device exclusively: release the old
        // protocol's port before a workspace of another protocol opens it.
        ClosePort();
        Load(path);
        m_state.WorkspaceChanged = false;
        RebuildWithFreeze();
    }
    m_screenTimer->Start(ScreenTimerMs);
}

void MainFrameLogic::SaveWorkspace() {
    const std::string path = m_chooser->ChooseWorkspaceToSave();
    if (path.empty()) return;
    if (Save(path)) m_state.WorkspaceChanged = false;
}

void MainFrameLogic::ConfigureWorkspace() {
    m_screenTimer->Stop();
    ClosePort(); // the editor may change the protocol
    m_s.editor->EditWorkspace(m_ws, m_state.FixedInstall);
    m_state.WorkspaceChanged = true;
    RebuildWithFreeze();
    m_screenTimer->Start(ScreenTimerMs);
}

void MainFrameLogic::LogoClicked() {
    const std::string address = MakerWebSite;
    if (!address.empty()) m_s.shell.OpenFile(address);
}

void MainFrameLogic::ClosePort() {
    try {
        m_protocol.ProtocolClosePort();
    } catch (const ProtocolError&) {
    }
}

void MainFrameLogic::FormResize() {
    if (m_fitting) return;
    m_fitting = true;
    FillWindow();
    m_fitting = false;
}

void MainFrameLogic::FillWindow() {
    m_view.PlaceContainer(m_view.InnerSize());
    m_view.ProcessPendingEvents();
    m_view.ReleaseDrawing();
}

int32_t MainFrameLogic::HitTest(int32_t hitCode) {
    using namespace formevents;
    return hitCode == HTTOP || hitCode == HTBOTTOM ? HTNOWHERE : hitCode;
}

void MainFrameLogic::Resizing(int32_t& x1, int32_t& y1, int32_t& x2, int32_t& y2,
                              int16_t draggedBorder) {
    using namespace formevents;
    m_view.FreezeDrawing();
    const TwipSize tc =
        m_view.PlaceContainer({(x2 - x1) * TwipsPerPixel, (y2 - y1) * TwipsPerPixel});
    const int32_t h = TwipsToPixels(tc.height + m_state.CaptionHeight + 2 * m_state.BorderWidth);
    const int32_t w = TwipsToPixels(tc.width + 2 * m_state.BorderWidth);
    switch (draggedBorder) {
    case WMSZ_LEFT:
    case WMSZ_BOTTOMLEFT:
        y2 = y1 + h;
        x1 = x2 - w;
        break;
    case WMSZ_RIGHT:
    case WMSZ_BOTTOMRIGHT:
        y2 = y1 + h;
        x2 = x1 + w;
        break;
    case WMSZ_TOPLEFT:
        y1 = y2 - h;
        x1 = x2 - w;
        break;
    case WMSZ_TOPRIGHT:
        y1 = y2 - h;
        x2 = x1 + w;
        break;
    default: // top, bottom and unknown codes leave the rectangle
        break;
    }
}
