#include "core/ini_file.h"

#include "core/atomic_file.h"
#include "core/code_page.h"

#include <QStringDecoder>

#include <climits>

namespace quodra::core {

namespace {

bool isBlankOrComment(const QString& line)
{
    const QString t = line.trimmed();
    return t.isEmpty() || t.startsWith(QLatin1Char(';'));
}

QString decodeText(QByteArrayView bytes)
{
    static const QByteArray bom("\xEF\xBB\xBF");
    if (bytes.startsWith(bom))
        bytes = bytes.sliced(bom.size());
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return decodeCodePage(kDeviceCodePage, bytes);
    return text;
}

} // namespace

std::optional<int> parseIniInteger(QStringView text)
{
    text = text.trimmed();
    bool negative = false;
    if (text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+'))) {
        negative = text.front() == QLatin1Char('-');
        text = text.sliced(1);
    }
    int base = 10;
    if (text.startsWith(QLatin1Char('$'))) {
        base = 16;
        text = text.sliced(1);
    } else if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        text = text.sliced(2);
    }
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        const char16_t u = c.toLower().unicode();
        const int digit = (u >= u'0' && u <= u'9') ? u - u'0' : (u >= u'a' && u <= u'f') ? u - u'a' + 10 : -1;
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > qint64(1) << 32)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    // Hexadecimal numbers may name the whole 32-bit pattern ("$FFFFFFFF" is -1).
    if (base == 16 && !negative && value > 0x7FFFFFFF && value <= 0xFFFFFFFF)
        value -= qint64(1) << 32;
    if (value < qint64(INT_MIN) || value > qint64(INT_MAX))
        return std::nullopt;
    return int(value);
}

IniFile IniFile::fromBytes(QByteArrayView bytes)
{
    IniFile ini;
    ini.m_sections.push_back(Section{QString(), false, {}});
    const QString text = decodeText(bytes);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (i == lines.size() - 1 && line.isEmpty())
            break; // the final line break
        const QString t = line.trimmed();
        if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'))) {
            ini.m_sections.push_back(Section{t.mid(1, t.size() - 2).trimmed(), true, {}});
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (isBlankOrComment(line) || eq <= 0 || line.left(eq).trimmed().isEmpty()) {
            ini.m_sections.back().lines.push_back(Line{QString(), QString(), line, false});
            continue;
        }
        ini.m_sections.back().lines.push_back(
            Line{line.left(eq).trimmed(), line.mid(eq + 1).trimmed(), line, false});
    }
    return ini;
}

std::optional<IniFile> IniFile::read(const QString& path, QString* error)
{
    const std::optional<QByteArray> bytes = readFileIfExists(path, error);
    if (!bytes)
        return std::nullopt;
    return fromBytes(*bytes);
}

QByteArray IniFile::toBytes() const
{
    QString text;
    for (const Section& section : m_sections) {
        if (section.header)
            text += QLatin1Char('[') + section.name + QLatin1String("]\n");
        for (const Line& line : section.lines)
            text += (line.set ? line.key + QLatin1Char('=') + line.value : line.text) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

bool IniFile::write(const QString& path, QString* error) const
{
    return writeFileAtomically(path, toBytes(), error);
}

const IniFile::Section* IniFile::findSection(QStringView name) const
{
    for (const Section& section : m_sections)
        if (section.header && section.name.compare(name, Qt::CaseInsensitive) == 0)
            return &section;
    return nullptr;
}

IniFile::Section* IniFile::findSection(QStringView name)
{
    return const_cast<Section*>(std::as_const(*this).findSection(name));
}

std::optional<QString> IniFile::value(QStringView section, QStringView key) const
{
    // A section may appear more than once in a hand-edited file; the first one holding the key wins.
    for (const Section& s : m_sections) {
        if (!s.header || s.name.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        for (const Line& line : s.lines)
            if (!line.key.isEmpty() && line.key.compare(key, Qt::CaseInsensitive) == 0)
                return line.value;
    }
    return std::nullopt;
}

void IniFile::setValue(QStringView section, QStringView key, const QString& value)
{
    QString clean = value;
    clean.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    for (Section& s : m_sections) {
        if (!s.header || s.name.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        for (Line& line : s.lines) {
            if (!line.key.isEmpty() && line.key.compare(key, Qt::CaseInsensitive) == 0) {
                line.value = clean;
                line.set = true;
                return;
            }
        }
    }
    Section* s = findSection(section);
    if (!s) {
        // A blank line separates the new section from what the file already holds.
        Section& last = m_sections.back();
        const bool empty = m_sections.size() == 1 && last.lines.empty();
        const bool endsBlank = !last.lines.empty() && last.lines.back().key.isEmpty() &&
                               last.lines.back().text.trimmed().isEmpty();
        if (!empty && !endsBlank)
            last.lines.push_back(Line{QString(), QString(), QString(), false});
        m_sections.push_back(Section{section.toString(), true, {}});
        s = &m_sections.back();
    }
    // New keys go after the section's last entry, before the blank lines that separate it.
    auto pos = s->lines.end();
    while (pos != s->lines.begin() && std::prev(pos)->key.isEmpty() &&
           std::prev(pos)->text.trimmed().isEmpty())
        --pos;
    s->lines.insert(pos, Line{key.toString(), clean, QString(), true});
}

bool IniFile::hasSection(QStringView section) const
{
    return findSection(section) != nullptr;
}

QStringList IniFile::keys(QStringView section) const
{
    QStringList result;
    for (const Section& s : m_sections) {
        if (!s.header || s.name.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        for (const Line& line : s.lines)
            if (!line.key.isEmpty() && !result.contains(line.key, Qt::CaseInsensitive))
                result.append(line.key);
    }
    return result;
}

} // namespace quodra::core
