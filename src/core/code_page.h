#pragma once
// Conversion between the single-byte code pages the devices and files use and Unicode.
// Device texts, the event log and language files without a byte order mark are single-byte;
// everything inside the program is QString.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace quodra::core {

// Code page of the device texts and the event log.
inline constexpr int kDeviceCodePage = 1250;

// Windows code page that belongs to a Windows language identifier (LANGID), 1252 when unknown.
int codePageForLanguage(int langId);

QString decodeCodePage(int codePage, QByteArrayView bytes);
QByteArray encodeCodePage(int codePage, QStringView text);

inline QString fromCp1250(QByteArrayView bytes) { return decodeCodePage(kDeviceCodePage, bytes); }
inline QByteArray toCp1250(QStringView text) { return encodeCodePage(kDeviceCodePage, text); }

} // namespace quodra::core
