#include "MetricsText.h"

#include "Staleness.h"

#include <charconv>
#include <cmath>

namespace vg57 {

namespace {

// Our own label names: an operator's label of the same name would make a sample ambiguous.
constexpr std::string_view kOwnLabels[] = {"relay",   "bound", "port",   "device",
                                           "address", "unit",  "version"};

bool IsLabelName(std::string_view name) {
    if (name.empty()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
    }
    return true;
}

std::string EscapeLabelValue(std::string_view value) {
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

// The shortest text that reads back as the same double, with '.' whatever the locale.
std::string Number(double v, std::chars_format format = std::chars_format::general) {
    char buf[400]; // a fixed-format double may need over 300 digits
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v, format).ptr);
}

using TLabels = std::vector<TMetricLabel>;

class TExposition {
public:
    explicit TExposition(const TLabels& constant) : constant_(constant) {}

    void Family(const char* name, const char* type, const char* help) {
        text_ +=
            std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void Sample(const char* name, const std::string& value, const TLabels& own = {}) {
        text_ += name;
        bool first = true;
        for (const TLabels* list : {&constant_, &own})
            for (const TMetricLabel& l : *list) {
                text_ += first ? '{' : ',';
                first = false;
                text_ += l.name + "=\"" + EscapeLabelValue(l.value) + '"';
            }
        if (!first) text_ += '}';
        text_ += ' ' + value + '\n';
    }
    void Gauge(const char* name, const char* help, double value,
               std::chars_format format = std::chars_format::general) {
        Family(name, "gauge", help);
        Sample(name, Number(value, format));
    }
    void Counter(const char* name, const char* help, std::uint64_t value) {
        Family(name, "counter", help);
        Sample(name, std::to_string(value));
    }
    std::string Take() { return std::move(text_); }

private:
    const TLabels& constant_;
    std::string text_;
};

} // namespace

bool AddMetricLabel(std::string_view text, std::vector<TMetricLabel>& labels, std::string& reason) {
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        reason = "метка \"" + std::string(text) + "\" должна иметь вид КЛЮЧ=ЗНАЧЕНИЕ";
        return false;
    }
    const std::string name(text.substr(0, eq));
    auto refuse = [&](const char* why) {
        reason = "имя метки \"" + name + "\" " + why;
        return false;
    };
    if (!IsLabelName(name)) return refuse("должно быть вида [a-zA-Z_][a-zA-Z0-9_]*");
    if (name.starts_with("__")) return refuse("не может начинаться с __ (имена Prometheus)");
    for (std::string_view own : kOwnLabels)
        if (name == own) return refuse("занято метриками программы");
    for (const TMetricLabel& l : labels)
        if (l.name == name) return refuse("задано дважды");
    labels.push_back({name, std::string(text.substr(eq + 1))});
    return true;
}

bool ReadingIsStale(const TMetricsSample& sample, double steadyNowSeconds) {
    return !sample.haveReading || steadyNowSeconds - sample.readingSteadySeconds >
                                      kStaleIntervals * sample.intervalSeconds;
}

std::string MetricsExposition(const TMetricsSample& s, double steadyNowSeconds,
                              const std::vector<TMetricLabel>& constantLabels) {
    TExposition out(constantLabels);
    if (!ReadingIsStale(s, steadyNowSeconds) && std::isfinite(s.pressurePa))
        out.Gauge("vg57_pressure_pascals",
                  "The last pressure reading in pascals; absent when no reading is newer than "
                  "three polling intervals.",
                  s.pressurePa);
    if (s.haveReading)
        out.Gauge("vg57_reading_timestamp_seconds",
                  "Unix time (UTC) of the newest reading; its age shows staleness.",
                  s.readingUnixSeconds, std::chars_format::fixed);
    out.Gauge("vg57_measuring", "1 while a measurement run is on.", s.measuring ? 1 : 0);
    out.Gauge("vg57_device_up", "1 while the last exchange with the gauge succeeded.",
              s.deviceUp ? 1 : 0);
    out.Counter("vg57_readings_total", "Readings taken from the gauge.", s.readings);
    out.Counter("vg57_read_failures_total", "Readings the gauge did not give.", s.readFailures);
    out.Counter("vg57_archive_write_errors_total", "Readings that did not reach the archive.",
                s.archiveWriteErrors);
    out.Gauge("vg57_adapter_present", "1 while the serial adapter is present.",
              s.adapterPresent ? 1 : 0);
    if (s.setPointsPa) {
        out.Family("vg57_set_point_pascals", "gauge",
                   "Relay set points in pascals, converted with the unit read with them; 0 means "
                   "the relay bound is off.");
        for (int i = 0; i < 6; ++i) {
            const double v = (*s.setPointsPa)[static_cast<std::size_t>(i)];
            if (!std::isfinite(v)) continue;
            out.Sample("vg57_set_point_pascals", Number(v),
                       {{"relay", std::to_string(i / 2 + 1)}, {"bound", i % 2 ? "high" : "low"}});
        }
    }
    out.Family("vg57_info", "gauge", "The gauge's port, device, address and unit.");
    out.Sample("vg57_info", "1",
               {{"port", s.port}, {"device", s.device}, {"address", s.address}, {"unit", s.unit}});
    return out.Take();
}

std::string FormatMetricLabels(const std::vector<TMetricLabel>& labels) {
    std::string out;
    for (const TMetricLabel& l : labels)
        out += (out.empty() ? "{" : ",") + l.name + "=\"" + EscapeLabelValue(l.value) + '"';
    return out.empty() ? out : out + '}';
}

} // namespace vg57
