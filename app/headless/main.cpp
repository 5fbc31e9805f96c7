#include "headless/HeadlessLogger.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string error;
    const auto options = ParseHeadlessOptions(argc, argv, error);
    if (!options) {
        if (!error.empty()) std::fprintf(stderr, "tarnvik-log: %s\n", error.c_str());
        std::fprintf(stderr, "%s",
                     (std::string("usage: tarnvik-log [--rows N] [--seconds S] [--overwrite | "
                                  "--append] [--mqtt URL [MQTT options]] "
                                  "--log FILE|- WORKSPACE.lws\n"
                                  "\n"
                                  "MQTT options:\n") +
                      MqttUsageText +
                      "\n"
                      "exit status:\n"
                      "  0  every row was written and every reading succeeded\n"
                      "  1  the run could not start\n"
                      "  2  the run completed, but some readings failed\n"
                      "  3  some rows could not be written, or messages for the broker were\n"
                      "     dropped (wins over 2)\n"
                      "\n"
                      "A channel whose instrument does not answer is probed every 30 s with\n"
                      "a short time-out, so that the other channels keep their rows.\n"
                      "\n"
                      "signals:\n"
                      "  SIGINT, SIGTERM  stop; the last row is whole, the file closed\n"
                      "  SIGHUP           reopen the log file (after log rotation)\n"
                      "  SIGUSR1          retry now, as the Retry command of the desktop\n"
                      "                   program does: reread every channel in error with\n"
                      "                   the full time-out (finds instruments too slow\n"
                      "                   for a probe)\n"
                      "\n"
                      "environment, for testing only:\n"
                      "  TARNVIK_RETRY_MS  the automatic retry interval in ms (30000)\n")
                         .c_str());
        return error.empty() ? 0 : 1;
    }
    return RunHeadlessLogger(*options);
}
