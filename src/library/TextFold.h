#pragma once

#include <QString>
#include <QStringView>

// The form every stored text and every searched word takes before they are compared: lower
// case, accents taken off ("Café" and "CAFE" are one word), compatibility forms made plain
// ("ﬁ" is "fi"). SQLite's trigram tokenizer folds case but, in Debian 12's 3.40, not
// accents, so the store keeps this form itself and the tokenizer compares bytes. Bytes of a
// name that are not UTF-8 read as the replacement character.
QString foldText(QStringView text);
