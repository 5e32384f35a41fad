#include "MessageBox.h"

#include <QAbstractButton>

namespace vg57 {

void ShowMessageBox(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                    const QString& text, const QString& detail) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner, kDialogFrame);
    box.setInformativeText(detail);
    box.exec();
}

bool AskYesNo(QWidget* owner, const QString& title, const QString& question) {
    QMessageBox box(QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No,
                    owner, kDialogFrame);
    // Named here rather than by Qt's translation, which may be missing: the answer must be clear.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace vg57
