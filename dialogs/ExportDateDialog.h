// The date that readings kept as times of day are exported with (a loaded file whose name
// carries no date).
#pragma once

#include <QDate>
#include <QDialog>

class QDateEdit;

namespace vg57 {

class TExportDateDialog : public QDialog {
    Q_OBJECT
public:
    // `proposed`: the file's modification date.
    explicit TExportDateDialog(const QDate& proposed, QWidget* parent = nullptr);
    QDate Date() const;
    QDateEdit* DateEdit() const { return edit_; }

private:
    QDateEdit* edit_;
};

} // namespace vg57
