#include "Cp936.h"

#include <QSysInfo>

#include <array>
#include <iconv.h>

namespace {

constexpr auto ConversionFailed = static_cast<size_t>(-1);
constexpr char16_t Unknown = 0;
constexpr char16_t NoCharacter = 0xFFFF;
constexpr quint16 NoCode = 0xFFFF;
constexpr int TrailCount = 0xFE - 0x40 + 1;

bool isLeadByte(uchar byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

// The code page as the C library knows it, asked once per character and remembered: a library
// of 32,767 poems uses a few thousand different characters at most, so conversion costs a
// table lookup per character instead of a call into iconv per field.
class CodePage final
{
    Q_DISABLE_COPY_MOVE(CodePage)

public:
    static CodePage &instance()
    {
        static CodePage codePage;
        return codePage;
    }

    // The character of a two-byte code, or NoCharacter.
    char16_t pair(uchar lead, uchar trail)
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

    // The character of a single byte from 0x80 on that is not a lead byte (0x80 is the euro
    // sign in this code page), or NoCharacter.
    char16_t single(uchar byte)
    {
        char16_t &known = byte == 0x80 ? m_byte80 : m_byteFF;
        if (known == Unknown) {
            const char bytes[] = {char(byte)};
            known = toUnicode(bytes, 1);
        }
        return known;
    }

    // The code of a character of the Basic Multilingual Plane: a byte below 0x100, a lead and a
    // trail byte above, or NoCode.
    quint16 code(char16_t character)
    {
        quint16 &known = m_codes[character];
        if (known == 0)
            known = fromUnicode(character);
        return known;
    }

private:
    CodePage()
        : m_toUnicode(iconv_open(Utf16, "CP936"))
        , m_fromUnicode(iconv_open("CP936", Utf16))
    {
        if (m_toUnicode == reinterpret_cast<iconv_t>(-1) ||
            m_fromUnicode == reinterpret_cast<iconv_t>(-1))
            qFatal("The C library cannot convert code page 936");
        m_pairs.fill(Unknown);
        m_codes.fill(0);
    }

    ~CodePage()
    {
        iconv_close(m_toUnicode);
        iconv_close(m_fromUnicode);
    }

    char16_t toUnicode(const char *bytes, size_t size)
    {
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

    quint16 fromUnicode(char16_t character)
    {
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

    static constexpr const char *Utf16 =
        QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";

    iconv_t m_toUnicode;
    iconv_t m_fromUnicode;
    std::array<char16_t, 126 * TrailCount> m_pairs;
    char16_t m_byte80 = Unknown;
    char16_t m_byteFF = Unknown;
    std::array<quint16, 0x10000> m_codes;
};

} // namespace

namespace Cp936 {

QByteArray encode(QStringView text, QString *unencodable)
{
    if (unencodable)
        unencodable->clear();
    CodePage &codePage = CodePage::instance();
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    qsizetype size = 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char16_t unit = text[at].unicode();
        const quint16 code = unit < 0x80                ? unit
                             : QChar::isSurrogate(unit) ? NoCode
                                                        : codePage.code(unit);
        if (code == NoCode) {
            // One "?" for the character, also when it takes two UTF-16 units.
            const bool pair = QChar::isHighSurrogate(unit) && at + 1 < text.size() &&
                              text[at + 1].isLowSurrogate();
            if (unencodable && unencodable->isEmpty())
                *unencodable = text.sliced(at, pair ? 2 : 1).toString();
            at += pair ? 1 : 0;
            out[size++] = '?';
        } else if (code > 0xFF) {
            out[size++] = char(code >> 8);
            out[size++] = char(code & 0xFF);
        } else {
            out[size++] = char(code);
        }
    }
    out.truncate(size);
    return out;
}

qsizetype decode(QByteArrayView bytes, QChar *out, bool *clean)
{
    CodePage &codePage = CodePage::instance();
    QChar *next = out;
    bool asItStands = true;
    for (qsizetype at = 0; at < bytes.size(); ++at) {
        const auto byte = uchar(bytes[at]);
        char16_t character = byte;
        if (byte == 0) {
            character = u' ';
            asItStands = false;
        } else if (isLeadByte(byte)) {
            character =
                at + 1 < bytes.size() ? codePage.pair(byte, uchar(bytes[at + 1])) : NoCharacter;
            // A lead byte that starts no character stands for itself; the next byte is read anew.
            at += character != NoCharacter ? 1 : 0;
        } else if (byte >= 0x80) {
            character = codePage.single(byte);
        }
        if (character == NoCharacter) {
            character = QChar::ReplacementCharacter;
            asItStands = false;
        }
        *next++ = QChar(character);
    }
    if (clean)
        *clean = asItStands;
    return next - out;
}

QString decode(QByteArrayView bytes, bool *clean)
{
    QString out(bytes.size(), Qt::Uninitialized);
    out.truncate(decode(bytes, out.data(), clean));
    return out;
}

QString firstUnencodableCharacter(QStringView text)
{
    QString unencodable;
    encode(text, &unencodable);
    return unencodable;
}

} // namespace Cp936
