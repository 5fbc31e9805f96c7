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
                             "--log FILE|- WORKSPACE.lws\n");
        return error.empty() ? 0 : 1;
    }
    return RunHeadlessLogger(*options);
}
