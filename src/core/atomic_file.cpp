#include "core/atomic_file.h"

#include <QFile>
#include <QSaveFile>

namespace quodra::core {

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString());
        return false;
    }
    // The explicit flush matters: QSaveFile::commit() does not notice a failure of the final flush
    // of its buffer and would rename a cut-off file over the old one.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        if (error)
            *error = QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

std::optional<QByteArray> readFileIfExists(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.exists())
        return QByteArray();
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return bytes;
}

} // namespace quodra::core
