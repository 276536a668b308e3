#pragma once
// Languages of the user interface: the built-in Czech texts of the named constants, language
// files "Quodra_st*.lng" that replace them and the texts of the forms, and the one language the
// process uses, chosen at start-up.

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

namespace quodra::core {

inline constexpr int kBuiltInLanguageId = 1029; // Czech
inline constexpr int kConstantCount = 19;

// Name and Czech text of constant i (0..18) in the order the table stores them.
QString constantName(int index);
QString constantDefaultText(int index);

// What a language file holds once it is read completely.
struct LanguageFile {
    int languageId = 0;                        // the "LANGID" parameter, 0 when missing or not a number
    QMap<QString, QString> parameters;         // lines before the first section
    QHash<QString, QString> constants;         // lower-case constant name -> text
    QHash<QString, QHash<int, QString>> forms; // lower-case form name -> property id -> text
};

// The text of a language file: UTF-16 (LE or BE) or UTF-8 after the matching byte order mark,
// otherwise the single-byte code page of the file's "LANGID".
QString decodeLanguageFile(QByteArrayView bytes);
// "\NN" (two decimal digits) is the character with that code, "\\" a backslash, "\n" a CR LF
// line break, "\t" a tab; any other backslash stays.
QString unescapeLanguageText(QStringView text);
// The "LANGID" parameter of a file's text, 0 when missing or not a number.
int languageIdOf(const QString& text);
// Reads the whole text; on an error nullopt and the message "Loading translations failed." CR LF
// "Line n: ...".
std::optional<LanguageFile> parseLanguageFile(const QString& text, QString* error = nullptr);
std::optional<LanguageFile> readLanguageFile(const QString& path, QString* error = nullptr);

struct LanguageEntry {
    int languageId = kBuiltInLanguageId;
    QString fileName; // absolute path; empty for the built-in language
};

// The language list: the built-in language first, then one entry per accepted language file of
// the directory in file-name order. Files without a "LANGID", with 0 or with 1029 add nothing; a
// later file with an identifier already listed replaces that entry's file name in place.
QList<LanguageEntry> listLanguages(const QString& dir);

class Language {
public:
    // The built-in Czech language.
    Language();
    // The built-in texts with those of the file applied.
    static Language fromFile(const LanguageFile& file, const QString& fileName);

    int languageId() const { return m_languageId; }
    // Single-byte code page of the language's texts.
    int codePage() const;
    QString fileName() const { return m_fileName; }

    // Current text of a named constant (any letter case); nullopt and the message
    // "Constant "name" not found" for a name outside the table.
    std::optional<QString> lookupConstant(QStringView name, QString* error = nullptr) const;
    // The property texts this language replaces on a form (property id -> text); empty for Czech.
    QHash<int, QString> formTexts(QStringView formName) const;

    // The language of the process; Czech until start-up sets another. Safe to call from any thread.
    static std::shared_ptr<const Language> instance();
    static void setInstance(Language language);

private:
    int m_languageId = kBuiltInLanguageId;
    QString m_fileName;
    QList<QString> m_texts; // by constant index
    QHash<QString, QHash<int, QString>> m_forms;
};

struct LanguageSelection {
    Language language;
    QString error; // the load message when the chosen file failed (the language stays Czech)
};

// Start-up choice over the language files in the program's directory: the first added file is
// loaded, or Czech stays when there is none.
LanguageSelection selectStartupLanguage(const QString& programDir);
// Selects and installs the process-wide language; returns the load error text, empty on success.
QString applyStartupLanguage(const QString& programDir);

// The current text of a named constant of the process-wide language.
std::optional<QString> lookupConstant(QStringView name, QString* error = nullptr);

} // namespace quodra::core
