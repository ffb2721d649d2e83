#include "Dialogs.h"

#include "ApplicationInfo.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace Dialogs {

void information(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(ApplicationInfo::Title), text,
                    QMessageBox::Ok, parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
}

bool askYesNo(QWidget *parent, const QString &question, SafeAnswer safe)
{
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(ApplicationInfo::Title), question,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    box.setDefaultButton(safe == SafeAnswer::Yes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString inputBox(QWidget *parent, const QString &prompt, const QString &defaultText)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QString::fromUtf8(ApplicationInfo::Title));
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    dialog.setOkButtonText(QStringLiteral("确定"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

} // namespace Dialogs
