// The readings' curves of every gauge drawn into one image kept between repaints. A live tick
// moves the time axis by a fraction of a pixel and adds readings at its end: the image then
// moves by whole pixels and only its newest columns are drawn again, so that a tick costs about
// the same with four gauges as with one. Anything else (the pressure axis, the plot's size, the
// span in view, a reading inserted before the end, a changed break, the unit, the gauges, a trim
// that reaches into view) draws the image afresh. Between fresh drawings the curves lie up to
// half a pixel off their exact place across (the image moves by whole pixels), which no eye
// tells. Exports, and screens scaled by a device pixel ratio, are drawn by the graphs themselves.
#pragma once

#include "ChartModel.h"

#include <qcustomplot.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vg57 {

class TCurveImage : public QCPLayerable {
public:
    TCurveImage(QCustomPlot* plot, const TChartModel& model);

    // The last pass drew the curves from the image: the graphs draw nothing in that pass (they
    // still hold the data, for clicks, the legend and exports).
    bool Drawn() const { return drawn_; }
    // Passes that drew every curve afresh, and passes that drew only the newest columns.
    std::size_t FullDrawings() const { return full_; }
    std::size_t PartialDrawings() const { return partial_; }

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override;
    void draw(QCPPainter* painter) override;
    QRect clipRect() const override;

private:
    // What the image was drawn for: a change of any of it draws it afresh.
    struct TFrame {
        QRect rect;
        int columns = 0; // of the slices: thinned for another width, they are redrawn
        double ylo = 0, yhi = 0, span = 0;
        bool log = false;
        std::string unit;
        std::vector<int> addresses;
        std::vector<std::uint64_t> revisions;
        // The same but for the span's rounding, which moves no pixel.
        bool Same(const TFrame& o) const;
    };
    // Per gauge, what the image holds.
    struct TDrawn {
        double firstKey = 0, lastKey = 0; // seconds; NaN when nothing was drawn
        std::vector<double> lone;         // the keys of its lone readings' dots
    };
    TFrame FrameNow() const;
    bool CanDrawPartly(const TFrame& frame, double lower, double minLast, double pxPerKey) const;
    // The earliest of every gauge's newest key drawn (or first key held, when none was drawn).
    double MinLast() const;
    // Clears the image from column `from` on and draws every gauge's entries reaching there.
    void DrawFrom(int from, double pxPerKey);
    void Scroll(int columns, double pxPerKey);
    double X(double key, double pxPerKey) const { return (key - originKey_) * pxPerKey; }

    const TChartModel& model_;
    QImage image_;
    TFrame frame_;
    std::vector<TDrawn> held_;
    double originKey_ = 0, lower_ = 0; // the key at the image's column 0; the axis's last lower
    bool valid_ = false, drawn_ = false;
    std::size_t full_ = 0, partial_ = 0;
};

} // namespace vg57
