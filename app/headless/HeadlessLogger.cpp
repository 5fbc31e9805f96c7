#include "headless/HeadlessLogger.h"

#include "base/MessageBox.h"
#include "comm/VeldaASCIIModule.h"
#include "comm/VeldaBusModule.h"
#include "comm/VexaUSBModule.h"
#include "core/CoreQt.h"
#include "core/LogTarget.h"
#include "core/LoggerCore.h"
#include "core/PortSetup.h"
#include "core/RunReport.h"
#include "core/RunSignals.h"
#include "core/Windowless.h"
#include "headless/HeadlessMqtt.h"
#include "workspace/Workspace.h"
#include "workspace/WorkspaceFile.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
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
        if (TakeMqttOption(argc, argv, i, options.mqtt, error)) {
            if (!error.empty()) return std::nullopt;
        } else if (arg == "--help" || arg == "-h") {
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
        } else if (arg == "--overwrite" || arg == "--append") {
            const LogFileMode mode = arg == "--append" ? LogFileMode::Append : LogFileMode::Replace;
            if (options.logMode != LogFileMode::NewOnly && options.logMode != mode) {
                error = "--overwrite and --append exclude each other";
                return std::nullopt;
            }
            options.logMode = mode;
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
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "localhost");
    error = CompleteMqttOptions(options.mqtt, options.logPath, options.workspacePath, host);
    if (!error.empty()) return std::nullopt;
    return options;
}

int RunHeadlessLogger(const HeadlessOptions& options) {
    // First of all, so that a signal during the start-up ends the run cleanly
    // once the event loop runs.
    if (!InstallRunSignals()) {
        std::fprintf(stderr, "tarnvik-log: cannot handle signals: %s\n", std::strerror(errno));
    }
    if (const auto refusal = LogTargetRefusal(options.logPath, options.workspacePath)) {
        std::fprintf(stderr, "tarnvik-log: %s; nothing was written\n", refusal->c_str());
        return 1;
    }
    const RegionalSettings regional = RegionalSettingsFromLocale(QLocale::system());
    StderrBoxes boxes;
    WorkspaceClass workspace;
    LoadWorkspace(workspace, options.workspacePath, regional, boxes);
    if (boxes.warnings > 0) return 1;
    if (const std::string fault = UnknownProtocolFault(workspace.Protocol); !fault.empty()) {
        boxes.show(fault + ": " + options.workspacePath + " cannot be logged.", "Critical Error",
                   MessageIcon::Critical);
        return 1;
    }

    MainWindowState state;
    state.DecimalComma = regional.decimalSeparator == ',';
    ProtocolModule protocol(workspace, VeldaBusModule::Library(), VeldaASCIIModule::Library(),
                            VexaUSBModule::Library());
    if (const PortSetup setup = SetUpPort(protocol, workspace); !setup.fault.empty()) {
        boxes.show(setup.fault, "Critical Error", MessageIcon::Critical);
        return 1;
    }

    // A stop ends the pass in progress after its present driver call: one
    // asked for by a signal or due by --seconds is looked for whenever the
    // pass lets events run, since timers do not all fire inside a pass.
    SystemClock clock;
    double stopAtMs = std::numeric_limits<double>::infinity();
    const auto requestStop = [&] {
        state.Closing = true;
        QCoreApplication::quit();
    };
    const auto stopIfAsked = [&] {
        if (StopSignalled() || clock.MonotonicMs() >= stopAtMs) requestStop();
    };
    WindowlessSurface window(workspace, [&] {
        QCoreApplication::processEvents();
        stopIfAsked();
    });
    FixedLogFile chooser(options.logPath, options.logMode);
    NoSettings settings;
    NoShell shell;
    LoggerCore* corePointer = nullptr;
    QtTimer autoRetryTimer([&] { corePointer->AutoRetryTimer_Timer(); });
    bool limitReached = false;
    QtTimer logTimer(
        [&] {
            stopIfAsked();
            corePointer->LogTimerFired();
            if (options.rows > 0 && corePointer->RowsWritten() >= options.rows && !limitReached) {
                limitReached = true;
                corePointer->DoLogging(); // stops: no row beyond the limit
                requestStop();
            }
        },
        Qt::PreciseTimer);
    LoggerCore core(
        workspace, state, protocol, regional,
        CoreSeams{window, boxes, autoRetryTimer, logTimer, clock, chooser, settings, shell});
    corePointer = &core;
    // For tests of the retry only (see --help).
    if (const char* retryMs = std::getenv("TARNVIK_RETRY_MS")) {
        double ms = 0;
        if (ParseNumber(retryMs, 1, ms) && ms <= std::numeric_limits<int32_t>::max())
            core.SetAutoRetryMs(static_cast<int32_t>(ms));
    }

    std::unique_ptr<HeadlessMqtt> mqtt;
    if (options.mqtt.enabled()) {
        std::string error;
        mqtt = HeadlessMqtt::Start(options.mqtt, workspace, core, state, regional, error);
        if (!mqtt) {
            std::fprintf(stderr, "tarnvik-log: %s; nothing was logged\n", error.c_str());
            protocol.ProtocolClosePort();
            return 1;
        }
    }

    core.DoLogging();
    if (!core.IsLogging()) {
        protocol.ProtocolClosePort();
        return 1;
    }
    if (options.seconds > 0) stopAtMs = clock.MonotonicMs() + options.seconds * 1000;
    // The first pass before the first row: a channel that does not answer
    // costs its full read here, once, and is probed from then on, so the log
    // starts without a gap.
    core.FirstPassBeforeTheFirstRow();

    QtTimer screenTimer([&] { core.ScreenTimer_Timer(); });
    screenTimer.Start(ScreenTimerMs);
    StatusReporter status(::isatty(STDERR_FILENO) == 1);
    QtTimer statusTimer([&] {
        const StatusEvents events = EventsOf(core, state, workspace);
        if (mqtt) mqtt->Tell();
        const std::string line =
            StatusLineText(window.Label(), TotalsOf(core, options.logPath), events) +
            (mqtt ? mqtt->StatusText() : "");
        if (const auto text = status.Report(clock.MonotonicMs(), line, events))
            std::fputs(text->c_str(), stderr);
    });
    statusTimer.Start(1000);
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, requestStop);
    if (options.seconds > 0)
        deadline.start(static_cast<int>(std::max(0.0, stopAtMs - clock.MonotonicMs())));

    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (RunSignalsFd() >= 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(RunSignalsFd(), QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [&] {
            DrainRunSignals();
            if (TakeHangupSignal() && core.IsLogging()) {
                std::string error;
                if (core.ReopenLogFile(error))
                    std::fprintf(stderr, "tarnvik-log: log file %s reopened\n",
                                 options.logPath.c_str());
                else
                    std::fprintf(stderr, "tarnvik-log: cannot reopen %s: %s\n",
                                 options.logPath.c_str(), error.c_str());
            }
            if (TakeRetrySignal()) core.mnuRetry_Click();
            if (StopSignalled()) requestStop();
        });
    }
    int64_t renewalsTold = 0;
    QtTimer renewalWatch([&] {
        if (core.LogFileRenewals() == renewalsTold) return;
        renewalsTold = core.LogFileRenewals();
        std::fprintf(stderr,
                     "tarnvik-log: log file %s was deleted or moved away; it was created anew "
                     "with a header and logging goes on there\n",
                     options.logPath.c_str());
    });
    renewalWatch.Start(1000);

    // A stop during the first pass came before the loop that it would end.
    if (!state.Closing) QCoreApplication::exec();

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
    if (mqtt) mqtt->Stop();
    std::fputs(status.Finish().c_str(), stderr);
    const RunTotals totals = TotalsOf(core, options.logPath);
    std::fputs(
        RunSummaryText(StatisticsTable(workspace, core.Statistics(), clock.MonotonicMs()), totals)
            .c_str(),
        stderr);
    if (core.LogFileRenewals() > 0)
        std::fprintf(stderr, "tarnvik-log: the log file was created anew %lld times\n",
                     static_cast<long long>(core.LogFileRenewals()));
    if (mqtt) std::fputs(mqtt->SummaryText().c_str(), stderr);
    // Messages the spool had to drop are readings lost to the broker.
    if (mqtt && mqtt->Dropped()) return RunRowsLost;
    return RunExitStatus(totals, core.Statistics().AnyFailed());
}
