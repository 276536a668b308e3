#include "core/program_dir.h"

#include <QDir>
#include <QFileInfo>

namespace quodra::core {

namespace {

QString ensureDir(const QString& path, QString* error)
{
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    if (QFileInfo(absolute).isDir() || QDir().mkpath(absolute))
        return absolute;
    if (error)
        *error = QStringLiteral("Cannot create directory \"%1\".").arg(absolute);
    return {};
}

} // namespace

QString dirOption(const QStringList& arguments)
{
    const QString option = QStringLiteral("--dir");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == option && i + 1 < arguments.size())
            return arguments[i + 1];
        if (a.startsWith(option + QLatin1Char('=')))
            return a.mid(option.size() + 1);
    }
    return {};
}

QString resolveProgramDir(const QString& dirOption, const QString& executableDir, QString* error)
{
    if (!dirOption.isEmpty())
        return ensureDir(dirOption, error);
    const QFileInfo exe(executableDir);
    if (!executableDir.isEmpty() && exe.isDir() && exe.isWritable())
        return QDir::cleanPath(exe.absoluteFilePath());
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || QDir::isRelativePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return ensureDir(dataHome + QStringLiteral("/quodra-st"), error);
}

QString withTrailingSeparator(const QString& directory)
{
    if (directory.isEmpty() || directory.endsWith(QLatin1Char('/')) || directory.endsWith(QLatin1Char('\\')))
        return directory;
    return directory + QLatin1Char('/');
}

} // namespace quodra::core
