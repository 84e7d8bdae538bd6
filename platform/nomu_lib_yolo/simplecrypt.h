#pragma once
// The cipher of protected network descriptions. One implementation and one key
// for both programs: the trainer enciphers the bodies it writes, the server
// deciphers them when it loads a model.

#include <QString>
#include <QtGlobal>

// The fixed key of every protected description.
constexpr quint64 kNomuCryptKey = 0x4b2d91e6c07a35ULL;

// A protected description holds its clear head, this separator and the
// enciphered body.
constexpr char kProtectedSeparator[] = "<-<+>->";

class SimpleCrypt {
public:
    explicit SimpleCrypt(quint64 key);

    // Enciphers any text exactly (every UTF-16 unit, lone surrogates included).
    // The result is plain Base64: ASCII letters, digits, "+", "/" and "=", so it
    // survives a QTextStream write and readAll unchanged and never holds
    // "<-<+>->", a line break or "\r". No random salt: the same text and key
    // always give the same cipher text.
    QString encryptToString(const QString& plain) const;

    // The inverse. Text that is not a cipher of this key (damaged, truncated,
    // another key, not Base64) gives "".
    QString decryptToString(const QString& cipher) const;

private:
    quint64 key_;
};
