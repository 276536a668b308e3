#include "core/language.h"

#include "core/code_page.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <array>

namespace quodra::core {

namespace {

struct ConstantDefinition {
    const char* name;
    const char* czech; // UTF-8
};

constexpr std::array<ConstantDefinition, kConstantCount> kConstants{{
    {"ahint11", "Pozadí - neznámý"},
    {"ahint12", "Zelená - OK"},
    {"ahint13", "Modrá - dotaz"},
    {"ahint14", "Rudá - chyba"},
    {"ahint2", "Dotazovat se na zařízení"},
    {"ahint3", "Hodnota mimo meze"},
    {"ahint4", "Chyba měření nebo komunikace"},
    {"ahint5", "Zachycen trap"},
    {"ahint6", "Zapsat log"},
    {"grdhint", "Výběr dle datumu"},
    {"herrc", "Chyba připojení"},
    {"herrp", "Špatné heslo"},
    {"hhint8", "Načíst stavy všech zařízení"},
    {"hpocet", "Počet"},
    {"pucap", "Změna"},
    {"sbal1", "Zachycen trap"},
    {"sbal2", "Adresa"},
    {"sbal3", "Chyba komunikace"},
    {"sbal4", "S některým zařízením nelze komunikovat"},
}};

const QString kConstantsSection = QStringLiteral("$CONSTANTS");

int constantIndex(QStringView name)
{
    for (int i = 0; i < kConstantCount; ++i)
        if (name.compare(QLatin1String(kConstants[std::size_t(i)].name), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// Lines as the language file has them: CR LF, LF and CR all end a line.
QStringList splitLines(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.split(QLatin1Char('\n'));
}

bool isSectionLine(const QString& line)
{
    return line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'));
}

bool isIdentifier(QStringView name)
{
    if (name.isEmpty())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
        const bool digit = c >= u'0' && c <= u'9';
        if (!(letter || (i > 0 && digit)))
            return false;
    }
    return true;
}

// Parameters: the key=value lines before the first section.
QMap<QString, QString> parametersOf(const QStringList& lines)
{
    QMap<QString, QString> params;
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (isSectionLine(line))
            break;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0)
            params.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return params;
}

int languageIdFrom(const QMap<QString, QString>& params)
{
    for (auto it = params.constBegin(); it != params.constEnd(); ++it) {
        if (it.key().compare(QLatin1String("LANGID"), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const int id = it.value().toInt(&ok, 10);
            return ok ? id : 0;
        }
    }
    return 0;
}

QString loadFailure(int line, const QString& message)
{
    return QStringLiteral("Loading translations failed.\r\nLine %1: %2").arg(QString::number(line), message);
}

QMutex g_instanceMutex;
std::shared_ptr<const Language> g_instance;

} // namespace

QString constantName(int index)
{
    return QString::fromLatin1(kConstants[std::size_t(index)].name);
}

QString constantDefaultText(int index)
{
    return QString::fromUtf8(kConstants[std::size_t(index)].czech);
}

QString decodeLanguageFile(QByteArrayView bytes)
{
    const bool littleEndian = bytes.startsWith("\xFF\xFE");
    if (littleEndian || bytes.startsWith("\xFE\xFF")) {
        QString text;
        text.reserve((bytes.size() - 2) / 2);
        for (qsizetype i = 2; i + 1 < bytes.size(); i += 2) {
            const quint8 a = quint8(bytes[i]);
            const quint8 b = quint8(bytes[i + 1]);
            text.append(QChar(char16_t(littleEndian ? (b << 8) | a : (a << 8) | b)));
        }
        return text;
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.sliced(3));
    // The parameters are plain ASCII, so the identifier can be read before the code page is known.
    const int languageId = languageIdOf(QString::fromLatin1(bytes));
    return decodeCodePage(codePageForLanguage(languageId), bytes);
}

QString unescapeLanguageText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
            out.append(c);
            continue;
        }
        const QChar next = text[i + 1];
        if (next == QLatin1Char('\\')) {
            out.append(QLatin1Char('\\'));
            ++i;
        } else if (next == QLatin1Char('n')) {
            out.append(QLatin1String("\r\n"));
            ++i;
        } else if (next == QLatin1Char('t')) {
            out.append(QLatin1Char('\t'));
            ++i;
        } else if (i + 2 < text.size() && isDigit(next) && isDigit(text[i + 2])) {
            out.append(QChar(char16_t((next.unicode() - u'0') * 10 + (text[i + 2].unicode() - u'0'))));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

int languageIdOf(const QString& text)
{
    return languageIdFrom(parametersOf(splitLines(text)));
}

std::optional<LanguageFile> parseLanguageFile(const QString& text, QString* error)
{
    LanguageFile file;
    const QStringList lines = splitLines(text);
    file.parameters = parametersOf(lines);
    file.languageId = languageIdFrom(file.parameters);

    enum class In { Parameters, Constants, Form } in = In::Parameters;
    QHash<int, QString>* form = nullptr;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        const int lineNumber = int(n + 1);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (isSectionLine(line)) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (name.compare(kConstantsSection, Qt::CaseInsensitive) == 0) {
                in = In::Constants;
            } else {
                in = In::Form;
                form = &file.forms[name.toLower()];
            }
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || in == In::Parameters)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = unescapeLanguageText(QStringView(line).mid(eq + 1).trimmed());
        if (in == In::Constants) {
            if (!isIdentifier(key)) {
                setError(error,
                         loadFailure(lineNumber, QStringLiteral("Invalid constant name (\"%1\")").arg(key)));
                return std::nullopt;
            }
            const QString lower = key.toLower();
            if (file.constants.contains(lower)) {
                setError(error, loadFailure(lineNumber,
                                            QStringLiteral("Duplicate constant name (\"%1\")").arg(key)));
                return std::nullopt;
            }
            file.constants.insert(lower, value);
        } else {
            bool ok = false;
            const int id = key.toInt(&ok, 10);
            if (!ok || id <= 0)
                continue; // not a property identifier
            if (form->contains(id)) {
                setError(error,
                         loadFailure(lineNumber,
                                     QStringLiteral("Duplicate property value translation ID (%1)").arg(id)));
                return std::nullopt;
            }
            form->insert(id, value);
        }
    }
    return file;
}

std::optional<LanguageFile> readLanguageFile(const QString& path, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("Cannot open file \"%1\". %2").arg(path, f.errorString()));
        return std::nullopt;
    }
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        setError(error, QStringLiteral("Cannot read file \"%1\". %2").arg(path, f.errorString()));
        return std::nullopt;
    }
    return parseLanguageFile(decodeLanguageFile(bytes), error);
}

QList<LanguageEntry> listLanguages(const QString& dir)
{
    QList<LanguageEntry> list{LanguageEntry{}};
    QDir d(dir);
    d.setNameFilters({QStringLiteral("Quodra_st*.lng")});
    QStringList names = d.entryList(QDir::Files | QDir::Readable, QDir::NoSort);
    // A fixed order keeps the choice the same on every file system.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    for (const QString& name : names) {
        const QString path = d.absoluteFilePath(name);
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const int id = languageIdOf(decodeLanguageFile(f.readAll()));
        if (id == 0 || id == kBuiltInLanguageId)
            continue;
        const auto same = std::find_if(list.begin(), list.end(),
                                       [&](const LanguageEntry& e) { return e.languageId == id; });
        if (same != list.end())
            same->fileName = path;
        else
            list.append(LanguageEntry{id, path});
    }
    return list;
}

Language::Language()
{
    for (int i = 0; i < kConstantCount; ++i)
        m_texts.append(constantDefaultText(i));
}

Language Language::fromFile(const LanguageFile& file, const QString& fileName)
{
    Language language;
    language.m_languageId = file.languageId;
    language.m_fileName = fileName;
    for (int i = 0; i < kConstantCount; ++i) {
        const auto it = file.constants.constFind(constantName(i).toLower());
        if (it != file.constants.constEnd())
            language.m_texts[i] = *it;
    }
    language.m_forms = file.forms;
    return language;
}

int Language::codePage() const
{
    return codePageForLanguage(m_languageId);
}

std::optional<QString> Language::lookupConstant(QStringView name, QString* error) const
{
    const int index = constantIndex(name);
    if (index < 0) {
        setError(error, QStringLiteral("Constant \"%1\" not found").arg(name));
        return std::nullopt;
    }
    return m_texts[index];
}

QHash<int, QString> Language::formTexts(QStringView formName) const
{
    return m_forms.value(formName.toString().toLower());
}

std::shared_ptr<const Language> Language::instance()
{
    QMutexLocker lock(&g_instanceMutex);
    if (!g_instance)
        g_instance = std::make_shared<const Language>();
    return g_instance;
}

void Language::setInstance(Language language)
{
    auto next = std::make_shared<const Language>(std::move(language));
    QMutexLocker lock(&g_instanceMutex);
    g_instance = std::move(next);
}

LanguageSelection selectStartupLanguage(const QString& programDir)
{
    LanguageSelection selection;
    const QList<LanguageEntry> list = listLanguages(programDir);
    if (list.size() < 2)
        return selection;
    const LanguageEntry& chosen = list[1];
    if (const auto file = readLanguageFile(chosen.fileName, &selection.error))
        selection.language = Language::fromFile(*file, chosen.fileName);
    return selection;
}

QString applyStartupLanguage(const QString& programDir)
{
    LanguageSelection selection = selectStartupLanguage(programDir);
    Language::setInstance(std::move(selection.language));
    return selection.error;
}

std::optional<QString> lookupConstant(QStringView name, QString* error)
{
    return Language::instance()->lookupConstant(name, error);
}

} // namespace quodra::core
