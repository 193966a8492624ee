// A job driven through the desktop window's own code path, offscreen: the
// page's fields are filled, its action button pressed, and the time until
// the window is idle again printed in seconds. For window_vs_cli.sh.
//
//   window_bench fingerprint DIR          prints the seconds and the fingerprint
//   window_bench apply DIR PATCH          prints the seconds
#include <cstdio>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "ui/fingerprint_page.h"
#include "ui/main_window.h"

using namespace torquelin;

namespace {

void SetField(torquelin::MainWindow& window, JobKind kind, const char* name, const QString& text) {
  window.PageForJob(static_cast<int>(kind))->findChild<QComboBox*>(name)->setEditText(text);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  const bool fingerprint = args.size() == 2 && args[0] == "fingerprint";
  const bool apply = args.size() == 3 && args[0] == "apply";
  if (!fingerprint && !apply) {
    std::fputs("usage: window_bench fingerprint DIR | apply DIR PATCH\n", stderr);
    return 2;
  }
  // The user's own remembered values stay untouched.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());

  torquelin::MainWindow window;
  window.show();
  const JobKind kind = fingerprint ? JobKind::Fingerprint : JobKind::ApplyPatch;
  if (fingerprint) {
    window.Tabs().setCurrentIndex(5);
    SetField(window, kind, "Fingerprint_dir", args[1]);
  } else {
    window.Tabs().setCurrentIndex(3);
    SetField(window, kind, "Apply_dir", args[1]);
    SetField(window, kind, "Apply_patch", args[2]);
  }
  // A message box would wait for a person: answer it and count the run failed.
  QStringList messages;
  QTimer boxes;
  QObject::connect(&boxes, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        messages << box->text();
        box->button(QMessageBox::Ok)->click();
      }
  });
  boxes.start(50);

  QEventLoop idle;
  QObject::connect(&window, &torquelin::MainWindow::JobFinished, &idle, &QEventLoop::quit);
  QElapsedTimer clock;
  clock.start();
  window.PageForJob(static_cast<int>(kind))->ActionButton().click();
  idle.exec();
  const double seconds = clock.nsecsElapsed() / 1e9;

  for (const QString& message : messages) std::fprintf(stderr, "%s\n", qPrintable(message));
  if (window.LastOutcome() != JobOutcome::Succeeded || !messages.isEmpty()) return 1;
  std::printf("%.3f\n", seconds);
  if (fingerprint) {
    auto& page =
        static_cast<torquelin::FingerprintPage&>(*window.PageForJob(static_cast<int>(kind)));
    std::printf("%s\n", QString::fromStdU16String(page.Fingerprint()).toUtf8().constData());
  }
  return 0;
}
