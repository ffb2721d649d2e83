#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <iconv.h>

// Converts between the program's text and code page 936 (GBK), the Chinese ANSI code page of
// the library file and of file names made on old Windows computers. Keeps one converter in each
// direction, so a whole library is converted without opening one per field.
class Cp936Codec final
{
    Q_DISABLE_COPY_MOVE(Cp936Codec)

public:
    Cp936Codec();
    ~Cp936Codec();

    // A character with no form in code page 936 is written as "?". When unencodable is given,
    // it receives the first such character (empty when there is none).
    QByteArray encode(QStringView text, QString *unencodable = nullptr);

    // Bytes that do not form a code page 936 character read as U+FFFD; NUL bytes read as spaces,
    // so a file made by another program shows what can be shown.
    QString decode(QByteArrayView bytes);

private:
    iconv_t m_encoder;
    iconv_t m_decoder;
};

// The first character of text that has no form in code page 936, or the empty text.
QString firstUnencodableCharacter(QStringView text);
