#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The form every stored text and every searched word takes before they are compared: lower
// case, accents taken off ("Café" and "CAFE" are one word), compatibility forms made plain
// ("ﬁ" is "fi"). SQLite's trigram tokenizer folds case but, in Debian 12's 3.40, not
// accents, so the store keeps this form itself and the tokenizer compares bytes. Bytes of a
// name that are not UTF-8 read as the replacement character.
QString foldText(QStringView text);

// Whether a searched piece (folded, UTF-8) is in a folded text, the one rule both ways of
// answering a search keep. A piece of three characters or more is found anywhere, as the
// trigram index finds it. A shorter one that begins with a letter or a digit is found only
// where a word or a number begins (after a character of another kind, so "2" is in "take2"
// and "sc" in "under_score"): a letter or two anywhere is in nearly every name and path, and
// "é" would list the whole library. One that begins with a sign, or with a letter above
// ASCII (scripts written without spaces), is found anywhere.
bool containsPiece(QByteArrayView text, QByteArrayView piece);
// Whether the piece wants a word's start; and whether one is at this place of the text.
bool wantsWordStart(QByteArrayView piece);
bool beginsWord(QByteArrayView text, qsizetype at, char first);

// The key names sort by: the folded name's bytes, but for each run of digits, which compares
// by its value ("take2" before "take10", "take 9" before "take 10"), in the store's index and
// in memory alike, byte by byte. A run becomes the count of its digits less leading zeros
// ('0' + count, or '9' and two bytes more from nine digits on: its first byte stays among the
// digits, so a number sorts against a letter or a sign where a digit would) and those
// digits; the leading zeros of the runs follow the whole, after a NUL, so that "take02"
// comes right after "take2".
QByteArray naturalKey(QByteArrayView folded);
