// The pickers and the report viewer for the job pages.
#include "ui/file_pickers.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

namespace torquelin {

const FileFilter kPatchFilter = {{u"zoDuvur files (*.dov)", u"*.dov"},
                                 {u"All files (*.*)", u"*.*"}};
const FileFilter kReportFilter = {{u"zoDuvur Report files (*.xml)", u"*.xml"},
                                  {u"All files (*.*)", u"*.*"}};
const FileFilter kVaultFilter = {{u"riDerev files (*.zov)", u"*.zov"},
                                 {u"All files (*.*)", u"*.*"}};

namespace {

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

// The file dialog takes its patterns from the parentheses of each entry. On
// POSIX "*.*" would hide every name without a dot, while the entry means
// "every file", so it is handed over as "*".
QStringList QtNameFilters(const FileFilter& filter) {
  QStringList list;
  for (const FileFilterPair& pair : filter) {
    const QString pattern = Q(pair.pattern);
    const QString qtPattern = pattern == QStringLiteral("*.*") ? QStringLiteral("*") : pattern;
    QString description = Q(pair.description);
    const QString shown = QStringLiteral("(") + pattern + QStringLiteral(")");
    if (description.endsWith(shown))
      description.chop(shown.size());
    else
      description += QLatin1Char(' ');
    list << description + QStringLiteral("(") + qtPattern + QStringLiteral(")");
  }
  return list;
}

}  // namespace

std::u16string DefaultExtension(const FileFilter& filter) {
  if (filter.empty()) return {};
  const std::u16string pattern = filter.front().pattern;
  const size_t dot = pattern.rfind(u'.');
  if (dot == std::u16string::npos) return {};
  std::u16string extension = pattern.substr(dot + 1);
  if (extension.find_first_of(u"*?") != std::u16string::npos) return {};
  return extension;
}

std::u16string BrowseForFolder(std::u16string initial) {
  const QString chosen = QFileDialog::getExistingDirectory(nullptr, Q(kFolderPickerTitle),
                                                           Q(initial), QFileDialog::ShowDirsOnly);
  return chosen.isEmpty() ? initial : chosen.toStdU16String();
}

std::u16string BrowseForFile(FileDialogMode mode, std::u16string initial,
                             const FileFilter& filter) {
  QFileDialog dialog(nullptr);
  dialog.setAcceptMode(mode == FileDialogMode::Open ? QFileDialog::AcceptOpen
                                                    : QFileDialog::AcceptSave);
  // The open dialog may name a file that does not exist yet; the job says
  // what is wrong with it.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  const QStringList filters = QtNameFilters(filter);
  dialog.setNameFilters(filters);
  if (!filters.isEmpty()) dialog.selectNameFilter(filters.front());
  dialog.setDefaultSuffix(Q(DefaultExtension(filter)));
  if (!initial.empty()) dialog.selectFile(Q(initial));
  if (dialog.exec() != QDialog::Accepted) return initial;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return initial;
  return chosen.front().toStdU16String();
}

void ViewReport(std::u16string path, std::function<void()> noViewer) {
  if (path.empty()) return;
  const QUrl url = QUrl::fromLocalFile(Q(path));
  const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (opener.isEmpty()) {
    if (!QDesktopServices::openUrl(url) && noViewer) noViewer();
    return;
  }
  // xdg-open reports a missing program only by its exit status, so it is
  // watched. It has no parent: closing the program must not end a viewer
  // that xdg-open runs in its own process.
  auto* process = new QProcess;
  process->setProgram(opener);
  // An absolute path: it can never be taken for one of xdg-open's options.
  process->setArguments({QFileInfo(Q(path)).absoluteFilePath()});
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  QObject::connect(process, &QProcess::finished, process,
                   [process, noViewer](int code, QProcess::ExitStatus status) {
                     process->deleteLater();
                     if ((status != QProcess::NormalExit || code != 0) && noViewer) noViewer();
                   });
  QObject::connect(process, &QProcess::errorOccurred, process,
                   [process, noViewer](QProcess::ProcessError error) {
                     if (error != QProcess::FailedToStart) return;
                     process->deleteLater();
                     if (noViewer) noViewer();
                   });
  process->start();
}

std::u16string NoViewerMessage(const std::u16string& reportPath) {
  return u"No program to show XML files was found.\n\nThe report is at:\n" + reportPath;
}

}  // namespace torquelin
