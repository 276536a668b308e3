// quodra-st [--dir DIR]: the monitoring console.

#include "app/single_instance.h"
#include "app/unix_signals.h"
#include "core/program_dir.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>

using namespace quodra;

namespace {
// "--name VALUE" or "--name=VALUE", empty when absent.
QString optionValue(const QStringList& args, const QString& name)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == name && i + 1 < args.size())
            return args[i + 1];
        if (args[i].startsWith(name + QLatin1Char('=')))
            return args[i].mid(name.size() + 1);
    }
    return {};
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quodra-st"));
    // Hiding to the tray must not end the program; the close request decides.
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = QApplication::arguments();

    app::SingleInstance instance;
    if (!instance.acquire()) {
        instance.notifyRunning();
        return 0;
    }

    QString error;
    const QString programDir =
        core::resolveProgramDir(core::dirOption(args), QApplication::applicationDirPath(), &error);
    if (programDir.isEmpty()) {
        std::fprintf(stderr, "quodra-st: %s\n", error.toLocal8Bit().constData());
        return 1;
    }

    ui::MainWindow window(programDir);
    app::UnixSignals signals;
    QObject::connect(&signals, &app::UnixSignals::exitRequested, &window, &ui::MainWindow::Exit1Click);
    QObject::connect(&instance, &app::SingleInstance::showRequested, &window,
                     &ui::MainWindow::showMainWindow);

    // Development aid: save a picture of the window after a few seconds and end in order.
    const QString shot = optionValue(args, QStringLiteral("--screenshot"));
    if (!shot.isEmpty()) {
        bool ok = false;
        int delay = optionValue(args, QStringLiteral("--screenshot-delay")).toInt(&ok);
        if (!ok || delay < 0)
            delay = 8;
        QTimer::singleShot(delay * 1000, &window, [&window, shot] {
            if (!window.grab().save(shot))
                std::fprintf(stderr, "quodra-st: cannot save %s\n", shot.toLocal8Bit().constData());
            window.Exit1Click();
        });
    }

    window.showAtStart();
    const int code = app.exec();
    window.FormDestroy();
    return code;
}
