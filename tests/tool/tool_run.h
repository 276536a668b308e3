#pragma once
// Runs the real quodra-tool binary and collects what it printed.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// locale: LC_ALL for the run (empty: the environment as it is); workDir: its working directory.
inline ToolRun runTool(const QStringList& arguments, const QString& locale = {}, const QString& workDir = {})
{
    QProcess p;
    if (!locale.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), locale);
        p.setProcessEnvironment(env);
    }
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(QStringLiteral(QUODRA_TOOL_PATH), arguments);
    ToolRun r;
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "quodra-tool did not finish: " << p.errorString().toStdString();
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
