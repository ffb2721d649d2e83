#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>

#include <iconv.h>

// Conversion between the program's text and code page 936 (GBK), the Chinese ANSI code page of
// the library file, through the C library's converter. Each character is asked of the converter
// once and remembered: a library of 32,767 poems uses a few thousand different characters at
// most, so its owner (a window's copy of the library, shared by its records) converts at the
// cost of a table lookup per character. For one thread at a time.
class CodePage936 final
{
    Q_DISABLE_COPY_MOVE(CodePage936)

public:
    // converterName is the code page as iconv knows it.
    explicit CodePage936(const char *converterName = "CP936");
    ~CodePage936();

    // Whether the C library can convert the code page. Without it only ASCII converts: other
    // characters encode as "?" and other bytes decode as U+FFFD.
    bool isAvailable() const;

    // A character with no form in code page 936 is written as "?". When unencodable is given, it
    // receives the first such character (empty when there is none).
    QByteArray encode(QStringView text, QString *unencodable = nullptr) const;

    // Bytes that do not form a code page 936 character read as U+FFFD; NUL bytes read as spaces,
    // so a file made by another program shows what can be shown.
    QString decode(QByteArrayView bytes) const;

private:
    static constexpr int TrailCount = 0xFE - 0x40 + 1;

    char16_t pair(uchar lead, uchar trail) const;
    char16_t single(uchar byte) const;
    quint16 code(char16_t character) const;
    char16_t toUnicode(const char *bytes, size_t size) const;
    quint16 fromUnicode(char16_t character) const;

    iconv_t m_toUnicode;
    iconv_t m_fromUnicode;
    // What the converter said, filled in as characters are first met.
    mutable std::array<char16_t, 126 * TrailCount> m_pairs;
    mutable char16_t m_byte80;
    mutable char16_t m_byteFF;
    mutable std::array<quint16, 0x10000> m_codes;
};

// Whether byte starts a two-byte character.
constexpr bool isLeadByte(uchar byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}
