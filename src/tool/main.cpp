// quodra-tool COMMAND [ARGUMENTS...]: dispatches to the sub-commands the command groups registered.

#include "tool/tool_command.h"

#include <QCoreApplication>

#include <cstdio>

using namespace quodra::tool;

namespace {
QByteArray usageText() {
    QString text = QStringLiteral("usage: quodra-tool COMMAND [ARGUMENTS...]\n\ncommands:\n");
    for (const ToolCommand& c : registeredCommands())
        text += QStringLiteral("  %1 %2\n      %3\n").arg(c.name, c.arguments, c.summary);
    return text.toLocal8Bit();
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        const QByteArray usage = usageText();
        std::fwrite(usage.constData(), 1, std::size_t(usage.size()), stderr);
        return 1;
    }
    if (args.first() == QLatin1String("help") || args.first() == QLatin1String("--help") ||
        args.first() == QLatin1String("-h")) {
        const QByteArray usage = usageText();
        std::fwrite(usage.constData(), 1, std::size_t(usage.size()), stdout);
        return 0;
    }
    const ToolCommand* command = findCommand(args.first());
    if (!command) {
        fail(QStringLiteral("unknown command \"%1\"; try \"quodra-tool help\"").arg(args.first()));
        return 1;
    }
    const int code = command->run(args.mid(1));
    if (std::fflush(stdout) != 0)
        return fail(QStringLiteral("cannot write the output"));
    return code;
}
