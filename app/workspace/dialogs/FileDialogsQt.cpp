#include "workspace/dialogs/FileDialogsQt.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace {

QString Q(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}
std::string S(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// The entry as Qt shows and applies it: the description exactly as given,
// the pattern after it (hidden); "*.*" means every file, dotted or not.
QString QtFilter(const std::pair<std::string, std::string>& filter) {
    const QString pattern = filter.second == "*.*" ? QStringLiteral("*") : Q(filter.second);
    return Q(filter.first) + QStringLiteral(" (") + pattern + QStringLiteral(")");
}

} // namespace

std::string QtSpecialFolders::GetSpecialFolder(int number) {
    QString path;
    if (number == CSIDL_LOCAL_APPDATA)
        path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    else if (number == CSIDL_PERSONAL)
        path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    path = path.trimmed();
    if (path.isEmpty() || !QDir().mkpath(path)) return {};
    return S(path);
}

void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request) {
    dialog.setWindowTitle(Q(request.Title));
    dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.AskBeforeOverwrite);
    QStringList filters;
    for (const auto& filter : request.Filters)
        filters << QtFilter(filter);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(Q(request.DefaultExtension));
    if (!request.InitialFolder.empty()) dialog.setDirectory(Q(request.InitialFolder));
    if (!request.InitialName.empty()) dialog.selectFile(Q(request.InitialName));
}

FileDialogResult QtFileDialogService::Show(const FileDialogRequest& request) {
    QFileDialog dialog(m_owner);
    ConfigureFileDialog(dialog, request);
    FileDialogResult result;
    if (dialog.exec() != QDialog::Accepted) return result;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return result;
    result.Accepted = true;
    result.Path = S(QDir::toNativeSeparators(files.first()));
    return result;
}
