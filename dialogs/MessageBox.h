// The frame every dialog and message box of the program has: a title and the close button, no
// minimise or maximise (a dialog is answered, not parked), and the message boxes built on it.
#pragma once

#include <QMessageBox>

namespace vg57 {

inline constexpr Qt::WindowFlags kDialogFrame = Qt::Dialog | Qt::CustomizeWindowHint |
                                                Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                                Qt::MSWindowsFixedSizeDialogHint;

// A message box with the text, the detail under it (may be empty) and one OK button.
void ShowMessageBox(QWidget* owner, QMessageBox::Icon icon, const QString& title,
                    const QString& text, const QString& detail = {});

// Asks with "Да" and "Нет", "Нет" being the default (Enter) and what Escape and the close
// button answer; true only for "Да".
bool AskYesNo(QWidget* owner, const QString& title, const QString& question);

} // namespace vg57
