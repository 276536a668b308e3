#include "core/code_page.h"
#include "core/date_time.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace quodra::core;

TEST(DateTimeNumber, KnownValuesBothWays)
{
    struct Case {
        QDateTime local;
        double number;
    };
    const Case cases[] = {
        {QDateTime(QDate(1899, 12, 30), QTime(0, 0)), 0.0},
        {QDateTime(QDate(1899, 12, 31), QTime(0, 0)), 1.0},
        {QDateTime(QDate(1900, 1, 1), QTime(0, 0)), 2.0},
        {QDateTime(QDate(1900, 1, 1), QTime(6, 0)), 2.25},
        {QDateTime(QDate(2000, 1, 1), QTime(0, 0)), 36526.0},
        {QDateTime(QDate(2026, 12, 11), QTime(12, 0)), 46367.5},
        {QDateTime(QDate(2026, 12, 11), QTime(18, 0)), 46367.75},
        {QDateTime(QDate(2026, 12, 11), QTime(0, 0, 1)), 46367.0 + 1.0 / 86400.0},
        {QDateTime(QDate(2026, 12, 11), QTime(23, 59, 59, 999)), 46367.0 + 86399999.0 / 86400000.0},
        {QDateTime(QDate(9999, 12, 31), QTime(0, 0)), 2958465.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.local.toString(Qt::ISODateWithMs).toStdString());
        EXPECT_NEAR(toDateTimeNumber(c.local), c.number, 1e-9);
        EXPECT_EQ(fromDateTimeNumber(c.number), c.local);
    }
}

TEST(DateTimeNumber, RoundingNearMidnightStaysOnTheRightDay)
{
    // A number a hair below the next day rounds to midnight of that day, not to 24:00.
    EXPECT_EQ(fromDateTimeNumber(46367.0 - 1e-12), QDateTime(QDate(2026, 12, 11), QTime(0, 0)));
}

TEST(DateTimeNumber, NonNumbersAndOutOfRangeAreInvalid)
{
    const double cases[] = {std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            1e10,
                            -1e10,
                            2958467.0};
    for (double d : cases)
        EXPECT_FALSE(fromDateTimeNumber(d).isValid()) << d;
}

TEST(DateTimeNumber, DayNumbers)
{
    struct Case {
        double number;
        quint16 day;
    };
    const Case cases[] = {{0.0, 0},
                          {46367.5, 46367},
                          {46367.999, 46367},
                          {65535.5, 65535},
                          {70000.0, 65535},
                          {-3.0, 0},
                          {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const Case& c : cases)
        EXPECT_EQ(dayNumber(c.number), c.day) << c.number;
    EXPECT_EQ(dayNumberToDateTime(46367), 46367.0);
}

// The shared date-time text: the system's formats until the switch, then "dd.MM.yyyy" and
// "hh:mm:ss" for the rest of the process; the time is left out when it is exactly midnight. The
// switch cannot be undone, so this one test sees both halves.
TEST(DateTimeText, SystemFormatsUntilTheSwitchThenFixedOnesAndMidnightShowsTheDateAlone)
{
    const QDate day(2026, 3, 5);
    const QDateTime midnight(day, QTime(0, 0));
    const QDateTime afternoon(day, QTime(14, 7, 9));
    if (!DateTimeText::fixedFormats()) {
        const QLocale system = QLocale::system();
        const QString date = system.toString(day, system.dateFormat(QLocale::ShortFormat));
        EXPECT_EQ(DateTimeText::date(day), date);
        EXPECT_FALSE(DateTimeText::timeFormat().contains(QLatin1Char('t'))) << "no time zone in the text";
        EXPECT_EQ(DateTimeText::dateTime(midnight), date);
        EXPECT_EQ(DateTimeText::dateTime(afternoon),
                  date + QLatin1Char(' ') + DateTimeText::time(afternoon.time()));
    }

    DateTimeText::useFixedFormats();
    EXPECT_TRUE(DateTimeText::fixedFormats());
    struct Case {
        const char* name;
        QString text;
        QString expected;
    } cases[] = {
        {"date", DateTimeText::date(day), QStringLiteral("05.03.2026")},
        {"time with leading zeros", DateTimeText::time(QTime(9, 5, 3)), QStringLiteral("09:05:03")},
        {"afternoon", DateTimeText::dateTime(afternoon), QStringLiteral("05.03.2026 14:07:09")},
        {"midnight: the date alone", DateTimeText::dateTime(midnight), QStringLiteral("05.03.2026")},
        {"a second after midnight", DateTimeText::dateTime(QDateTime(day, QTime(0, 0, 1))),
         QStringLiteral("05.03.2026 00:00:01")},
        {"milliseconds do not count", DateTimeText::dateTime(QDateTime(day, QTime(0, 0, 0, 500))),
         QStringLiteral("05.03.2026")},
        {"date and time always", DateTimeText::dateAndTime(midnight), QStringLiteral("05.03.2026 00:00:00")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, c.expected) << c.name;
}

TEST(CodePage, CzechLettersRoundTripInWindows1250)
{
    const QString text = QStringLiteral("Příliš žluťoučký kůň úpěl ďábelské ódy ČŘŠŽŤĎŇÚŮ °");
    const QByteArray bytes = toCp1250(text);
    EXPECT_EQ(bytes.size(), text.size()); // one byte per letter
    EXPECT_EQ(fromCp1250(bytes), text);
    struct Case {
        QString letter;
        quint8 byte;
    };
    const Case cases[] = {{QStringLiteral("Č"), 0xC8}, {QStringLiteral("ř"), 0xF8},
                          {QStringLiteral("š"), 0x9A}, {QStringLiteral("ů"), 0xF9},
                          {QStringLiteral("Ž"), 0x8E}, {QStringLiteral("°"), 0xB0}};
    for (const Case& c : cases) {
        EXPECT_EQ(toCp1250(c.letter), QByteArray(1, char(c.byte))) << c.letter.toStdString();
        EXPECT_EQ(fromCp1250(QByteArray(1, char(c.byte))), c.letter);
    }
}

TEST(CodePage, OtherCodePagesAndLanguages)
{
    EXPECT_EQ(decodeCodePage(1251, QByteArray("\xD7\xE8\xF1\xEB\xEE")), QStringLiteral("Число"));
    EXPECT_EQ(decodeCodePage(1252, QByteArray("Gr\xFC\xDF")), QStringLiteral("Grüß"));
    struct Case {
        int langId;
        int codePage;
    };
    const Case cases[] = {{1029, 1250}, {1051, 1250}, {1045, 1250}, {2074, 1250}, {1033, 1252},
                          {1031, 1252}, {1049, 1251}, {1032, 1253}, {1055, 1254}, {0, 1252}};
    for (const Case& c : cases)
        EXPECT_EQ(codePageForLanguage(c.langId), c.codePage) << c.langId;
}
