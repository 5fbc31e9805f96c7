// Tarnvik: the desktop data logger for Vexa instruments.
#include "comm/VeldaASCIIModule.h"
#include "comm/VeldaBusModule.h"
#include "comm/VexaUSBModule.h"
#include "gui/MainFrm.h"
#include "workspace/dialogs/FileDialogsQt.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QUrl>

namespace {

// The per-user program settings under the program's name.
class QtSizeSettings : public SizeSettings {
  public:
    explicit QtSizeSettings(const QString& application)
        : m_settings(QSettings::NativeFormat, QSettings::UserScope, application, application) {}
    std::optional<std::string> Read(const std::string& section, const std::string& key) override {
        const QVariant v = m_settings.value(Key(section, key));
        if (!v.isValid()) return std::nullopt;
        return v.toString().toStdString();
    }
    void Write(const std::string& section, const std::string& key,
               const std::string& value) override {
        m_settings.setValue(Key(section, key), QString::fromStdString(value));
        m_settings.sync();
    }

  private:
    static QString Key(const std::string& section, const std::string& key) {
        return QString::fromStdString(section + "/" + key);
    }
    QSettings m_settings;
};

class QtShell : public ShellOpener {
  public:
    void OpenFile(const std::string& path) override {
        const QString p = QString::fromLocal8Bit(path.c_str());
        QDesktopServices::openUrl(QFileInfo::exists(p) ? QUrl::fromLocalFile(p)
                                                       : QUrl::fromUserInput(p));
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ProgramFacts facts;
    facts.location = ProgramLocation::OfThisProcess();
    for (int i = 1; i < argc; ++i)
        facts.commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    facts.versionMajor = TARNVIK_VERSION_MAJOR;
    facts.versionMinor = TARNVIK_VERSION_MINOR;
    facts.versionRevision = TARNVIK_VERSION_PATCH;
    facts.regional = RegionalSettingsFromLocale(QLocale::system());
    QApplication::setApplicationName(QString::fromStdString(facts.location.ProgramName));

    QtSizeSettings sizes(QString::fromStdString(facts.location.ProgramName));
    QtShell shell;
    QtSpecialFolders folders;
    SystemClock clock;
    MainFrm w(MainFrameServices{nullptr,
                                nullptr,
                                nullptr,
                                sizes,
                                shell,
                                folders,
                                VeldaBusModule::Library(),
                                VeldaASCIIModule::Library(),
                                VexaUSBModule::Library(),
                                clock,
                                facts,
                                {}});
    if (!w.Startup()) return 1;
    return app.exec();
}
