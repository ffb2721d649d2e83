#include "Cp936Codec.h"

#include <QSysInfo>
#include <QVarLengthArray>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr char CodePage[] = "CP936";
constexpr const char *Utf16 =
    (QSysInfo::ByteOrder == QSysInfo::LittleEndian) ? "UTF-16LE" : "UTF-16BE";
constexpr auto ConversionFailed = static_cast<size_t>(-1);

iconv_t openConverter(const char *to, const char *from)
{
    const iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        qFatal("The C library cannot convert from %s to %s", from, to);
    return converter;
}

} // namespace

Cp936Codec::Cp936Codec()
    : m_encoder(openConverter(CodePage, Utf16))
    , m_decoder(openConverter(Utf16, CodePage))
{
}

Cp936Codec::~Cp936Codec()
{
    iconv_close(m_encoder);
    iconv_close(m_decoder);
}

QByteArray Cp936Codec::encode(QStringView text, QString *unencodable)
{
    if (unencodable)
        unencodable->clear();
    // Every UTF-16 unit becomes at most two bytes.
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    auto *in = reinterpret_cast<char *>(const_cast<char16_t *>(text.utf16()));
    size_t inLeft = size_t(text.size()) * 2;
    char *outNext = out.data();
    size_t outLeft = size_t(out.size());

    iconv(m_encoder, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0 && iconv(m_encoder, &in, &inLeft, &outNext, &outLeft) == ConversionFailed) {
        // The character at `in` has no form in the code page (EILSEQ), or is half a
        // surrogate pair at the end of the text (EINVAL): it becomes one "?".
        const qsizetype at = text.size() - qsizetype(inLeft / 2);
        const bool pair =
            at + 1 < text.size() && text[at].isHighSurrogate() && text[at + 1].isLowSurrogate();
        const qsizetype width = pair ? 2 : 1;
        if (unencodable && unencodable->isEmpty())
            *unencodable = text.sliced(at, width).toString();
        *outNext++ = '?';
        --outLeft;
        in += width * 2;
        inLeft -= size_t(width) * 2;
    }
    out.truncate(outNext - out.data());
    return out;
}

QString Cp936Codec::decode(QByteArrayView bytes)
{
    QVarLengthArray<char, 128> buffer(bytes.begin(), bytes.end());
    std::replace(buffer.begin(), buffer.end(), '\0', ' ');

    // Every byte becomes at most one UTF-16 unit.
    QString out(bytes.size(), Qt::Uninitialized);
    char *in = buffer.data();
    size_t inLeft = size_t(buffer.size());
    auto *outNext = reinterpret_cast<char *>(out.data());
    size_t outLeft = size_t(out.size()) * 2;

    iconv(m_decoder, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0 && iconv(m_decoder, &in, &inLeft, &outNext, &outLeft) == ConversionFailed) {
        // The byte at `in` starts no character (EILSEQ), or a character cut off at the end
        // (EINVAL): it reads as the replacement character and reading goes on after it.
        const char16_t replacement = QChar::ReplacementCharacter;
        std::memcpy(outNext, &replacement, sizeof replacement);
        outNext += sizeof replacement;
        outLeft -= sizeof replacement;
        ++in;
        --inLeft;
    }
    out.truncate(qsizetype(reinterpret_cast<QChar *>(outNext) - out.data()));
    return out;
}

QString firstUnencodableCharacter(QStringView text)
{
    Cp936Codec codec;
    QString unencodable;
    codec.encode(text, &unencodable);
    return unencodable;
}
