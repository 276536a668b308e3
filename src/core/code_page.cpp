#include "core/code_page.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <unordered_map>

namespace quodra::core {

int codePageForLanguage(int langId)
{
    const int primary = langId & 0x3FF;
    switch (primary) {
    case 0x05: // Czech
    case 0x0E: // Hungarian
    case 0x15: // Polish
    case 0x18: // Romanian
    case 0x1A: // Croatian, Serbian (Latin), Bosnian
    case 0x1B: // Slovak
    case 0x1C: // Albanian
    case 0x24: // Slovenian
        return 1250;
    case 0x02: // Bulgarian
    case 0x19: // Russian
    case 0x22: // Ukrainian
    case 0x23: // Belarusian
    case 0x2F: // Macedonian
        return 1251;
    case 0x08: // Greek
        return 1253;
    case 0x1F: // Turkish
        return 1254;
    case 0x0D: // Hebrew
        return 1255;
    case 0x01: // Arabic
        return 1256;
    case 0x25: // Estonian
    case 0x26: // Latvian
    case 0x27: // Lithuanian
        return 1257;
    case 0x2A: // Vietnamese
        return 1258;
    default:
        return 1252;
    }
}

namespace {
QByteArray codecName(int codePage) { return "windows-" + QByteArray::number(codePage); }

// Opening a converter costs far more than converting a short device text, and converters keep
// state, so each thread keeps its own, one per code page. Single-byte code pages carry no state
// from one call to the next.
template <class Converter> Converter& cachedConverter(int codePage)
{
    thread_local std::unordered_map<int, Converter> cache;
    auto it = cache.find(codePage);
    if (it == cache.end())
        it = cache.emplace(codePage, Converter(codecName(codePage).constData())).first;
    return it->second;
}
} // namespace

QString decodeCodePage(int codePage, QByteArrayView bytes)
{
    QStringDecoder& decoder = cachedConverter<QStringDecoder>(codePage);
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

QByteArray encodeCodePage(int codePage, QStringView text)
{
    QStringEncoder& encoder = cachedConverter<QStringEncoder>(codePage);
    if (!encoder.isValid())
        return text.toLatin1();
    return encoder.encode(text);
}

} // namespace quodra::core
