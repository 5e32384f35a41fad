// vg57: monitors and controls a VG-57 wide-range vacuum gauge over RS-485.
#include "ChartArea.h"
#include "DateTime.h"
#include "EventLoop.h"
#include "PortChooserDialog.h"

#include <QApplication>
#include <QLocale>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Every number is written and read with '.', whatever the regional settings say.
    QLocale::setDefault(QLocale::c());
    QApplication::setApplicationName(QStringLiteral("Программа управления прибором Baromax VG-57"));
    vg57::platform::InstallEventWatch();
    vg57::InstallPortChooser();

    // The main window is still to come: for now it hosts the chart with its sliders.
    vg57::TChartModel chart(vg57::CurrentDateTime());
    chart.FormCreate(vg57::CurrentDateTime());
    QMainWindow window;
    window.setWindowTitle(QApplication::applicationName());
    auto* area = new vg57::TChartArea(chart, &window);
    window.setCentralWidget(area);
    window.resize(vg57::TChartArea::kDesignWidth, vg57::TChartArea::kDesignHeight);
    window.show();
    return app.exec();
}
