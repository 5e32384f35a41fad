#include "MetricsText.h"

#include "Staleness.h"

#include <charconv>
#include <cmath>
#include <optional>

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

namespace {

// Every family once, with a sample per gauge; with `byAddress` each sample carries its gauge's
// address (several gauges on one line).
void Expose(TExposition& out, const std::vector<const TMetricsSample*>& gauges, bool byAddress,
            double now) {
    auto each = [&](const char* name, const char* type, const char* help, auto value) {
        bool family = false;
        for (const TMetricsSample* s : gauges) {
            const std::optional<std::string> v = value(*s);
            if (!v) continue;
            if (!family) out.Family(name, type, help);
            family = true;
            out.Sample(name, *v, byAddress ? TLabels{{"address", s->address}} : TLabels{});
        }
    };
    auto flag = [](bool on) { return std::optional<std::string>(on ? "1" : "0"); };
    each("vg57_pressure_pascals", "gauge",
         "The last pressure reading in pascals; absent when no reading is newer than three "
         "polling intervals.",
         [&](const TMetricsSample& s) {
             return !ReadingIsStale(s, now) && std::isfinite(s.pressurePa)
                        ? std::optional(Number(s.pressurePa))
                        : std::nullopt;
         });
    each("vg57_reading_timestamp_seconds", "gauge",
         "Unix time (UTC) of the newest reading; its age shows staleness.",
         [](const TMetricsSample& s) {
             return s.haveReading
                        ? std::optional(Number(s.readingUnixSeconds, std::chars_format::fixed))
                        : std::nullopt;
         });
    each("vg57_measuring", "gauge", "1 while a measurement run is on.",
         [&](const TMetricsSample& s) { return flag(s.measuring); });
    each("vg57_device_up", "gauge", "1 while the last exchange with the gauge succeeded.",
         [&](const TMetricsSample& s) { return flag(s.deviceUp); });
    each("vg57_readings_total", "counter", "Readings taken from the gauge.",
         [](const TMetricsSample& s) { return std::optional(std::to_string(s.readings)); });
    each("vg57_read_failures_total", "counter", "Readings the gauge did not give.",
         [](const TMetricsSample& s) { return std::optional(std::to_string(s.readFailures)); });
    each("vg57_archive_write_errors_total", "counter", "Readings that did not reach the archive.",
         [](const TMetricsSample& s) {
             return std::optional(std::to_string(s.archiveWriteErrors));
         });
    each("vg57_adapter_present", "gauge", "1 while the serial adapter is present.",
         [&](const TMetricsSample& s) { return flag(s.adapterPresent); });
    bool setPoints = false;
    for (const TMetricsSample* s : gauges) {
        if (!s->setPointsPa) continue;
        if (!setPoints)
            out.Family("vg57_set_point_pascals", "gauge",
                       "Relay set points in pascals, converted with the unit read with them; 0 "
                       "means the relay bound is off.");
        setPoints = true;
        for (int i = 0; i < 6; ++i) {
            const double v = (*s->setPointsPa)[static_cast<std::size_t>(i)];
            if (!std::isfinite(v)) continue;
            TLabels labels = {{"relay", std::to_string(i / 2 + 1)},
                              {"bound", i % 2 ? "high" : "low"}};
            if (byAddress) labels.insert(labels.begin(), {"address", s->address});
            out.Sample("vg57_set_point_pascals", Number(v), labels);
        }
    }
    out.Family("vg57_info", "gauge", "The gauge's port, device, address and unit.");
    for (const TMetricsSample* s : gauges)
        out.Sample(
            "vg57_info", "1",
            {{"port", s->port}, {"device", s->device}, {"address", s->address}, {"unit", s->unit}});
}

} // namespace

std::string MetricsExposition(const TMetricsSample& s, double steadyNowSeconds,
                              const std::vector<TMetricLabel>& constantLabels) {
    TExposition out(constantLabels);
    Expose(out, {&s}, false, steadyNowSeconds);
    return out.Take();
}

std::string MetricsExposition(const std::vector<TMetricsSample>& gauges, const TBusSample& bus,
                              double steadyNowSeconds,
                              const std::vector<TMetricLabel>& constantLabels) {
    TExposition out(constantLabels);
    std::vector<const TMetricsSample*> all;
    for (const TMetricsSample& s : gauges)
        all.push_back(&s);
    Expose(out, all, true, steadyNowSeconds);
    out.Counter("vg57_bus_exchanges_total", "Requests written on the line, sentinels included.",
                bus.exchanges);
    out.Counter("vg57_bus_resynchronisations_total",
                "Times a gauge's owed replies were put behind a sentinel's reply or a quiet line.",
                bus.resyncs);
    out.Counter("vg57_bus_stray_replies_total",
                "Replies from another address than the gauge asked, dropped.", bus.strays);
    if (bus.achievedIntervalSeconds > 0)
        out.Gauge("vg57_bus_achieved_interval_seconds",
                  "The slowest answering gauge's interval between readings.",
                  bus.achievedIntervalSeconds);
    return out.Take();
}

std::string FormatMetricLabels(const std::vector<TMetricLabel>& labels) {
    std::string out;
    for (const TMetricLabel& l : labels)
        out += (out.empty() ? "{" : ",") + l.name + "=\"" + EscapeLabelValue(l.value) + '"';
    return out.empty() ? out : out + '}';
}

} // namespace vg57
