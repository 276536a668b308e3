#include "core/code_page.h"
#include "core/language.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using namespace quodra::core;

namespace {

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray utf8Bom(const QString& text)
{
    return "\xEF\xBB\xBF" + text.toUtf8();
}

QString constant(const Language& l, const char* name)
{
    return l.lookupConstant(QString::fromLatin1(name)).value_or(QStringLiteral("<missing>"));
}

class LanguageDir : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir m_dir;
};

} // namespace

TEST(Language, BuiltInCzechTable)
{
    const Language czech;
    EXPECT_EQ(czech.languageId(), 1029);
    EXPECT_EQ(czech.codePage(), 1250);
    EXPECT_EQ(constant(czech, "hpocet"), QStringLiteral("Počet"));
    EXPECT_EQ(constant(czech, "HPOCET"), QStringLiteral("Počet")); // any letter case
    EXPECT_EQ(constant(czech, "sbal4"), QStringLiteral("S některým zařízením nelze komunikovat"));
    EXPECT_EQ(constantName(0), QStringLiteral("ahint11"));
    EXPECT_EQ(constantName(kConstantCount - 1), QStringLiteral("sbal4"));
    QString error;
    EXPECT_FALSE(czech.lookupConstant(QStringLiteral("hpocet2"), &error));
    EXPECT_EQ(error, QStringLiteral("Constant \"hpocet2\" not found"));
    EXPECT_TRUE(czech.formTexts(QStringLiteral("TForm1")).isEmpty());
}

TEST_F(LanguageDir, StartUpSelection)
{
    struct File {
        const char* name;
        const char* text;
    };
    struct Case {
        const char* name;
        std::vector<File> files;
        int languageId;
        QString hpocet;
    };
    const Case cases[] = {
        {"no language file", {}, 1029, QStringLiteral("Počet")},
        {"one English file",
         {{"Quodra_st_en.lng", "LANGID=1033\n[$CONSTANTS]\nhpocet=Count\n"}},
         1033,
         QStringLiteral("Count")},
        {"no LANGID", {{"Quodra_st_en.lng", "[$CONSTANTS]\nhpocet=Count\n"}}, 1029, QStringLiteral("Počet")},
        {"LANGID 0",
         {{"Quodra_st_en.lng", "LANGID=0\n[$CONSTANTS]\nhpocet=Count\n"}},
         1029,
         QStringLiteral("Počet")},
        {"LANGID not a number",
         {{"Quodra_st_en.lng", "LANGID=en\n[$CONSTANTS]\nhpocet=Count\n"}},
         1029,
         QStringLiteral("Počet")},
        {"LANGID 1029 adds nothing",
         {{"Quodra_st_cz.lng", "LANGID=1029\n[$CONSTANTS]\nhpocet=Pocet\n"}},
         1029,
         QStringLiteral("Počet")},
        {"LANGID only after a section is no parameter",
         {{"Quodra_st_en.lng", "[$CONSTANTS]\nhpocet=Count\nLANGID=1033\n"}},
         1029,
         QStringLiteral("Počet")},
        {"two files: the first listed",
         {{"Quodra_st_b.lng", "LANGID=1031\n[$CONSTANTS]\nhpocet=Anzahl\n"},
          {"Quodra_st_a.lng", "LANGID=1033\n[$CONSTANTS]\nhpocet=Count\n"}},
         1033,
         QStringLiteral("Count")},
        {"Czech file first, then English",
         {{"Quodra_st_a.lng", "LANGID=1029\n"},
          {"Quodra_st_b.lng", "LANGID=1033\n[$CONSTANTS]\nhpocet=Count\n"}},
         1033,
         QStringLiteral("Count")},
        {"same language later replaces the file, keeps the place",
         {{"Quodra_st_a.lng", "LANGID=1031\n[$CONSTANTS]\nhpocet=Anzahl A\n"},
          {"Quodra_st_b.lng", "LANGID=1033\n[$CONSTANTS]\nhpocet=Count\n"},
          {"Quodra_st_c.lng", "LANGID=1031\n[$CONSTANTS]\nhpocet=Anzahl C\n"}},
         1031,
         QStringLiteral("Anzahl C")},
        {"other names are not language files",
         {{"Quodra.lng", "LANGID=1033\n[$CONSTANTS]\nhpocet=Count\n"},
          {"Quodra_st_en.txt", "LANGID=1033\n[$CONSTANTS]\nhpocet=Count\n"}},
         1029,
         QStringLiteral("Počet")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        for (const File& f : c.files)
            writeAll(dir.filePath(QString::fromLatin1(f.name)), QByteArray(f.text));
        const LanguageSelection selection = selectStartupLanguage(dir.path());
        EXPECT_TRUE(selection.error.isEmpty()) << selection.error.toStdString();
        EXPECT_EQ(selection.language.languageId(), c.languageId);
        EXPECT_EQ(constant(selection.language, "hpocet"), c.hpocet);
        EXPECT_EQ(constant(selection.language, "sbal2"),
                  QStringLiteral("Adresa")); // untranslated stays Czech
    }
    // A directory that does not exist is like one without files.
    EXPECT_EQ(selectStartupLanguage(path("nowhere")).language.languageId(), 1029);
}

TEST_F(LanguageDir, FileReplacesConstantsAndFormTexts)
{
    writeAll(path("Quodra_st_en.lng"), "; English\r\n"
                                       "LANGID = 1033\r\n"
                                       "Generator=hand\r\n"
                                       "\r\n"
                                       "[TForm1]\r\n"
                                       "12=Devices\r\n"
                                       "  13 = Read\\tall  \r\n"
                                       "Caption=ignored\r\n"
                                       "0=ignored\r\n"
                                       "-4=ignored\r\n"
                                       "[$constants]\r\n"
                                       "HPOCET=Count\r\n"
                                       "unknown_name=ignored\r\n"
                                       "sbal4=Some devices\\ncannot be reached\r\n");
    const LanguageSelection selection = selectStartupLanguage(m_dir.path());
    ASSERT_TRUE(selection.error.isEmpty()) << selection.error.toStdString();
    const Language& en = selection.language;
    EXPECT_EQ(en.languageId(), 1033);
    EXPECT_EQ(en.codePage(), 1252);
    EXPECT_EQ(QFileInfo(en.fileName()).fileName(), QStringLiteral("Quodra_st_en.lng"));
    EXPECT_EQ(constant(en, "hpocet"), QStringLiteral("Count"));
    EXPECT_EQ(constant(en, "sbal4"), QStringLiteral("Some devices\r\ncannot be reached"));
    EXPECT_EQ(constant(en, "herrp"), QStringLiteral("Špatné heslo"));
    EXPECT_FALSE(en.lookupConstant(QStringLiteral("unknown_name")));
    const QHash<int, QString> form = en.formTexts(QStringLiteral("TForm1"));
    EXPECT_EQ(form,
              (QHash<int, QString>{{12, QStringLiteral("Devices")}, {13, QStringLiteral("Read\tall")}}));
    EXPECT_EQ(en.formTexts(QStringLiteral("tform1")), form);
    EXPECT_TRUE(en.formTexts(QStringLiteral("Tflog")).isEmpty());
}

TEST(Language, Unescaping)
{
    struct Case {
        const char* text;
        QString expected;
    };
    const Case cases[] = {
        {"two\\nlines", QStringLiteral("two\r\nlines")},
        {"a\\tb", QStringLiteral("a\tb")},
        {"back\\\\slash", QStringLiteral("back\\slash")},
        {"\\\\n", QStringLiteral("\\n")},
        {"\\65\\66", QStringLiteral("AB")},
        {"end\\32", QStringLiteral("end ")},
        {"\\6x", QStringLiteral("\\6x")},
        {"\\123", QString(QChar(12)) + QStringLiteral("3")}, // two digits only
        {"\\q", QStringLiteral("\\q")},
        {"\\N", QStringLiteral("\\N")},
        {"trailing\\", QStringLiteral("trailing\\")},
        {"", QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(unescapeLanguageText(QString::fromLatin1(c.text)), c.expected);
    }
}

TEST(Language, LoadErrorsNameTheLine)
{
    struct Case {
        const char* name;
        const char* text;
        QString error;
    };
    const QString prefix = QStringLiteral("Loading translations failed.\r\n");
    const Case cases[] = {
        {"duplicate property id", "LANGID=1033\n\n[TForm1]\n1=a\n; note\n2=b\n01=c\n",
         prefix + QStringLiteral("Line 7: Duplicate property value translation ID (1)")},
        {"duplicate constant in any letter case", "LANGID=1033\r\n[$CONSTANTS]\r\nhpocet=a\r\nHPocet=b\r\n",
         prefix + QStringLiteral("Line 4: Duplicate constant name (\"HPocet\")")},
        {"constant name starting with a digit", "LANGID=1033\n[$CONSTANTS]\nhpocet=a\n\n1abc=b\n",
         prefix + QStringLiteral("Line 5: Invalid constant name (\"1abc\")")},
        {"constant name with a dash", "[$CONSTANTS]\nmy-name=x\n",
         prefix + QStringLiteral("Line 2: Invalid constant name (\"my-name\")")},
        {"empty constant name", "[$CONSTANTS]\n=x\n",
         prefix + QStringLiteral("Line 2: Invalid constant name (\"\")")},
        {"same form section twice", "[TForm1]\n5=a\n[Tflog]\n5=b\n[TForm1]\n5=c\n",
         prefix + QStringLiteral("Line 6: Duplicate property value translation ID (5)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_FALSE(parseLanguageFile(QString::fromLatin1(c.text), &error));
        EXPECT_EQ(error, c.error);
    }
    // The same property id in two forms is no duplicate.
    EXPECT_TRUE(parseLanguageFile(QStringLiteral("[TForm1]\n5=a\n[Tflog]\n5=b\n")));
}

TEST_F(LanguageDir, FailedLoadKeepsCzechAndReportsTheError)
{
    writeAll(path("Quodra_st_en.lng"), "LANGID=1033\n[$CONSTANTS]\nhpocet=Count\nhpocet=Again\n");
    const LanguageSelection selection = selectStartupLanguage(m_dir.path());
    EXPECT_EQ(selection.error,
              QStringLiteral("Loading translations failed.\r\nLine 4: Duplicate constant name (\"hpocet\")"));
    EXPECT_EQ(selection.language.languageId(), 1029);
    EXPECT_EQ(constant(selection.language, "hpocet"), QStringLiteral("Počet"));
}

TEST_F(LanguageDir, Encodings)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        int languageId;
        QString hpocet;
    };
    auto utf16 = [](const QString& text, bool bigEndian) {
        QStringEncoder enc(bigEndian ? QStringEncoder::Utf16BE : QStringEncoder::Utf16LE,
                           QStringEncoder::Flag::WriteBom);
        return QByteArray(enc.encode(text));
    };
    const QString slovak = QStringLiteral("LANGID=1051\r\n[$CONSTANTS]\r\nhpocet=Počet zariadení ľ\r\n");
    const QString russian = QStringLiteral("LANGID=1049\n[$CONSTANTS]\nhpocet=Число\n");
    const Case cases[] = {
        {"UTF-16 LE with BOM", utf16(slovak, false), 1051, QStringLiteral("Počet zariadení ľ")},
        {"UTF-16 BE with BOM", utf16(russian, true), 1049, QStringLiteral("Число")},
        {"UTF-8 with BOM", utf8Bom(russian), 1049, QStringLiteral("Число")},
        {"Windows-1250 body of a Slovak file", encodeCodePage(1250, slovak), 1051,
         QStringLiteral("Počet zariadení ľ")},
        {"Windows-1251 body of a Russian file", encodeCodePage(1251, russian), 1049, QStringLiteral("Число")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        writeAll(dir.filePath(QStringLiteral("Quodra_st_x.lng")), c.bytes);
        const LanguageSelection selection = selectStartupLanguage(dir.path());
        EXPECT_TRUE(selection.error.isEmpty()) << selection.error.toStdString();
        EXPECT_EQ(selection.language.languageId(), c.languageId);
        EXPECT_EQ(constant(selection.language, "hpocet"), c.hpocet);
    }
}

TEST(Language, ShippedEnglishFileTranslatesEveryConstant)
{
    const QString file = QFileInfo(QStringLiteral(__FILE__))
                             .absoluteDir()
                             .filePath(QStringLiteral("../../lang/Quodra_st_en.lng"));
    QString error;
    const auto parsed = readLanguageFile(file, &error);
    ASSERT_TRUE(parsed) << error.toStdString();
    EXPECT_EQ(parsed->languageId, 1033);
    const Language en = Language::fromFile(*parsed, file);
    const Language czech;
    for (int i = 0; i < kConstantCount; ++i) {
        const QString name = constantName(i);
        EXPECT_TRUE(parsed->constants.contains(name)) << name.toStdString();
        EXPECT_NE(en.lookupConstant(name), czech.lookupConstant(name)) << name.toStdString();
    }
    EXPECT_EQ(en.lookupConstant(QStringLiteral("hhint8")).value_or(QString()) + QStringLiteral("(TCP)"),
              QStringLiteral("Read the states of all devices (TCP)"));
}

TEST_F(LanguageDir, ProcessWideLanguage)
{
    writeAll(path("Quodra_st_en.lng"), utf8Bom(QStringLiteral("LANGID=1033\n[$CONSTANTS]\nhpocet=Count\n")));
    EXPECT_TRUE(applyStartupLanguage(m_dir.path()).isEmpty());
    EXPECT_EQ(Language::instance()->languageId(), 1033);
    EXPECT_EQ(lookupConstant(QStringLiteral("hpocet")), QStringLiteral("Count"));

    // Readers on other threads always see one whole language while it is replaced.
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    QThread* reader = QThread::create([&] {
        while (!stop.load()) {
            const auto lang = Language::instance();
            const QString text = lang->lookupConstant(QStringLiteral("hpocet")).value_or(QString());
            if (text != (lang->languageId() == 1033 ? QStringLiteral("Count") : QStringLiteral("Počet")))
                ++bad;
        }
    });
    reader->start();
    for (int i = 0; i < 200; ++i)
        Language::setInstance(i % 2 ? Language() : selectStartupLanguage(m_dir.path()).language);
    stop = true;
    reader->wait();
    delete reader;
    EXPECT_EQ(bad.load(), 0);

    QString error;
    EXPECT_FALSE(lookupConstant(QStringLiteral("nothing"), &error));
    EXPECT_EQ(error, QStringLiteral("Constant \"nothing\" not found"));
    Language::setInstance(Language());
    EXPECT_EQ(lookupConstant(QStringLiteral("hpocet")), QStringLiteral("Počet"));
}
