#include "ArchiveReader.h"

#include "DateTime.h"
#include "PressureUnit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vg57 {

void TArchiveReader::StartAt(double dateTime) {
    anchored_ = true;
    anchor_ = dateTime;
}

void TArchiveReader::Feed(std::string_view bytes) {
    while (!bytes.empty() && !overLimit_) {
        const void* lf = std::memchr(bytes.data(), '\n', bytes.size());
        const std::size_t length =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data())
               : bytes.size();
        const std::string_view piece = bytes.substr(0, length);
        if (!lf) {
            // An unfinished line: keep what can still matter, drop the rest.
            pending_.append(piece.substr(0, kArchiveLineExamined - pending_.size()));
            inLine_ = true;
            return;
        }
        if (inLine_) {
            pending_.append(piece.substr(0, kArchiveLineExamined - pending_.size()));
            Line(pending_);
            pending_.clear();
            inLine_ = false;
        } else {
            Line(piece);
        }
        bytes.remove_prefix(length + 1);
    }
}

void TArchiveReader::Reserve(std::size_t readings) {
    data_.times.reserve(data_.times.size() + readings);
    data_.pressures.reserve(data_.pressures.size() + readings);
    data_.units.reserve(data_.units.size() + readings);
}

std::uint8_t TArchiveReader::UnitIndex(std::string_view code) {
    // A file holds one or a few codes: the last one found is the likely one.
    if (lastUnit_ < data_.unitCodes.size() && data_.unitCodes[lastUnit_] == code) return lastUnit_;
    for (std::size_t i = 0; i < data_.unitCodes.size(); ++i)
        if (data_.unitCodes[i] == code) return lastUnit_ = static_cast<std::uint8_t>(i);
    if (data_.unitCodes.size() >= TArchiveData::kUnitCodesMax) return TArchiveData::kUnitCodesMax;
    data_.unitCodes.emplace_back(code);
    return lastUnit_ = static_cast<std::uint8_t>(data_.unitCodes.size() - 1);
}

void TArchiveReader::Finish() {
    if (!inLine_ || overLimit_) return;
    Line(pending_);
    pending_.clear();
    inLine_ = false;
}

void TArchiveReader::Line(std::string_view line) {
    ++data_.lines;
    // A CR before the LF lies after everything examined, so CR LF and LF read alike.
    const auto reading = ParseArchiveLine(line.substr(0, kArchiveLineExamined));
    if (!reading) return;
    double t = reading->time.value;
    if (!reading->time.hasDate) {
        // A time of day more than 12 hours before the previous line's belongs to the next day:
        // a run across midnight. Back to the day before only when that puts the line at most
        // an hour before the previous one, after a day was added: a clock set back across
        // midnight. A long gap forward in the same run stays on its day. Times are whole
        // milliseconds: half of one keeps a step of exactly 12 hours on the same day.
        if (!havePrevious_ && anchored_) {
            // The name is taken at the first reading: whole days from here put the line nearest.
            dayOffset_ = baseOffset_ = std::round(anchor_ - t);
        } else if (havePrevious_) {
            constexpr double kHalfMs = 0.5 / 86400000.0, kHour = 1.0 / 24.0;
            const double step = t + dayOffset_ - previous_;
            if (step < -0.5 - kHalfMs)
                dayOffset_ += 1;
            else if (dayOffset_ > baseOffset_ && step - 1.0 >= -kHour - kHalfMs)
                dayOffset_ -= 1;
        }
        // Whole milliseconds, as DaysOf makes them: the sum of the day and its time would not
        // always be, and a boundary given to the millisecond would then miss the reading.
        if (dayOffset_ != 0) t = DaysOf(MsOf(t) + std::llround(dayOffset_) * kMillisecondsPerDay);
        previous_ = t;
        havePrevious_ = true;
    }
    if (data_.times.size() >= limit_) {
        overLimit_ = true;
        return;
    }
    if (data_.times.empty()) {
        data_.tmin = data_.tmax = t;
    } else {
        if (t < data_.tmin) data_.tmin = t;
        if (t > data_.tmax) data_.tmax = t;
    }
    if (accepted_++ == 0) first_ = last_ = t;
    first_ = std::min(first_, t);
    last_ = std::max(last_, t);
    data_.times.push_back(t);
    data_.pressures.push_back(reading->pressure);
    data_.units.push_back(UnitIndex(reading->unitCode));
}

std::vector<EPressureUnit> ReadingUnits(const TArchiveData& data) {
    std::vector<EPressureUnit> byCode(data.unitCodes.size());
    for (std::size_t i = 0; i < byCode.size(); ++i)
        byCode[i] = UnitOfCode(data.unitCodes[i]);
    std::vector<EPressureUnit> units(data.units.size(), EPressureUnit::unknown);
    for (std::size_t i = 0; i < units.size(); ++i)
        if (data.units[i] < byCode.size()) units[i] = byCode[data.units[i]];
    return units;
}

} // namespace vg57
