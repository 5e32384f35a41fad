#include "ArchiveReader.h"

#include <cstring>

namespace vg57 {

void TArchiveReader::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
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
    data_.times.reserve(readings);
    data_.pressures.reserve(readings);
    data_.units.reserve(readings);
}

void TArchiveReader::Finish() {
    if (!inLine_) return;
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
        if (havePrevious_) {
            constexpr double kHalfMs = 0.5 / 86400000.0, kHour = 1.0 / 24.0;
            const double step = t + dayOffset_ - previous_;
            if (step < -0.5 - kHalfMs)
                dayOffset_ += 1;
            else if (dayOffset_ > 0 && step - 1.0 >= -kHour - kHalfMs)
                dayOffset_ -= 1;
        }
        t += dayOffset_;
        previous_ = t;
        havePrevious_ = true;
    }
    if (data_.times.empty()) {
        data_.tmin = data_.tmax = t;
    } else {
        if (t < data_.tmin) data_.tmin = t;
        if (t > data_.tmax) data_.tmax = t;
    }
    data_.times.push_back(t);
    data_.pressures.push_back(reading->pressure);
    data_.units.push_back(reading->unit);
}

} // namespace vg57
