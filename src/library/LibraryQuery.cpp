#include "LibraryQuery.h"

#include "TextFold.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <cmath>

namespace {

using Field = QueryTerm::Field;

struct FieldName
{
    const char *name;
    Field field;
};
constexpr FieldName fieldNames[] = {
    {"name", Field::Name}, {"folder", Field::Folder}, {"format", Field::Format},
    {"rate", Field::Rate}, {"ch", Field::Channels},   {"channels", Field::Channels},
    {"bits", Field::Bits}, {"length", Field::Length}, {"duration", Field::Length},
    {"lufs", Field::Lufs}, {"loudness", Field::Lufs}, {"peak", Field::Peak},
    {"clip", Field::Clip}, {"date", Field::Date},
};

std::optional<Field> fieldNamed(QStringView name)
{
    for (const FieldName &known : fieldNames)
        if (name.compare(QLatin1String(known.name), Qt::CaseInsensitive) == 0)
            return known.field;
    return std::nullopt;
}

const char *nameOf(Field field)
{
    for (const FieldName &known : fieldNames)
        if (known.field == field)
            return known.name;
    return "text";
}

// A value and how finely it was given: "2s" is to the second, "1.5s" to a tenth of one.
struct Measure
{
    double value = 0;
    double step = 1;
};

// A decimal number (no exponent, no sign) at the start of text; advances past it.
std::optional<Measure> leadingNumber(QStringView &text)
{
    qsizetype at = 0;
    int decimals = -1;
    bool digits = false;
    while (at < text.size()) {
        const QChar c = text[at];
        if (c.isDigit() && c.unicode() < 0x80) {
            digits = true;
            if (decimals >= 0)
                ++decimals;
        } else if (c == u'.' && decimals < 0) {
            decimals = 0;
        } else {
            break;
        }
        ++at;
    }
    if (!digits)
        return std::nullopt;
    bool good = false;
    const double value = text.first(at).toString().toDouble(&good);
    if (!good || !std::isfinite(value))
        return std::nullopt;
    text = text.sliced(at);
    return Measure{value, std::pow(10.0, -std::max(decimals, 0))};
}

std::optional<Measure> signedNumber(QStringView text, std::initializer_list<const char *> units)
{
    bool negative = false;
    if (text.startsWith(u'-') || text.startsWith(u'+')) {
        negative = text.startsWith(u'-');
        text = text.sliced(1);
    }
    std::optional<Measure> number = leadingNumber(text);
    if (!number)
        return std::nullopt;
    bool unitKnown = text.isEmpty();
    for (const char *unit : units)
        unitKnown = unitKnown || text.compare(QLatin1String(unit), Qt::CaseInsensitive) == 0;
    if (!unitKnown)
        return std::nullopt;
    if (negative)
        number->value = -number->value;
    return number;
}

std::optional<Measure> rateOf(QStringView text)
{
    std::optional<Measure> number = leadingNumber(text);
    if (!number)
        return std::nullopt;
    if (text.compare(u"k", Qt::CaseInsensitive) == 0 ||
        text.compare(u"khz", Qt::CaseInsensitive) == 0) {
        number->value *= 1000;
        number->step *= 1000;
    } else if (!text.isEmpty() && text.compare(u"hz", Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    return number;
}

std::optional<Measure> countOf(QStringView text)
{
    std::optional<Measure> number = leadingNumber(text);
    if (!number || !text.isEmpty() || number->value != std::floor(number->value))
        return std::nullopt;
    return number;
}

// "1m35s", "2s", "500ms", "1.5s", "1h", "90": milliseconds, and the step of the last part.
std::optional<Measure> durationOf(QStringView text)
{
    struct Unit
    {
        const char *name;
        double ms;
    };
    // Longest names first, so that "ms" is not read as "m" and then "s".
    constexpr Unit units[] = {{"ms", 1}, {"h", 3600000}, {"m", 60000}, {"s", 1000}};
    Measure total{0, 1000};
    bool any = false;
    while (!text.isEmpty()) {
        std::optional<Measure> part = leadingNumber(text);
        if (!part)
            return std::nullopt;
        double ms = 1000;
        if (!text.isEmpty()) {
            bool found = false;
            for (const Unit &unit : units) {
                if (text.startsWith(QLatin1String(unit.name), Qt::CaseInsensitive)) {
                    ms = unit.ms;
                    text = text.sliced(qstrlen(unit.name));
                    found = true;
                    break;
                }
            }
            if (!found)
                return std::nullopt;
        } else if (any) {
            return std::nullopt; // "1m30" is not a duration
        }
        total.value += part->value * ms;
        total.step = part->step * ms;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return total;
}

std::optional<Measure> measureOf(Field field, QStringView text)
{
    switch (field) {
    case Field::Rate:
        return rateOf(text);
    case Field::Channels:
    case Field::Bits:
        return countOf(text);
    case Field::Length:
        return durationOf(text);
    case Field::Lufs:
        return signedNumber(text, {"lufs", "lu", "db"});
    case Field::Peak:
        return signedNumber(text, {"dbtp", "db", "dbfs"});
    default:
        return std::nullopt;
    }
}

QString exampleOf(Field field)
{
    switch (field) {
    case Field::Rate:
        return QStringLiteral("rate:48000");
    case Field::Channels:
        return QStringLiteral("ch:2");
    case Field::Bits:
        return QStringLiteral("bits:24");
    case Field::Length:
        return QStringLiteral("length:<2s or length:1m-3m");
    case Field::Lufs:
        return QStringLiteral("lufs:>-16");
    case Field::Peak:
        return QStringLiteral("peak:>-1");
    case Field::Clip:
        return QStringLiteral("clip:yes");
    case Field::Date:
        return QStringLiteral("date:2024 or date:2024-05-03");
    default:
        return QStringLiteral("name:kick");
    }
}

enum class Comparison
{
    Equal,
    Less,
    LessOrEqual,
    Greater,
    GreaterOrEqual,
};

Comparison takeComparison(QStringView &text)
{
    const auto take = [&text](QStringView op, Comparison comparison) {
        text = text.sliced(op.size());
        return comparison;
    };
    if (text.startsWith(u"<="))
        return take(u"<=", Comparison::LessOrEqual);
    if (text.startsWith(u">="))
        return take(u">=", Comparison::GreaterOrEqual);
    if (text.startsWith(u"<"))
        return take(u"<", Comparison::Less);
    if (text.startsWith(u">"))
        return take(u">", Comparison::Greater);
    if (text.startsWith(u"="))
        return take(u"=", Comparison::Equal);
    return Comparison::Equal;
}

// Where a range a-b splits: "..", or a '-' that ends a value rather than signing one.
std::optional<std::pair<QStringView, QStringView>> rangeParts(QStringView text)
{
    if (const qsizetype dots = text.indexOf(u".."); dots > 0)
        return std::pair{text.first(dots), text.sliced(dots + 2)};
    for (qsizetype at = 1; at < text.size(); ++at)
        if (text[at] == u'-' && text[at - 1].isLetterOrNumber())
            return std::pair{text.first(at), text.sliced(at + 1)};
    return std::nullopt;
}

// A year, a month or a day, as the local time of its first second and of the one after it.
std::optional<std::pair<double, double>> dateSpan(QStringView text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4})(?:-(\\d{1,2})(?:-(\\d{1,2}))?)?$"));
    const QRegularExpressionMatch match = form.match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const int year = match.capturedView(1).toInt();
    const bool hasMonth = match.hasCaptured(2);
    const bool hasDay = match.hasCaptured(3);
    const int month = hasMonth ? match.capturedView(2).toInt() : 1;
    const int day = hasDay ? match.capturedView(3).toInt() : 1;
    const QDate first(year, month, day);
    if (!first.isValid())
        return std::nullopt;
    const QDate next = hasDay     ? first.addDays(1)
                       : hasMonth ? first.addMonths(1)
                                  : first.addYears(1);
    const auto seconds = [](QDate date) {
        return double(QDateTime(date, QTime(0, 0)).toSecsSinceEpoch());
    };
    return std::pair{seconds(first), seconds(next)};
}

std::optional<std::pair<QString, QString>> dateRangeParts(QStringView text)
{
    static const QRegularExpression form(QStringLiteral(
        "^(\\d{4}(?:-\\d{1,2}(?:-\\d{1,2})?)?)(?:\\.\\.|-)(\\d{4}(?:-\\d{1,2}(?:-\\d{1,2})?)?)$"));
    const QRegularExpressionMatch match = form.match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    return std::pair{match.captured(1), match.captured(2)};
}

// Fills a numeric term's ends from its value; false when the value cannot be read.
bool readNumeric(QueryTerm &term, QStringView value)
{
    const Comparison comparison = takeComparison(value);
    if (term.field == Field::Date) {
        if (comparison == Comparison::Equal) {
            if (const auto parts = dateRangeParts(value)) {
                const auto from = dateSpan(parts->first);
                const auto to = dateSpan(parts->second);
                if (!from || !to)
                    return false;
                term.low = from->first;
                term.high = to->second;
                term.highIncluded = false;
                return true;
            }
        }
        const auto span = dateSpan(value);
        if (!span)
            return false;
        switch (comparison) {
        case Comparison::Equal:
            term.low = span->first;
            term.high = span->second;
            term.highIncluded = false;
            break;
        case Comparison::Less:
            term.high = span->first;
            term.highIncluded = false;
            break;
        case Comparison::LessOrEqual:
            term.high = span->second;
            term.highIncluded = false;
            break;
        case Comparison::Greater:
            term.low = span->second;
            break;
        case Comparison::GreaterOrEqual:
            term.low = span->first;
            break;
        }
        return true;
    }
    if (comparison == Comparison::Equal) {
        if (const auto parts = rangeParts(value)) {
            const auto from = measureOf(term.field, parts->first);
            const auto to = measureOf(term.field, parts->second);
            if (!from || !to)
                return false;
            term.low = std::min(from->value, to->value);
            term.high = std::max(from->value, to->value);
            return true;
        }
    }
    const std::optional<Measure> measure = measureOf(term.field, value);
    if (!measure)
        return false;
    const bool exact =
        term.field == Field::Rate || term.field == Field::Channels || term.field == Field::Bits;
    switch (comparison) {
    case Comparison::Equal:
        if (exact) {
            term.low = term.high = measure->value;
        } else {
            // What rounds to the value as it was given.
            term.low = measure->value - measure->step / 2;
            term.high = measure->value + measure->step / 2;
            term.highIncluded = false;
        }
        break;
    case Comparison::Less:
        term.high = measure->value;
        term.highIncluded = false;
        break;
    case Comparison::LessOrEqual:
        term.high = measure->value;
        break;
    case Comparison::Greater:
        term.low = measure->value;
        term.lowIncluded = false;
        break;
    case Comparison::GreaterOrEqual:
        term.low = measure->value;
        break;
    }
    return true;
}

std::optional<bool> yesOrNo(QStringView value)
{
    for (const char *yes : {"yes", "y", "true", "1", "on"})
        if (value.compare(QLatin1String(yes), Qt::CaseInsensitive) == 0)
            return true;
    for (const char *no : {"no", "n", "false", "0", "off"})
        if (value.compare(QLatin1String(no), Qt::CaseInsensitive) == 0)
            return false;
    return std::nullopt;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 15);
}

} // namespace

QString QueryTerm::describe() const
{
    QString text = excluded ? QStringLiteral("-") : QString();
    text += QLatin1String(nameOf(field));
    if (isText())
        return text + u'"' + this->text + u'"';
    if (field == Field::Clip)
        return text + (yes ? QStringLiteral(":yes") : QStringLiteral(":no"));
    text += lowIncluded ? u'[' : u'(';
    if (low)
        text += numberText(*low);
    text += u',';
    if (high)
        text += numberText(*high);
    text += highIncluded ? u']' : u')';
    return text;
}

QString LibraryQuery::describe() const
{
    if (!ok())
        return QStringLiteral("error: ") + error;
    QStringList parts;
    for (const QueryTerm &term : terms)
        parts.append(term.describe());
    return parts.join(u' ');
}

LibraryQuery LibraryQuery::parse(QStringView text)
{
    LibraryQuery query;
    const auto fail = [&query](QString why) {
        query.terms.clear();
        query.error = std::move(why);
        return query;
    };
    if (text.size() > maxLength)
        return fail(QStringLiteral("The search is too long: %1 characters, %2 at most.")
                        .arg(text.size())
                        .arg(maxLength));
    qsizetype at = 0;
    const auto quoted = [&text, &at]() {
        // at is on the opening quote; a quote never closed runs to the end.
        const qsizetype close = text.indexOf(u'"', at + 1);
        const qsizetype end = close < 0 ? text.size() : close;
        const QStringView inside = text.sliced(at + 1, end - at - 1);
        at = close < 0 ? text.size() : close + 1;
        return inside;
    };
    while (at < text.size()) {
        if (text[at].isSpace()) {
            ++at;
            continue;
        }
        QueryTerm term;
        if (text[at] == u'-') {
            ++at;
            if (at >= text.size() || text[at].isSpace())
                return fail(QStringLiteral("A \"-\" leaves out what follows it, as in -noise: "
                                           "nothing follows it here."));
            term.excluded = true;
        }
        QString value;
        bool isQuoted = false;
        if (text[at] == u'"') {
            value = quoted().toString();
            isQuoted = true;
        } else {
            const qsizetype start = at;
            while (at < text.size() && !text[at].isSpace() && text[at] != u'"')
                ++at;
            const QStringView word = text.sliced(start, at - start);
            const qsizetype colon = word.indexOf(u':');
            const std::optional<Field> field =
                colon > 0 ? fieldNamed(word.first(colon)) : std::nullopt;
            if (field) {
                term.field = *field;
                value = word.sliced(colon + 1).toString();
                if (value.isEmpty() && at < text.size() && text[at] == u'"') {
                    value = quoted().toString();
                    isQuoted = true;
                }
                if (value.trimmed().isEmpty())
                    return fail(QStringLiteral("\"%1:\" wants a value, as in %2.")
                                    .arg(QLatin1String(nameOf(term.field)), exampleOf(term.field)));
            } else {
                value = word.toString();
            }
        }
        if (term.isText()) {
            term.text = foldText(value);
            if (!isQuoted)
                term.text = term.text.trimmed();
            if (term.text.trimmed().isEmpty()) {
                if (term.field != Field::Text)
                    return fail(QStringLiteral("\"%1:\" wants a text, as in %2.")
                                    .arg(QLatin1String(nameOf(term.field)), exampleOf(term.field)));
                continue; // "" or a word of accents alone
            }
        } else if (term.field == Field::Clip) {
            const std::optional<bool> yes = yesOrNo(value.trimmed());
            if (!yes)
                return fail(QStringLiteral("\"clip:\" wants yes or no, as in clip:yes."));
            term.yes = *yes;
        } else if (!readNumeric(term, QStringView(value).trimmed())) {
            return fail(
                QStringLiteral("\"%1:%2\" cannot be read: try %3.")
                    .arg(QLatin1String(nameOf(term.field)), value.left(40), exampleOf(term.field)));
        }
        if (query.terms.size() == maxTerms)
            return fail(QStringLiteral("The search has more than %1 terms.").arg(maxTerms));
        query.terms.append(term);
    }
    // Operators with no field and no word ("<>=", ".."), wildcards and the signs of patterns
    // ("*", "?", ".*", "^$", "(a|b)" without its letters) and signs left out ("--", "-*")
    // find everything, everything but a sign, or nothing, never what was meant: a word is
    // already found in any part of a name, and no sign is special in it. A sign that names
    // hold as it is ("%", "_", "#") stays a word when searched for.
    const auto noWord = [](const QueryTerm &term) {
        if (term.field != Field::Text)
            return false;
        return std::none_of(term.text.cbegin(), term.text.cend(), [&term](QChar c) {
            return term.excluded
                       ? c.isLetterOrNumber()
                       : !QStringView(u"<>=.-!*?^$|\\+()[]{}").contains(c) && !c.isSpace();
        });
    };
    if (!query.terms.isEmpty() && std::all_of(query.terms.cbegin(), query.terms.cend(), noWord))
        return fail(QStringLiteral("The search has only signs, and none is a wildcard: a word is "
                                   "found in any part of a name, as in kick or -noise."));
    return query;
}
