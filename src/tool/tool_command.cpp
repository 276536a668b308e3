#include "tool/tool_command.h"

#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

namespace quodra::tool {

namespace {
std::vector<ToolCommand>& registry() {
    static std::vector<ToolCommand> commands;
    return commands;
}

void writeStderr(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
}
} // namespace

bool registerCommand(const ToolCommand& command) {
    auto& commands = registry();
    const auto at = std::lower_bound(commands.begin(), commands.end(), command.name,
                                     [](const ToolCommand& c, const QString& name) { return c.name < name; });
    commands.insert(at, command);
    return true;
}

const std::vector<ToolCommand>& registeredCommands() {
    return registry();
}

const ToolCommand* findCommand(const QString& name) {
    for (const ToolCommand& c : registry()) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

void printJsonLine(const QJsonObject& object) {
    QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    line.append('\n');
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
}

int fail(const QString& message) {
    writeStderr(QStringLiteral("quodra-tool: ") + message + QLatin1Char('\n'));
    return 1;
}

int usageError(const QString& commandName) {
    const ToolCommand* c = findCommand(commandName);
    if (!c)
        return fail(QStringLiteral("unknown command \"%1\"").arg(commandName));
    writeStderr(QStringLiteral("usage: quodra-tool %1 %2\n  %3\n").arg(c->name, c->arguments, c->summary));
    return 1;
}

} // namespace quodra::tool
