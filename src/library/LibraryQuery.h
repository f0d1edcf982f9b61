#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

// A search of the library as the user typed it, read into terms that a store turns into its
// own query with bound values: the text itself never becomes part of a statement.
//
// The query language (the manual page says the same to users):
//   kick snare     every word must match; a word matches any part of the file's name, its
//                  folder or any text the file carries (bext description, originator and
//                  reference, INFO title, artist, comment and software, iXML scene, take and
//                  note, cue labels), whatever its letter case and accents ("cafe" finds
//                  "Café"). Words of three letters or more are looked up in the text index;
//                  a letter or two matches where a word or a number begins ("ki" finds
//                  "Kick", "2" finds "take2" but not "02"), compared letter by letter.
//   -noise         leaves out the files that match the word (or the field, -clip:yes).
//   "two words"    the words together, in this order; a quote left open runs to the end.
//   name:kick      only the file name; folder:drums only the folder's path.
//   format:float   the encoding or container ("pcm", "24-bit", "float", "ulaw", "rf64").
//   rate:48000     the sample rate; 48k and 44.1k also read.   ch:2, bits:24.
//   length:<2s     the length; durations like 500ms, 2s, 1.5s, 1m35s, 1h; a bare number is
//                  seconds. A bare length matches what rounds to it: length:2s is 1.5 to 2.5 s.
//   lufs:>-16      integrated loudness in LUFS; peak:>-1 the true peak in dBTP; a bare value
//                  matches within half a unit. Files not measured yet match neither.
//   clip:yes       files that clip or go over full scale between samples; clip:no the others
//                  (measured ones only).
//   date:2024      the bext origination date, else the file's modification time: a year,
//                  2024-05 a month, 2024-05-03 a day.
// Numeric fields take <, <=, >, >=, = before the value, and ranges a-b or a..b (both ends
// included: length:1m-3m, lufs:-20..-10, date:2023-2024). A file that lacks the figure (a
// header that could not be read has no rate, channels, bits nor length) matches no value of
// it, and the field left out keeps it. A word whose part before ':' names
// no field is searched as it is ("12:30"). Unreadable queries (a field without a value, a
// value that is not a number, "-" alone, operators, wildcards or signs left out with no word
// among them ("--", "<>=", "*", ".*", "-*"), more than maxLength characters or maxTerms terms)
// give an error and find nothing.
struct QueryTerm
{
    enum class Field
    {
        Text, // name, folder and every stored text
        Name,
        Folder,
        Format,
        Rate,
        Channels,
        Bits,
        Length, // milliseconds
        Lufs,
        Peak,
        Clip,
        Date, // seconds since the epoch, local time
    };
    Field field = Field::Text;
    bool excluded = false;
    // For the text fields: the folded text, looked for as one piece.
    QString text;
    // For the numeric fields: the values allowed, each end open when absent.
    std::optional<double> low;
    std::optional<double> high;
    bool lowIncluded = true;
    bool highIncluded = true;
    // clip:yes or clip:no.
    bool yes = true;

    bool isText() const
    {
        return field == Field::Text || field == Field::Name || field == Field::Folder ||
               field == Field::Format;
    }
    // A short, stable form for tests and logs: `text"kick"`, `-rate[48000,48000]`,
    // `length[1500,2500)`.
    QString describe() const;
};

struct LibraryQuery
{
    static constexpr int maxLength = 1000;
    static constexpr int maxTerms = 32;

    QList<QueryTerm> terms;
    // Why the query cannot be read, in one line; empty when it can.
    QString error;

    bool ok() const { return error.isEmpty(); }
    // Nothing to look for: no rows, and no error either.
    bool empty() const { return terms.isEmpty(); }
    // The terms' forms joined by spaces, or "error: …".
    QString describe() const;

    static LibraryQuery parse(QStringView text);
};

// The trigram index answers only for pieces of three characters or more.
constexpr int shortestIndexedText = 3;
