// Reading an archive back: bytes in any chunks, cut into lines (LF, with or without CR), each
// line judged and the accepted readings collected with their time span. Plain C++ without Qt
// or files, so that tests and the fuzz target push bytes straight in.
#pragma once

#include "ArchiveFormat.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace vg57 {

enum class EPressureUnit : std::uint8_t;

// What files give the chart: the readings in file order (the chart sorts them) and the span.
struct TArchiveData {
    // Past this many different unit codes, the further ones share the index kUnitCodesMax, which
    // names no code.
    static constexpr std::size_t kUnitCodesMax = 100;
    std::vector<double> times, pressures;
    std::vector<std::uint8_t> units;    // per reading, an index into unitCodes
    std::vector<std::string> unitCodes; // each code once, in order of first appearance
    // Start values kept when no line is accepted; the chart's axis rules order them.
    double tmin = -1e-9, tmax = -1.0;
    std::size_t lines = 0; // lines seen, accepted or not
    std::size_t Skipped() const { return lines - times.size(); }
};

// Each reading's unit by name: the analysis and the export know only the three units.
std::vector<EPressureUnit> ReadingUnits(const TArchiveData& data);

class TArchiveReader {
public:
    // A reader that appends to readings read before (several files in a row).
    explicit TArchiveReader(TArchiveData data = {}) : data_(std::move(data)) {}

    // A dated file: its first time of day goes on the day that puts it nearest this date-time
    // (its name's), and the midnight rule carries on from there. Without it, day 0.
    void StartAt(double dateTime);
    // At most this many readings in data_ (with those read before); one more sets OverLimit
    // and the rest is ignored, so that a huge load costs no more memory before it is refused.
    void Limit(std::size_t readings) { limit_ = readings; }
    bool OverLimit() const { return overLimit_; }

    // Any split of the bytes gives the same result. Memory per line is bounded: only the first
    // kArchiveLineExamined characters of a line can matter, and only those are kept.
    void Feed(std::string_view bytes);
    // Room for about this many readings (a hint from the file's size).
    void Reserve(std::size_t readings);
    // The end of the file: a last line without LF counts.
    void Finish();

    const TArchiveData& Data() const { return data_; }
    // This reader's own accepted readings and their span (not those read before).
    std::size_t Accepted() const { return accepted_; }
    double First() const { return first_; }
    double Last() const { return last_; }
    TArchiveData Take() { return std::move(data_); }
    // Bytes held for a line cut by a chunk boundary; never more than kArchiveLineExamined.
    std::size_t Pending() const { return pending_.size(); }

private:
    void Line(std::string_view line);
    std::uint8_t UnitIndex(std::string_view code);
    TArchiveData data_;
    std::size_t limit_ = std::numeric_limits<std::size_t>::max();
    bool overLimit_ = false;
    std::size_t accepted_ = 0;
    double first_ = 0, last_ = 0;
    bool anchored_ = false;
    double anchor_ = 0;
    std::uint8_t lastUnit_ = 0; // the usual case: every line repeats the code before
    std::string pending_;
    bool inLine_ = false; // pending_ holds the start of an unfinished line
    // Runs across midnight: a time of day goes on the day that puts it nearest the previous
    // accepted one, so more than 12 hours back is the next day and more than 12 ahead the one
    // before.
    double dayOffset_ = 0;
    double baseOffset_ = 0; // the first line's day
    double previous_ = 0;
    bool havePrevious_ = false;
};

} // namespace vg57
