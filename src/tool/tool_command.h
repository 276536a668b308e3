#pragma once
// The sub-commands of quodra-tool. A command group is one .cpp file in this folder that registers
// its commands at start with one line each:
//
//     [[maybe_unused]] const bool registered = registerCommand({name, arguments, summary, &run});
//
// main() looks the first argument up among the registered commands and runs it.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace quodra::tool {

struct ToolCommand {
    QString name;      // as typed after "quodra-tool"
    QString arguments; // argument synopsis for the usage text, e.g. "FILE.eth"
    QString summary;   // one line for the usage text
    // Runs the command on the arguments after its name; returns the exit code.
    int (*run)(const QStringList& arguments) = nullptr;
};

bool registerCommand(const ToolCommand& command);
// Sorted by name.
const std::vector<ToolCommand>& registeredCommands();
const ToolCommand* findCommand(const QString& name);

// Output helpers shared by the groups.
void printJsonLine(const QJsonObject& object); // one compact JSON object and "\n" on stdout
int fail(const QString& message);              // "quodra-tool: " + message on stderr; returns 1
int usageError(const QString& commandName);    // the command's usage on stderr; returns 1

} // namespace quodra::tool
