// How much a screen refresh costs the tiles: prints a table of the time per
// operation for unchanged and changed values, colours and resizes.
#include "controls/LCDModule.h"
#include "controls/eLCD.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double NanosecondsPerRun(int runs, const std::function<void(int)>& body) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i)
        body(i);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() / runs;
}

void Row(const char* what, int runs, double ns) {
    std::printf("| %-44s | %8d | %12.1f |\n", what, runs, ns / 1000.0);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<LCDModule*> tiles;
    QWidget host;
    for (int i = 0; i < 24; ++i)
        tiles.push_back(new LCDModule(&host));
    LCDModule& tile = *tiles.front();
    const QString values[] = {QStringLiteral("12.345"), QStringLiteral("-0.250")};

    std::printf("| %-44s | %8s | %12s |\n", "operation", "runs", "us per run");
    std::printf("|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(10, '-').c_str(),
                std::string(14, '-').c_str());
    Row("unchanged value on one tile", 200000,
        NanosecondsPerRun(200000, [&](int) { tile.setValue(values[0]); }));
    Row("unchanged back colour on one tile", 200000,
        NanosecondsPerRun(200000, [&](int) { tile.setBackColor(tile.display()->BackColor()); }));
    Row("changed value on one tile (one drawing)", 5000,
        NanosecondsPerRun(5000, [&](int i) { tile.setValue(values[i % 2]); }));
    Row("refresh of 24 tiles, every value changed", 500, NanosecondsPerRun(500, [&](int i) {
            for (LCDModule* t : tiles)
                t->setValue(values[i % 2]);
        }));
    Row("refresh of 24 tiles, no value changed", 20000, NanosecondsPerRun(20000, [&](int) {
            for (LCDModule* t : tiles)
                t->setValue(values[0]);
        }));
    eLCD& lcd = *tile.display();
    Row("display resize (layout and drawing)", 2000, NanosecondsPerRun(2000, [&](int i) {
            lcd.setGeometryTwips(60, 60, i % 2 ? 3795 : 3600, 690);
        }));
    lcd.setDigits(99);
    Row("display of 99 digits, changed value", 500,
        NanosecondsPerRun(500, [&](int i) { lcd.setCaption(values[i % 2]); }));
    return 0;
}
