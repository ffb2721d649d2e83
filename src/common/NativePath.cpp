#include "NativePath.h"

#include <QChar>
#include <QList>
#include <QStringList>

#include <iconv.h>

namespace {

constexpr char16_t EscapeBase = 0xDC00;

// Whether path[at] stands for a byte. An escaped byte cannot follow a high surrogate as its
// pair: UTF-16 pairs a high surrogate only with the low one right after it, and an escape never
// comes from such (U+20080, 𠂀, is U+D840 U+DC80).
bool isEscapedByte(QStringView path, qsizetype at)
{
    const char16_t unit = path[at].unicode();
    return unit >= EscapeBase + 0x80 && unit <= EscapeBase + 0xFF &&
           (at == 0 || !path[at - 1].isHighSurrogate());
}

bool isContinuation(uchar byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 character at bytes[at], or 0 when there is none: no
// overlong forms, no surrogates, nothing beyond U+10FFFF.
qsizetype characterLength(QByteArrayView bytes, qsizetype at, char32_t &character)
{
    const auto lead = uchar(bytes[at]);
    qsizetype length = 0;
    char32_t lowest = 0;
    if (lead < 0x80) {
        character = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        character = lead & 0x1F;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        character = lead & 0x0F;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        character = lead & 0x07;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        const auto next = uchar(bytes[at + i]);
        if (!isContinuation(next))
            return 0;
        character = character << 6 | (next & 0x3F);
    }
    if (character < lowest || character > 0x10FFFF || QChar::isSurrogate(character))
        return 0;
    return length;
}

// The bytes converted as a whole by the C library, or nothing when some of them do not convert.
std::optional<QByteArray> converted(QByteArrayView bytes, const char *from, const char *to)
{
    const iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    // Neither direction makes a character more than three times as long.
    QByteArray out(bytes.size() * 3, '\0');
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    char *next = out.data();
    size_t outLeft = size_t(out.size());
    const bool done = iconv(converter, &in, &inLeft, &next, &outLeft) != size_t(-1) &&
                      iconv(converter, nullptr, nullptr, &next, &outLeft) != size_t(-1);
    iconv_close(converter);
    if (!done || inLeft != 0)
        return std::nullopt;
    out.truncate(next - out.constData());
    return out;
}

// A name holding bytes that are no UTF-8 was most likely written by an old Windows program as a
// whole, so the whole name is read as code page 936: its bytes may happen to contain UTF-8
// characters too.
QString displayName(QStringView name)
{
    QString shown = name.toString();
    bool escapes = false;
    for (qsizetype at = 0; at < name.size(); ++at) {
        if (isEscapedByte(name, at)) {
            shown[at] = QChar::ReplacementCharacter;
            escapes = true;
        }
    }
    if (!escapes)
        return shown;
    const auto read = converted(nativePath(name), "CP936", "UTF-8");
    return read ? QString::fromUtf8(*read) : shown;
}

} // namespace

QByteArray nativePath(QStringView path)
{
    QByteArray bytes;
    bytes.reserve(path.size() * 3);
    qsizetype runStart = 0;
    for (qsizetype at = 0; at <= path.size(); ++at) {
        const bool escaped = at < path.size() && isEscapedByte(path, at);
        if (at < path.size() && !escaped)
            continue;
        bytes += path.sliced(runStart, at - runStart).toUtf8();
        if (escaped)
            bytes += char(path[at].unicode() - EscapeBase);
        runStart = at + 1;
    }
    return bytes;
}

QString pathFromNative(QByteArrayView bytes)
{
    QString path;
    path.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        char32_t character = 0;
        const qsizetype length = characterLength(bytes, at, character);
        if (length == 0) {
            path += QChar(char16_t(EscapeBase + uchar(bytes[at])));
            ++at;
            continue;
        }
        path += QStringView(QChar::fromUcs4(character));
        at += length;
    }
    return path;
}

QString displayPath(QStringView path)
{
    QStringList names;
    for (const QStringView name : path.split(u'/'))
        names << displayName(name);
    return names.join(u'/');
}

std::optional<QByteArray> codePage936Name(QStringView name)
{
    return converted(nativePath(name), "UTF-8", "CP936");
}

QString characterUnfitForFileName(QStringView name)
{
    if (name == u"." || name == u"..")
        return name.toString();
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringView(u"\\/:*?\"<>|").contains(c))
            return QString(c);
    }
    return {};
}
