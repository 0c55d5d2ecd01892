// The newcomer's first minute: starts the program with a typed
// "print 1 + 2" (or TYPED) and a screenshot path, then checks its exit
// status, the output text (the echo, then 3 or EXPECTED) and the screenshot
// (the main window's size, more than one colour).
//
//   zavta_smoke PROGRAM SCREENSHOT.png [TYPED EXPECTED [FILE.zav FIRSTLINE]]
//
// With FILE.zav the program is started with it and FIRSTLINE must come
// before the echo of the typed text.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <cstdio>

namespace {

int Fail(const QString& why) {
  std::fprintf(stderr, "smoke: %s\n", qPrintable(why));
  return 1;
}

bool OneColour(const QImage& image) {
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != first) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 3 && argc != 5 && argc != 7)
    return Fail(QStringLiteral("usage: zavta_smoke PROGRAM SCREENSHOT.png [TYPED EXPECTED [FILE.zav FIRSTLINE]]"));
  const QStringList programArguments = argc == 7 ? QStringList{QString::fromLocal8Bit(argv[5])} : QStringList{};
  const QString firstLine = argc == 7 ? QString::fromLocal8Bit(argv[6]) : QString();
  const QString program = QString::fromLocal8Bit(argv[1]);
  const QString screenshot = QString::fromLocal8Bit(argv[2]);
  const QString typed = argc == 5 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("print 1 + 2");
  const QString expected = argc == 5 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral("3");
  QDir().mkpath(QFileInfo(screenshot).path());
  QFile::remove(screenshot);
  QFile::remove(screenshot + QStringLiteral(".txt"));

  QProcess zavta;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("ZAVTA_TYPE"), typed);
  environment.insert(QStringLiteral("ZAVTA_SCREENSHOT"), screenshot);
  zavta.setProcessEnvironment(environment);
  zavta.setProcessChannelMode(QProcess::ForwardedChannels);
  zavta.start(program, programArguments);
  if (!zavta.waitForFinished(60000)) return Fail(QStringLiteral("the program did not end"));
  if (zavta.exitStatus() != QProcess::NormalExit || zavta.exitCode() != 0)
    return Fail(QStringLiteral("exit code %1").arg(zavta.exitCode()));

  QFile text(screenshot + QStringLiteral(".txt"));
  if (!text.open(QIODevice::ReadOnly)) return Fail(QStringLiteral("no output text"));
  const QStringList lines = QString::fromUtf8(text.readAll()).split(u'\n');
  const qsizetype echo = lines.indexOf(typed);
  if (echo < 0 || echo + 1 >= lines.size() || lines[echo + 1] != expected)
    return Fail(QStringLiteral("output text: ") + lines.join(QStringLiteral(" | ")));
  if (!firstLine.isEmpty() && (lines.isEmpty() || lines.first() != firstLine || lines.indexOf(firstLine) > echo))
    return Fail(QStringLiteral("the file's lines do not come first: ") + lines.join(QStringLiteral(" | ")));

  const QImage image(screenshot, "PNG");
  if (image.isNull()) return Fail(QStringLiteral("the screenshot does not decode"));
  const QSize screen = application.primaryScreen()->availableGeometry().size();
  if (image.size() != screen)
    return Fail(QStringLiteral("screenshot %1x%2, main window %3x%4")
                    .arg(image.width())
                    .arg(image.height())
                    .arg(screen.width())
                    .arg(screen.height()));
  if (OneColour(image)) return Fail(QStringLiteral("the screenshot is one colour"));
  std::printf("smoke: ok, %s\n", qPrintable(screenshot));
  return 0;
}
