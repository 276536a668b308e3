#pragma once
// The program's directory: where the settings, the device list, the charts, the language files
// and the default log directories live.

#include <QString>
#include <QStringList>

namespace quodra::core {

// The value of "--dir DIR" or "--dir=DIR" in the command line, empty when not given.
QString dirOption(const QStringList& arguments);

// The directory given by `dirOption` (created when missing); without it the executable's
// directory when writable; else $XDG_DATA_HOME/quodra-st (~/.local/share/quodra-st), created on
// demand. Absolute, without a trailing separator. Empty with an error text when the chosen
// directory cannot be created.
// The directory text with a path separator at its end (an empty text stays empty), so file names
// join it by plain concatenation.
QString withTrailingSeparator(const QString& directory);

QString resolveProgramDir(const QString& dirOption, const QString& executableDir, QString* error = nullptr);

} // namespace quodra::core
