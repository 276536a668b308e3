#pragma once
// A small INI document: "[section]" headers and "key=value" lines, UTF-8 text. Section and key
// names are matched without regard to letter case. Lines the program does not understand
// (comments, blank lines, keys of other writers, whole sections of other writers) are kept as
// they are, so rewriting a file changes only the values that were set.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

namespace quodra::core {

class IniFile {
public:
    // Reads UTF-8 (with or without a byte order mark); bytes that are not valid UTF-8 are read
    // as Windows-1250, the code page older files were written in.
    static IniFile fromBytes(QByteArrayView bytes);
    // An absent file gives an empty document; nullopt with an error text when the file exists
    // but cannot be read.
    static std::optional<IniFile> read(const QString& path, QString* error = nullptr);

    QByteArray toBytes() const;
    // Writes the whole document through a temporary file in the same directory and a rename.
    bool write(const QString& path, QString* error = nullptr) const;

    std::optional<QString> value(QStringView section, QStringView key) const;
    // Replaces the first occurrence of the key in place, or appends it at the end of its section
    // (the section is appended when absent). Line breaks in the value become spaces.
    void setValue(QStringView section, QStringView key, const QString& value);
    bool hasSection(QStringView section) const;
    QStringList keys(QStringView section) const;

private:
    struct Line {
        QString key; // empty for a comment, a blank line or a line that is no setting
        QString value;
        QString text; // the line as read; written back as it was unless the value was set
        bool set = false;
    };
    struct Section {
        QString name; // empty for the lines before the first header
        bool header = true;
        std::vector<Line> lines;
    };
    const Section* findSection(QStringView name) const;
    Section* findSection(QStringView name);

    std::vector<Section> m_sections;
};

// Decimal integer as the settings file holds it, optionally signed, or hexadecimal with "$" or
// "0x"; nullopt for anything else, including numbers outside the 32-bit range.
std::optional<int> parseIniInteger(QStringView text);

} // namespace quodra::core
