#include "core/date_time.h"

#include <QLocale>
#include <atomic>
#include <cmath>

namespace quodra::core {

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

std::atomic<bool> g_fixedFormats{false};

QString systemTimeFormat()
{
    // Qt's long time format carries the time zone ("t"); the shared text has only the clock.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}
} // namespace

double toDateTimeNumber(const QDateTime& local)
{
    const QDateTime l = local.toLocalTime();
    return double(kEpoch.daysTo(l.date())) + l.time().msecsSinceStartOfDay() / kMsPerDay;
}

QDateTime fromDateTimeNumber(double number)
{
    if (!std::isfinite(number) || number < -657434.0 || number > 2958466.0)
        return {};
    const double days = std::floor(number);
    qint64 ms = std::llround((number - days) * kMsPerDay);
    qint64 wholeDays = qint64(days);
    if (ms >= qint64(kMsPerDay)) {
        ms -= qint64(kMsPerDay);
        ++wholeDays;
    }
    return QDateTime(kEpoch.addDays(wholeDays), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

double nowDateTimeNumber() { return toDateTimeNumber(QDateTime::currentDateTime()); }

quint16 dayNumber(double number)
{
    if (!std::isfinite(number) || number < 0)
        return 0;
    return quint16(qMin(std::floor(number), 65535.0));
}

double dayNumberToDateTime(quint16 day) { return double(day); }

QString DateTimeText::dateFormat()
{
    return fixedFormats() ? QStringLiteral("dd.MM.yyyy") : QLocale::system().dateFormat(QLocale::ShortFormat);
}

QString DateTimeText::timeFormat() { return fixedFormats() ? QStringLiteral("hh:mm:ss") : systemTimeFormat(); }

QString DateTimeText::date(QDate date) { return QLocale::system().toString(date, dateFormat()); }

QString DateTimeText::time(QTime time) { return QLocale::system().toString(time, timeFormat()); }

QString DateTimeText::dateTime(const QDateTime& dateTime)
{
    const QTime t = dateTime.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0)
        return date(dateTime.date());
    return dateAndTime(dateTime);
}

QString DateTimeText::dateAndTime(const QDateTime& dateTime)
{
    return date(dateTime.date()) + QLatin1Char(' ') + time(dateTime.time());
}

void DateTimeText::useFixedFormats() { g_fixedFormats.store(true); }

bool DateTimeText::fixedFormats() { return g_fixedFormats.load(); }

} // namespace quodra::core
