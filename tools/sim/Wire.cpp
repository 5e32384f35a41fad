#include "Wire.h"

#include <algorithm>
#include <climits>

namespace vg57sim {

std::int64_t CharacterNs(int baud, bool parity, int stopBits) {
    const int bits = 1 + 8 + (parity ? 1 : 0) + stopBits;
    return static_cast<std::int64_t>(bits) * 1'000'000'000 / std::max(baud, 1);
}

std::int64_t Wire::Send(int talker, std::int64_t startNs, const std::string& bytes) {
    auto& end = talkerEnd_[talker];
    std::int64_t at = std::max(startNs, end);
    for (char b : bytes) {
        const auto pos =
            std::upper_bound(slots_.begin() + static_cast<std::ptrdiff_t>(decided_), slots_.end(),
                             at, [](std::int64_t t, const Slot& s) { return t < s.start; });
        slots_.insert(pos, Slot{at, talker, b});
        at += charNs_;
    }
    end = at;
    return at;
}

std::vector<LineChar> Wire::Take(std::int64_t nowNs) {
    std::vector<LineChar> out;
    while (decided_ < slots_.size() && slots_[decided_].start + charNs_ <= nowNs) {
        const Slot s = slots_[decided_];
        const std::size_t i = decided_++;
        if (s.start < receiverFreeNs_) continue; // began while the receiver was busy: lost
        receiverFreeNs_ = s.start + charNs_;
        LineChar c{s.start + charNs_, s.byte, s.talker, false, s.talker == kHost};
        // Every other character on the line during this one, before or after it in order.
        auto mix = [&](const Slot& o) {
            if (o.talker == s.talker) return;
            c.garbled = true;
            c.host = c.host || o.talker == kHost;
            c.byte = static_cast<char>(c.byte ^ o.byte ^ 0x5A);
        };
        for (std::size_t j = i; j-- > 0 && slots_[j].start + charNs_ > s.start;)
            mix(slots_[j]);
        for (std::size_t j = i + 1; j < slots_.size() && slots_[j].start < s.start + charNs_; ++j)
            mix(slots_[j]);
        if (c.garbled) c.byte = static_cast<char>(c.byte | 0x80);
        out.push_back(c);
    }
    // Forget what can no longer overlap anything still to come.
    while (decided_ > 0 && slots_.front().start + 2 * charNs_ <= nowNs) {
        slots_.pop_front();
        --decided_;
    }
    return out;
}

std::int64_t Wire::NextDueNs() const {
    return decided_ < slots_.size() ? slots_[decided_].start + charNs_ : INT64_MAX;
}

std::int64_t Wire::BusyUntilNs(int talker) const {
    const auto it = talkerEnd_.find(talker);
    return it == talkerEnd_.end() ? 0 : it->second;
}

void Wire::Clear() {
    slots_.clear();
    decided_ = 0;
    talkerEnd_.clear();
}

} // namespace vg57sim
