// Feeds the archive reader arbitrary bytes (NULs, lone CRs, lines of any length) in arbitrary
// pieces, each piece in a heap block of its exact size so that a read past it is caught. Checks
// that the reader holds no more than a bounded prefix of a line, and that it accepts exactly
// the readings that judging each whole line on its own gives: keeping only the prefix never
// changes a verdict. The pressure is checked against the general number parse. Input layout: the
// first byte seeds the piece sizes; the rest is the file.
#include "ArchiveReader.h"
#include "NumberFormat.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// A copy of the bytes in a block of exactly their size.
std::unique_ptr<char[]> Exact(std::string_view bytes) {
    auto block = std::make_unique<char[]>(bytes.size());
    if (!bytes.empty()) std::memcpy(block.get(), bytes.data(), bytes.size());
    return block;
}

// The pressure field follows the general number rules: accepted exactly when ParseNumber
// accepts it (away from the edge of a double) and the line is otherwise whole, and to within a
// rounding of its value.
void CheckPressureAgainstGeneralRules(std::string_view line,
                                      const std::optional<vg57::TArchiveReading>& reading) {
    const std::size_t p1 = line.find(' ');
    if (p1 == std::string_view::npos || !vg57::ParseArchiveTime(line.substr(0, p1))) return;
    const std::string_view window = line.substr(p1 + 1, vg57::kArchivePressureWindow);
    const std::size_t p2 = window.find(' ');
    if (p2 == std::string_view::npos) return;
    const auto general = vg57::ParseNumber(window.substr(0, p2));
    if (!general) {
        if (reading) std::abort();
        return;
    }
    // Refused whatever the number: a negative pressure (the gauge gives none), and a unit code of
    // neither four characters nor none (a line cut short).
    const std::string_view rest = line.substr(p1 + 1 + p2 + 1);
    const std::size_t unit = std::min(rest.find_first_of(" \r"), rest.size());
    if (*general < 0 || (unit != 0 && unit != 4)) {
        if (reading) std::abort();
        return;
    }
    if (std::fabs(*general) >= 1e300L) return;
    if (!reading) std::abort();
    const long double diff = std::fabs(*general - static_cast<long double>(reading->pressure));
    if (diff > std::fabs(*general) * 0x1p-51L + 0x1p-1070L) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::uint32_t seed = data[0] * 2654435761u + 1;
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);

    vg57::TArchiveReader reader;
    for (std::size_t at = 0; at < file.size();) {
        seed = seed * 1103515245u + 12345u;
        // Mostly short pieces, sometimes the rest of the input.
        const std::size_t want = (seed >> 16) % 8 == 0 ? file.size() : 1 + (seed >> 16) % 300;
        const std::size_t n = std::min(want, file.size() - at);
        const auto piece = Exact(file.substr(at, n));
        reader.Feed({piece.get(), n});
        if (reader.Pending() > vg57::kArchiveLineExamined) std::abort();
        at += n;
    }
    reader.Finish();
    const vg57::TArchiveData& got = reader.Data();

    // Each whole line judged alone.
    std::size_t accepted = 0, lines = 0;
    double previousOffset = 0;
    for (std::size_t start = 0; start <= file.size(); ++lines) {
        std::size_t end = file.find('\n', start);
        if (end == std::string_view::npos) {
            if (start == file.size()) break; // no unfinished last line
            end = file.size();
        }
        const auto line = Exact(file.substr(start, end - start));
        const std::string_view whole(line.get(), end - start);
        const auto reading = vg57::ParseArchiveLine(whole);
        start = end + 1;
        CheckPressureAgainstGeneralRules(whole, reading);
        if (!reading) continue;
        if (accepted >= got.times.size()) std::abort();
        if (got.pressures[accepted] != reading->pressure) std::abort();
        const std::uint8_t unit = got.units[accepted];
        if (unit < got.unitCodes.size() && got.unitCodes[unit] != reading->unitCode) std::abort();
        const double t = got.times[accepted];
        if (t < got.tmin || t > got.tmax) std::abort();
        if (reading->time.hasDate) {
            if (t != reading->time.value) std::abort();
        } else {
            // A time of day moved by whole days, never before the first, at most one day a line.
            const double offset = t - reading->time.value;
            if (std::fabs(offset - std::round(offset)) > 1e-6) std::abort();
            if (std::round(offset) < 0 || std::fabs(std::round(offset) - previousOffset) > 1)
                std::abort();
            previousOffset = std::round(offset);
        }
        ++accepted;
    }
    if (accepted != got.times.size() || lines != got.lines) std::abort();
    return 0;
}
