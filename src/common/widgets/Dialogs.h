#pragma once

#include <QString>

class QWidget;

// Message boxes and the input box, built the same way for every window: titled "Kavendo",
// with Chinese button texts.
namespace Dialogs {

// An information message with a single 确定 button; returns when the user dismisses it.
void information(QWidget *parent, const QString &text);

// The answer to a question that loses nothing: the one that Enter gives.
enum class SafeAnswer { Yes, No };

// A warning with 是 and 否; true when the user answers 是.
bool askYesNo(QWidget *parent, const QString &question, SafeAnswer safe);

// Asks for a line of text; returns the empty text when the user cancels.
QString inputBox(QWidget *parent, const QString &prompt, const QString &defaultText);

} // namespace Dialogs
