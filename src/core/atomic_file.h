#pragma once
// Replacing a whole file so that a crash or a failed write never leaves it half-written: the
// bytes go to a temporary file in the same directory, which is flushed and renamed over the old
// file only when every byte was written.

#include <QByteArray>
#include <QString>

#include <optional>

namespace quodra::core {

// False with an error text naming the file when it cannot be created or written; the old file
// is then left as it was and no temporary file stays behind.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The whole file; empty when it does not exist; nullopt with an error text naming the file when
// it exists but cannot be read.
std::optional<QByteArray> readFileIfExists(const QString& path, QString* error = nullptr);

} // namespace quodra::core
