// Shows tiles in every colour scheme with sample values; --png FILE renders
// them offscreen into FILE and exits.
#include "controls/LCDModule.h"
#include "controls/TableContainer.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>
#include <cstdio>
#include <cstring>

namespace {

struct Sample {
    const char* title;
    const char* value;
    int scheme;
    bool error;
};

const Sample samples[] = {
    {"Channel 1", "12.345", 0, false},
    {"Channel 2 (scheme 1)", "-0.250", 1, false},
    {"Channel 3 (scheme 2)", "1013.2", 2, false},
    {"Channel 4 (scheme 3)", "7.000", 3, false},
    {"Channel 5 (scheme 4)", "88.88", 4, false},
    {"Channel 6 (scheme 5)", "-3.1415", 5, false},
    {"Channel 7", "-------", 0, true},
    {"Channel 8: inlet temperature of the second heat exchanger", "21.50", 0, false},
};

} // namespace

int main(int argc, char** argv) {
    const char* png = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--png") == 0 && i + 1 < argc) {
            png = argv[++i];
        } else {
            std::fprintf(stderr, "usage: tile-preview [--png FILE]\n");
            return 2;
        }
    }
    if (png && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Tile preview"));
    auto* table = new TableContainer(&window);
    auto* tmpl = new LCDModule(table); // the template tile stays hidden
    tmpl->hide();
    int index = 1;
    for (const Sample& s : samples) {
        auto* tile = new LCDModule(table);
        tile->setIndex(index++);
        tile->setTitle(QString::fromUtf8(s.title));
        if (s.scheme > 0) tile->setScheme(s.scheme);
        tile->setValue(QString::fromUtf8(s.value));
        if (s.error) tile->setBackColor(0x0000FF); // red
    }
    table->resize(4 * tmpl->width(), 10);
    table->Refresh();
    window.resize(table->size());

    if (!png) {
        window.show();
        return app.exec();
    }
    const QPixmap shot = window.grab();
    if (!shot.save(QString::fromLocal8Bit(png), "PNG")) {
        std::fprintf(stderr, "tile-preview: cannot write %s\n", png);
        return 1;
    }
    return 0;
}
