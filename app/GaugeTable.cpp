#include "GaugeTable.h"

#include <QHeaderView>

namespace vg57 {

TGaugeTable::TGaugeTable(QWidget* parent) : QTableWidget(0, 4, parent) {
    setObjectName(QStringLiteral("GaugeTable"));
    setHorizontalHeaderLabels({QStringLiteral("Адрес"), QStringLiteral("Давление"),
                               QStringLiteral("Возраст"), QStringLiteral("Состояние")});
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    horizontalHeader()->setStretchLastSection(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
}

void TGaugeTable::SetRows(const std::vector<TGaugeRow>& rows) {
    setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < rowCount(); ++r) {
        const TGaugeRow& row = rows[static_cast<std::size_t>(r)];
        const std::string* cells[] = {&row.address, &row.pressure, &row.age, &row.state};
        for (int c = 0; c < 4; ++c) {
            QTableWidgetItem* cell = item(r, c);
            if (!cell) setItem(r, c, cell = new QTableWidgetItem);
            cell->setText(QString::fromStdString(*cells[c]));
            cell->setForeground(row.grey ? QBrush(Qt::gray) : palette().text());
        }
    }
}

} // namespace vg57
