// Reading an archive back: bytes in any chunks, cut into lines (LF, with or without CR), each
// line judged and the accepted readings collected with their time span. Plain C++ without Qt
// or files, so that tests and the fuzz target push bytes straight in.
#pragma once

#include "ArchiveFormat.h"

#include <string>
#include <string_view>
#include <vector>

namespace vg57 {

// What a file gives the chart: the readings in file order (the chart sorts them) and the span.
struct TArchiveData {
    std::vector<double> times, pressures;
    std::vector<EPressureUnit> units; // the unit each reading was taken in
    // Start values kept when no line is accepted; the chart's axis rules order them.
    double tmin = -1e-9, tmax = -1.0;
    std::size_t lines = 0; // lines seen, accepted or not
};

class TArchiveReader {
public:
    // Any split of the bytes gives the same result. Memory per line is bounded: only the first
    // kArchiveLineExamined characters of a line can matter, and only those are kept.
    void Feed(std::string_view bytes);
    // Room for about this many readings (a hint from the file's size).
    void Reserve(std::size_t readings);
    // The end of the file: a last line without LF counts.
    void Finish();

    const TArchiveData& Data() const { return data_; }
    TArchiveData Take() { return std::move(data_); }
    // Bytes held for a line cut by a chunk boundary; never more than kArchiveLineExamined.
    std::size_t Pending() const { return pending_.size(); }

private:
    void Line(std::string_view line);
    TArchiveData data_;
    std::string pending_;
    bool inLine_ = false; // pending_ holds the start of an unfinished line
    // Runs across midnight: a time of day goes on the day that puts it nearest the previous
    // accepted one, so more than 12 hours back is the next day and more than 12 ahead the one
    // before.
    double dayOffset_ = 0;
    double previous_ = 0;
    bool havePrevious_ = false;
};

} // namespace vg57
