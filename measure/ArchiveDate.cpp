#include "ArchiveDate.h"

#include "ArchiveFormat.h"
#include "DateTime.h"

namespace vg57 {

std::optional<double> DateOfArchiveName(std::string_view path) {
    // A gauge's file from a line of several carries its address; the date is the same.
    const std::string plain = ArchiveNameWithoutAddress(path);
    const std::string_view name = std::string_view(plain).substr(plain.find_last_of('/') + 1);
    constexpr std::string_view form = "dddd_dd_dd dd_dd_dd.txt";
    if (name.size() != form.size()) return std::nullopt;
    for (std::size_t i = 0; i < form.size(); ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (form[i] == 'd' ? !digit : name[i] != form[i]) return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t n) {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i)
            v = v * 10 + (name[i] - '0');
        return v;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
        (month == 2 && day == 29 && !leap))
        return std::nullopt;
    return MakeDateTime(year, month, day);
}

} // namespace vg57
