#include "HeadlessLogger.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string error;
    const auto options = ParseHeadlessOptions(argc, argv, error);
    if (!options) {
        if (!error.empty()) std::fprintf(stderr, "tarnvik-log: %s\n", error.c_str());
        std::fprintf(stderr, "usage: tarnvik-log [--rows N] [--seconds S] [--overwrite | --append] "
                             "--log FILE|- WORKSPACE.lws\n"
                             "\n"
                             "exit status:\n"
                             "  0  every row was written and every reading succeeded\n"
                             "  1  the run could not start\n"
                             "  2  the run completed, but some readings failed\n"
                             "  3  some rows could not be written (wins over 2)\n");
        return error.empty() ? 0 : 1;
    }
    return RunHeadlessLogger(*options);
}
