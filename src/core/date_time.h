#pragma once
// Date-time numbers (days since 30 Dec 1899 00:00 local time, time of day as the fraction) and the
// shared date-time text used by the event log, the log viewer, the graph read-out and the export.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

namespace quodra::core {

double toDateTimeNumber(const QDateTime& local);
// An invalid QDateTime for NaN, infinities and numbers outside the years 100..9999.
QDateTime fromDateTimeNumber(double number);
double nowDateTimeNumber();

// Whole day number of a date-time number, as the date filters keep it.
quint16 dayNumber(double number);
double dayNumberToDateTime(quint16 day);

// Process-wide date and time formats: the system's own at start; one switch turns them into
// "dd.MM.yyyy" and "hh:mm:ss" for the rest of the run, for every user of the texts.
class DateTimeText {
public:
    static QString date(QDate date);
    static QString time(QTime time);
    // Date, then a space and the time unless the time of day is exactly midnight.
    static QString dateTime(const QDateTime& dateTime);
    // Date, a space and the time, always (the event log's line start).
    static QString dateAndTime(const QDateTime& dateTime);
    static void useFixedFormats();
    static bool fixedFormats();
    static QString dateFormat();
    static QString timeFormat();
};

} // namespace quodra::core
