#include "HeadlessLogger.h"

#include "CoreQt.h"
#include "LoggerCore.h"
#include "MessageBox.h"
#include "RunReport.h"
#include "VeldaASCIIModule.h"
#include "VeldaBusModule.h"
#include "VexaUSBModule.h"
#include "Windowless.h"
#include "Workspace.h"
#include "WorkspaceFile.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Message boxes become lines on stderr: "Title: text".
class StderrBoxes : public MessageBoxes {
  public:
    int warnings = 0; // boxes titled "Warning": a workspace that did not load
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon,
                       MessageButtons = MessageButtons::Ok) override {
        if (title == "Warning") ++warnings;
        std::string line;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, "\r\n") == 0) {
                line += '\n';
                ++i;
            } else {
                line += text[i];
            }
        }
        std::fprintf(stderr, "%s: %s\n", title.c_str(), line.c_str());
        return MessageAnswer::Ok;
    }
};

// SIGINT and SIGTERM reach the event loop through a pipe.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    const int saved = errno;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

bool InstallSignalHandlers() {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

bool ParseNumber(const char* text, double minimum, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && value >= minimum;
}

} // namespace

std::optional<HeadlessOptions> ParseHeadlessOptions(int argc, char** argv, std::string& error) {
    HeadlessOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        double number = 0;
        if (arg == "--help" || arg == "-h") {
            error.clear();
            return std::nullopt;
        } else if (arg == "--rows" && hasValue) {
            if (!ParseNumber(argv[++i], 1, number) || number != static_cast<long long>(number)) {
                error = "--rows needs a whole number of at least 1";
                return std::nullopt;
            }
            options.rows = static_cast<long long>(number);
        } else if (arg == "--seconds" && hasValue) {
            // The limit keeps the run time within what one timer can count.
            if (!ParseNumber(argv[++i], 0.001, number) || number > 2e6) {
                error = "--seconds needs a positive number of at most 2000000";
                return std::nullopt;
            }
            options.seconds = number;
        } else if (arg == "--log" && hasValue) {
            options.logPath = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown or incomplete option " + arg;
            return std::nullopt;
        } else if (options.workspacePath.empty()) {
            options.workspacePath = arg;
        } else {
            error = "more than one workspace given";
            return std::nullopt;
        }
    }
    if (options.logPath.empty() || options.workspacePath.empty()) {
        error = "a log file (--log FILE) and a workspace are both needed";
        return std::nullopt;
    }
    return options;
}

int RunHeadlessLogger(const HeadlessOptions& options) {
    // First of all, so that a signal during the start-up ends the run cleanly
    // once the event loop runs.
    if (!InstallSignalHandlers()) {
        std::fprintf(stderr, "tarnvik-log: cannot handle signals: %s\n", std::strerror(errno));
    }
    const RegionalSettings regional = RegionalSettingsFromLocale(QLocale::system());
    StderrBoxes boxes;
    WorkspaceClass workspace;
    LoadWorkspace(workspace, options.workspacePath, regional, boxes);
    if (boxes.warnings > 0) return 1;

    MainWindowState state;
    state.DecimalComma = regional.decimalSeparator == ',';
    ProtocolModule protocol(workspace, VeldaBusModule::Library(), VeldaASCIIModule::Library(),
                            VexaUSBModule::Library());
    try {
        if (IsFailure(protocol.ProtocolOpenPort(workspace.Port, workspace.Baudrate))) {
            boxes.show("Cannot open COM" + IntegerText(workspace.Port) +
                           "!\r\nEither load another workspace or edit the current workspace "
                           "and select a valid COM port.",
                       "Critical Error", MessageIcon::Critical);
            return 1;
        }
        protocol.ProtocolSetTimeout(1000);
    } catch (const ProtocolError& error) {
        boxes.show(error.what(), "Critical Error", MessageIcon::Critical);
        return 1;
    }

    WindowlessSurface window(workspace, [] { QCoreApplication::processEvents(); });
    SystemClock clock;
    FixedLogFile chooser(options.logPath);
    NoSettings settings;
    NoShell shell;
    LoggerCore* corePointer = nullptr;
    QtTimer autoRetryTimer([&] { corePointer->AutoRetryTimer_Timer(); });
    bool limitReached = false;
    QtTimer logTimer(
        [&] {
            corePointer->LogTimerFired();
            if (options.rows > 0 && corePointer->RowsWritten() >= options.rows && !limitReached) {
                limitReached = true;
                corePointer->DoLogging(); // stops: no row beyond the limit
                QCoreApplication::quit();
            }
        },
        Qt::PreciseTimer);
    LoggerCore core(
        workspace, state, protocol, regional,
        CoreSeams{window, boxes, autoRetryTimer, logTimer, clock, chooser, settings, shell});
    corePointer = &core;

    core.DoLogging();
    if (!core.IsLogging()) {
        protocol.ProtocolClosePort();
        return 1;
    }

    QtTimer screenTimer([&] { core.ScreenTimer_Timer(); });
    screenTimer.Start(333);
    StatusReporter status(::isatty(STDERR_FILENO) == 1);
    QtTimer statusTimer([&] {
        const StatusEvents events = EventsOf(core, state, workspace);
        const std::string line =
            StatusLineText(window.Label(), TotalsOf(core, options.logPath), events);
        if (const auto text = status.Report(clock.MonotonicMs(), line, events))
            std::fputs(text->c_str(), stderr);
    });
    statusTimer.Start(1000);
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::quit(); });
    if (options.seconds > 0) deadline.start(static_cast<int>(options.seconds * 1000));

    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (g_signalPipe[0] >= 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [] {
            char drain[16];
            while (::read(g_signalPipe[0], drain, sizeof drain) > 0) {
            }
            QCoreApplication::quit();
        });
    }

    QCoreApplication::exec();

    state.Closing = true;
    screenTimer.Stop();
    statusTimer.Stop();
    autoRetryTimer.Stop();
    if (core.IsLogging()) core.DoLogging();
    try {
        protocol.ProtocolClosePort();
    } catch (const ProtocolError&) {
        // The port was opened through this driver, so it is there; nothing
        // to report at the very end in any case.
    }
    std::fputs(status.Finish().c_str(), stderr);
    const RunTotals totals = TotalsOf(core, options.logPath);
    std::fputs(
        RunSummaryText(StatisticsTable(workspace, core.Statistics(), clock.MonotonicMs()), totals)
            .c_str(),
        stderr);
    return RunExitStatus(totals, core.Statistics().AnyFailed());
}
