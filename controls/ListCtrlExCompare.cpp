// How two cell texts compare under a column's sort type.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include <QDateTime>
#include <QLocale>
#include <QString>

#include "controls/ListCtrlEx.h"

namespace {

template <class T>
int Order(T a, T b)
{
    return (b < a) - (a < b);
}

// The leading whole number of a text as atol reads it (blanks, a sign,
// digits; 0 when there is none), saturated instead of overflowing.
long LeadingNumber(const std::string& text)
{
    return std::strtol(text.c_str(), nullptr, 10);
}

int CompareBytes(const std::string& a, const std::string& b)
{
    const int r = a.compare(b);
    return (r > 0) - (r < 0);
}

int CompareNoCase(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = static_cast<unsigned char>(a[i]);
        const unsigned char cb = static_cast<unsigned char>(b[i]);
        const int la = (ca >= 'A' && ca <= 'Z') ? ca + ('a' - 'A') : ca;
        const int lb = (cb >= 'A' && cb <= 'Z') ? cb + ('a' - 'A') : cb;
        if (la != lb)
            return la < lb ? -1 : 1;
    }
    return Order(a.size(), b.size());
}

// A whole number only when both texts are exactly their numbers, both are
// non-zero and they differ; "007" is text, so it sorts among the words.
int CompareNumberOrText(const std::string& a, const std::string& b, bool noCase)
{
    const long na = LeadingNumber(a);
    const long nb = LeadingNumber(b);
    if (na != 0 && nb != 0 && na != nb && std::to_string(na).size() == a.size() &&
        std::to_string(nb).size() == b.size())
        return Order(na, nb);
    return noCase ? CompareNoCase(a, b) : CompareBytes(a, b);
}

int CompareFloat(const std::string& a, const std::string& b)
{
    const double fa = std::strtod(a.c_str(), nullptr);
    const double fb = std::strtod(b.c_str(), nullptr);
    // "nan" reads as a number too; it sorts first, all alike.
    if (std::isnan(fa) || std::isnan(fb))
        return Order(!std::isnan(fa), !std::isnan(fb));
    return Order(fa, fb);
}

// Dates and times as people type them here and as the locale writes them.
// A bare time is a time on one fixed day, so times order among themselves.
std::optional<QDateTime> ParseDate(const std::string& text)
{
    const QString s = QString::fromStdString(text).trimmed();
    if (s.isEmpty())
        return std::nullopt;
    static const char* const kDateTimeFormats[] = {
        "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-ddTHH:mm:ss", "yyyy/MM/dd HH:mm:ss",
        "yyyy/MM/dd HH:mm",    "M/d/yyyy H:mm:ss",  "M/d/yyyy H:mm",       "M/d/yyyy h:mm:ss AP",
        "M/d/yyyy h:mm AP",    "d.M.yyyy H:mm:ss",  "d.M.yyyy H:mm",
    };
    static const char* const kDateFormats[] = {"yyyy-MM-dd", "yyyy/MM/dd", "M/d/yyyy", "d.M.yyyy"};
    static const char* const kTimeFormats[] = {"H:mm:ss", "H:mm", "h:mm:ss AP", "h:mm AP"};

    for (const char* format : kDateTimeFormats) {
        const QDateTime dt = QDateTime::fromString(s, QString::fromLatin1(format));
        if (dt.isValid())
            return QDateTime(dt.date(), dt.time(), Qt::UTC);
    }
    for (const char* format : kDateFormats) {
        const QDate date = QDate::fromString(s, QString::fromLatin1(format));
        if (date.isValid())
            return QDateTime(date, QTime(0, 0), Qt::UTC);
    }
    for (const char* format : kTimeFormats) {
        const QTime time = QTime::fromString(s, QString::fromLatin1(format));
        if (time.isValid())
            return QDateTime(QDate(1899, 12, 30), time, Qt::UTC);
    }
    const QLocale locale = QLocale::system();
    for (QLocale::FormatType type : {QLocale::ShortFormat, QLocale::LongFormat}) {
        const QDateTime dt = locale.toDateTime(s, type);
        if (dt.isValid())
            return QDateTime(dt.date(), dt.time(), Qt::UTC);
        const QDate date = locale.toDate(s, type);
        if (date.isValid())
            return QDateTime(date, QTime(0, 0), Qt::UTC);
    }
    return std::nullopt;
}

// Texts that are no date (an empty cell among them) sort before every date
// and alike among themselves, so the order is one the sort can rely on.
int CompareDates(const std::string& a, const std::string& b)
{
    const std::optional<QDateTime> da = ParseDate(a);
    const std::optional<QDateTime> db = ParseDate(b);
    if (!da || !db)
        return Order(da.has_value(), db.has_value());
    return Order(da->toMSecsSinceEpoch(), db->toMSecsSinceEpoch());
}

}  // namespace

int CListCtrlEx::CompareTexts(int nSortType, const std::string& a, const std::string& b)
{
    switch (nSortType) {
    case kSortNone: return 0;
    case kSortInteger: return Order(LeadingNumber(a), LeadingNumber(b));
    case kSortFloat: return CompareFloat(a, b);
    case kSortNumberOrText: return CompareNumberOrText(a, b, false);
    case kSortTextNoCase: return CompareNoCase(a, b);
    case kSortNumberOrTextNoCase: return CompareNumberOrText(a, b, true);
    case kSortDate: return CompareDates(a, b);
    case kSortText:
    default: return CompareBytes(a, b);
    }
}
