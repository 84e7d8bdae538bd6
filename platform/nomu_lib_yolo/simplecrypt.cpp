#include "simplecrypt.h"

#include <QByteArray>

// Layout of the deciphered byte string:
//   "NC" 0x01            magic and format version (kept in clear)
//   u32 unit count       little-endian, then enciphered with the rest
//   u16 units            the text, little-endian
//   u32 checksum         FNV-1a of the text bytes
// Everything after the magic is XORed with a keystream drawn from a
// splitmix64 generator seeded by the key, and the whole is Base64-encoded.

namespace {

const char kMagic[3] = {'N', 'C', 0x01};

class KeyStream {
public:
    explicit KeyStream(quint64 key) : state_(key ^ 0x9e3779b97f4a7c15ULL) {}
    quint8 next()
    {
        if (left_ == 0) {
            state_ += 0x9e3779b97f4a7c15ULL;
            quint64 z = state_;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            block_ = z ^ (z >> 31);
            left_ = 8;
        }
        const quint8 b = static_cast<quint8>(block_ & 0xff);
        block_ >>= 8;
        --left_;
        return b;
    }

private:
    quint64 state_;
    quint64 block_ = 0;
    int left_ = 0;
};

quint32 fnv1a(const QByteArray& bytes)
{
    quint32 h = 2166136261u;
    for (char c : bytes) {
        h ^= static_cast<quint8>(c);
        h *= 16777619u;
    }
    return h;
}

void appendU32(QByteArray& out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xff));
}

quint32 readU32(const QByteArray& in, int pos)
{
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<quint32>(static_cast<quint8>(in[pos + i])) << (8 * i);
    return v;
}

void applyStream(QByteArray& bytes, int from, quint64 key)
{
    KeyStream ks(key);
    for (int i = from; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(static_cast<quint8>(bytes[i]) ^ ks.next());
}

} // namespace

SimpleCrypt::SimpleCrypt(quint64 key) : key_(key) {}

QString SimpleCrypt::encryptToString(const QString& plain) const
{
    QByteArray text;
    text.reserve(plain.size() * 2);
    for (QChar ch : plain) {
        const ushort u = ch.unicode();
        text.append(static_cast<char>(u & 0xff));
        text.append(static_cast<char>(u >> 8));
    }
    QByteArray bytes(kMagic, 3);
    appendU32(bytes, static_cast<quint32>(plain.size()));
    bytes.append(text);
    appendU32(bytes, fnv1a(text));
    applyStream(bytes, 3, key_);
    return QString::fromLatin1(bytes.toBase64());
}

QString SimpleCrypt::decryptToString(const QString& cipher) const
{
    const QByteArray latin = cipher.toLatin1();
    if (latin.isEmpty() || QString::fromLatin1(latin) != cipher)
        return QString();
    const auto decoded = QByteArray::fromBase64Encoding(latin, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return QString();
    QByteArray bytes = *decoded;
    if (bytes.size() < 3 + 4 + 4 || bytes.left(3) != QByteArray(kMagic, 3))
        return QString();
    applyStream(bytes, 3, key_);
    const quint32 units = readU32(bytes, 3);
    const qint64 expected = 3 + 4 + static_cast<qint64>(units) * 2 + 4;
    if (expected != bytes.size())
        return QString();
    const QByteArray text = bytes.mid(7, static_cast<int>(units) * 2);
    if (readU32(bytes, bytes.size() - 4) != fnv1a(text))
        return QString();
    QString out;
    out.resize(static_cast<int>(units));
    for (int i = 0; i < static_cast<int>(units); ++i) {
        const ushort lo = static_cast<quint8>(text[2 * i]);
        const ushort hi = static_cast<quint8>(text[2 * i + 1]);
        out[i] = QChar(static_cast<ushort>(lo | (hi << 8)));
    }
    return out;
}
