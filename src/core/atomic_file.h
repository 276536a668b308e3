#pragma once
// Replacing a whole file so that a crash or a failed write never leaves it half-written: the
// bytes go to a temporary file in the same directory, which is flushed and renamed over the old
// file only when every byte was written.

#include <QByteArray>
#include <QString>

namespace quodra::core {

// False with an error text naming the file when it cannot be created or written; the old file
// is then left as it was and no temporary file stays behind.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

} // namespace quodra::core
