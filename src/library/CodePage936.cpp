#include "CodePage936.h"

#include <QChar>
#include <QSysInfo>

namespace {

constexpr auto ConversionFailed = static_cast<size_t>(-1);
const auto NoConverter = reinterpret_cast<iconv_t>(-1);
// Table entries not yet asked of the converter.
constexpr char16_t Unknown = 0;
constexpr quint16 UnknownCode = 0;
constexpr char16_t NoCharacter = 0xFFFF;
constexpr quint16 NoCode = 0xFFFF;

constexpr const char *Utf16 =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";

} // namespace

CodePage936::CodePage936(const char *converterName)
    : m_toUnicode(iconv_open(Utf16, converterName))
    , m_fromUnicode(iconv_open(converterName, Utf16))
    , m_byte80(Unknown)
    , m_byteFF(Unknown)
{
    m_pairs.fill(Unknown);
    m_codes.fill(UnknownCode);
}

CodePage936::~CodePage936()
{
    if (m_toUnicode != NoConverter)
        iconv_close(m_toUnicode);
    if (m_fromUnicode != NoConverter)
        iconv_close(m_fromUnicode);
}

bool CodePage936::isAvailable() const
{
    return m_toUnicode != NoConverter && m_fromUnicode != NoConverter;
}

QByteArray CodePage936::encode(QStringView text, QString *unencodable) const
{
    if (unencodable)
        unencodable->clear();
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    qsizetype size = 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char16_t unit = text[at].unicode();
        const quint16 character = unit < 0x80                ? unit
                                  : QChar::isSurrogate(unit) ? NoCode
                                                             : code(unit);
        if (character == NoCode) {
            // One "?" for the character, also when it takes two UTF-16 units.
            const bool pair = QChar::isHighSurrogate(unit) && at + 1 < text.size() &&
                              text[at + 1].isLowSurrogate();
            if (unencodable && unencodable->isEmpty())
                *unencodable = text.sliced(at, pair ? 2 : 1).toString();
            at += pair ? 1 : 0;
            out[size++] = '?';
        } else if (character > 0xFF) {
            out[size++] = char(character >> 8);
            out[size++] = char(character & 0xFF);
        } else {
            out[size++] = char(character);
        }
    }
    out.truncate(size);
    return out;
}

QString CodePage936::decode(QByteArrayView bytes) const
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *next = out.data();
    for (qsizetype at = 0; at < bytes.size(); ++at) {
        const auto byte = uchar(bytes[at]);
        char16_t character = byte;
        if (byte == 0) {
            character = u' ';
        } else if (isLeadByte(byte)) {
            character = at + 1 < bytes.size() ? pair(byte, uchar(bytes[at + 1])) : NoCharacter;
            // A lead byte that starts no character stands for itself; the next byte is read anew.
            at += character != NoCharacter ? 1 : 0;
        } else if (byte >= 0x80) {
            character = single(byte);
        }
        *next++ = character == NoCharacter ? QChar(QChar::ReplacementCharacter) : QChar(character);
    }
    out.truncate(next - out.constData());
    return out;
}

// The character of a two-byte code, or NoCharacter.
char16_t CodePage936::pair(uchar lead, uchar trail) const
{
    if (trail < 0x40 || trail > 0xFE)
        return NoCharacter;
    char16_t &known = m_pairs[size_t(lead - 0x81) * TrailCount + size_t(trail - 0x40)];
    if (known == Unknown) {
        const char bytes[] = {char(lead), char(trail)};
        known = toUnicode(bytes, 2);
    }
    return known;
}

// The character of a single byte from 0x80 on that is not a lead byte (0x80 is the euro sign in
// this code page), or NoCharacter.
char16_t CodePage936::single(uchar byte) const
{
    char16_t &known = byte == 0x80 ? m_byte80 : m_byteFF;
    if (known == Unknown) {
        const char bytes[] = {char(byte)};
        known = toUnicode(bytes, 1);
    }
    return known;
}

// The code of a character of the Basic Multilingual Plane: a byte below 0x100, a lead and a trail
// byte above, or NoCode.
quint16 CodePage936::code(char16_t character) const
{
    quint16 &known = m_codes[character];
    if (known == UnknownCode)
        known = fromUnicode(character);
    return known;
}

char16_t CodePage936::toUnicode(const char *bytes, size_t size) const
{
    if (m_toUnicode == NoConverter)
        return NoCharacter;
    char16_t character = NoCharacter;
    char *in = const_cast<char *>(bytes);
    auto *out = reinterpret_cast<char *>(&character);
    size_t outLeft = sizeof character;
    iconv(m_toUnicode, nullptr, nullptr, nullptr, nullptr);
    if (iconv(m_toUnicode, &in, &size, &out, &outLeft) == ConversionFailed || size != 0 ||
        outLeft != 0)
        return NoCharacter;
    return character;
}

quint16 CodePage936::fromUnicode(char16_t character) const
{
    if (m_fromUnicode == NoConverter)
        return NoCode;
    char bytes[4] = {};
    auto *in = reinterpret_cast<char *>(&character);
    size_t inLeft = sizeof character;
    char *out = bytes;
    size_t outLeft = sizeof bytes;
    iconv(m_fromUnicode, nullptr, nullptr, nullptr, nullptr);
    if (iconv(m_fromUnicode, &in, &inLeft, &out, &outLeft) == ConversionFailed)
        return NoCode;
    const auto written = sizeof bytes - outLeft;
    if (written == 1)
        return uchar(bytes[0]);
    if (written == 2)
        return quint16(uchar(bytes[0]) << 8 | uchar(bytes[1]));
    return NoCode;
}
