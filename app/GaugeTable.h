// The compact table of every gauge's state (GaugeRow per gauge): shown only while more than
// one gauge is configured.
#pragma once

#include "GaugeStates.h"

#include <QTableWidget>

namespace vg57 {

class TGaugeTable : public QTableWidget {
    Q_OBJECT
public:
    explicit TGaugeTable(QWidget* parent = nullptr);
    void SetRows(const std::vector<TGaugeRow>& rows);
};

} // namespace vg57
