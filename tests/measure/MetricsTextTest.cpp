// The exposition against the text format's rules, and the operator's labels.
#include "MetricsText.h"
#include "Staleness.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

using namespace vg57;

namespace {

struct TParsed {
    std::map<std::string, std::string> types;   // family -> type, from its # TYPE line
    std::map<std::string, std::string> samples; // full sample name with labels -> value
    std::vector<std::string> faults;
};

// Reads the exposition as a scraper would, noting what breaks the format's rules: a sample
// before its family's # TYPE, a family declared twice or without # HELP, a bad line.
TParsed Parse(const std::string& text) {
    TParsed out;
    std::set<std::string> helped;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string first, name, rest;
        words >> first;
        if (first == "#") {
            words >> rest >> name;
            if (rest == "HELP") helped.insert(name);
            if (rest != "TYPE") continue;
            std::string type;
            words >> type;
            if (out.types.count(name)) out.faults.push_back("declared twice: " + name);
            if (!helped.count(name)) out.faults.push_back("no HELP before TYPE: " + name);
            out.types[name] = type;
            continue;
        }
        const std::size_t space = line.rfind(' ');
        const std::string key = line.substr(0, space);
        const std::string family = key.substr(0, key.find('{'));
        if (!out.types.count(family)) out.faults.push_back("sample before TYPE: " + line);
        if (out.samples.count(key)) out.faults.push_back("sample twice: " + key);
        out.samples[key] = line.substr(space + 1);
    }
    return out;
}

TMetricsSample Measuring(double readingAgeIntervals) {
    TMetricsSample s;
    s.measuring = s.deviceUp = s.adapterPresent = s.haveReading = true;
    s.intervalSeconds = 0.5;
    s.pressurePa = 1200;
    s.readingUnixSeconds = 1.7e9;
    s.readingSteadySeconds = 100 - readingAgeIntervals * s.intervalSeconds;
    s.readings = 7;
    s.readFailures = 2;
    s.setPointsPa = {{0, 0.5, 1e-3, 5e-3, 1000, 5000}};
    s.port = "COM3";
    s.device = "/dev/ttyUSB0";
    s.address = "0";
    s.unit = "Pa";
    return s;
}

} // namespace

TEST(MetricsText, everyFamilyIsDeclaredOnceBeforeItsSamplesAndTyped) {
    const TParsed p = Parse(MetricsExposition(Measuring(1), 100, {{"system", "chamber-2"}}));
    EXPECT_TRUE(p.faults.empty()) << p.faults.front();
    const std::map<std::string, std::string> types = {
        {"vg57_pressure_pascals", "gauge"},
        {"vg57_reading_timestamp_seconds", "gauge"},
        {"vg57_measuring", "gauge"},
        {"vg57_device_up", "gauge"},
        {"vg57_readings_total", "counter"},
        {"vg57_read_failures_total", "counter"},
        {"vg57_archive_write_errors_total", "counter"},
        {"vg57_adapter_present", "gauge"},
        {"vg57_set_point_pascals", "gauge"},
        {"vg57_info", "gauge"},
    };
    EXPECT_EQ(p.types, types);
    EXPECT_EQ(p.samples.at("vg57_pressure_pascals{system=\"chamber-2\"}"), "1200");
    EXPECT_EQ(p.samples.at("vg57_readings_total{system=\"chamber-2\"}"), "7");
    // A relay that is off is exported as 0, not left out.
    EXPECT_EQ(
        p.samples.at("vg57_set_point_pascals{system=\"chamber-2\",relay=\"1\",bound=\"low\"}"),
        "0");
    EXPECT_EQ(
        p.samples.at("vg57_set_point_pascals{system=\"chamber-2\",relay=\"3\",bound=\"high\"}"),
        "5000");
    EXPECT_EQ(
        p.samples.count("vg57_info{system=\"chamber-2\",port=\"COM3\",device=\"/dev/ttyUSB0\","
                        "address=\"0\",unit=\"Pa\"}"),
        1u);
}

TEST(MetricsText, pressureIsOmittedOnceOlderThanThreePollingIntervals) {
    const struct {
        double ageIntervals;
        bool pressureShown;
    } rows[] = {{0, true}, {2.9, true}, {3.0, true}, {3.1, false}, {1000, false}};
    for (const auto& row : rows) {
        const TParsed p = Parse(MetricsExposition(Measuring(row.ageIntervals), 100, {}));
        EXPECT_TRUE(p.faults.empty()) << row.ageIntervals;
        EXPECT_EQ(p.types.count("vg57_pressure_pascals"), row.pressureShown ? 1u : 0u)
            << row.ageIntervals;
        // The time of the newest reading stays: it is what shows the staleness.
        EXPECT_EQ(p.samples.at("vg57_reading_timestamp_seconds"), "1700000000") << row.ageIntervals;
    }
}

TEST(MetricsText, stalenessIsMeasuredInTheIntervalTheLineAchieves) {
    using namespace std::chrono;
    const struct {
        std::vector<int> tickStartsMs; // each tick ends 10 ms after it starts
        double configured;
        double expected; // the interval staleness is measured in
    } rows[] = {
        {{}, 0.5, 0.5},                   // nothing achieved yet: as configured
        {{0}, 0.01, 0.01},                // one short tick: the floor holds
        {{0, 1400, 2800}, 0.5, 1.4},      // a slow gauge: its pace
        {{0, 500, 3800, 4300}, 0.5, 3.3}, // one long gap among the last few counts
        {{0, 3300, 3800, 4300, 4800, 5300, 5800, 6300, 6800, 7300, 7800}, 0.5, 0.5}, // forgotten
    };
    for (const auto& row : rows) {
        TTickPace pace;
        const steady_clock::time_point t0{};
        for (const int ms : row.tickStartsMs) {
            pace.TickStarted(t0 + hours(1) + milliseconds(ms));
            pace.TickEnded(t0 + hours(1) + milliseconds(ms + 10));
        }
        EXPECT_NEAR(StalenessInterval(row.configured, pace.AchievedSeconds()), row.expected, 1e-9)
            << row.tickStartsMs.size() << " ticks";
    }
}

TEST(MetricsText, beforeAnyReadingNeitherPressureNorItsTimeNorSetPointsAppear) {
    TMetricsSample idle;
    const TParsed p = Parse(MetricsExposition(idle, 100, {}));
    EXPECT_TRUE(p.faults.empty());
    for (const char* family :
         {"vg57_pressure_pascals", "vg57_reading_timestamp_seconds", "vg57_set_point_pascals"})
        EXPECT_EQ(p.types.count(family), 0u) << family;
    EXPECT_EQ(p.samples.at("vg57_measuring"), "0");
}

TEST(MetricsText, operatorLabelsFollowTheNameRulesAndValuesAreEscaped) {
    const struct {
        const char* text;
        bool accepted;
    } rows[] = {
        {"system=chamber-2", true},
        {"_x9=", true},
        {"a=b=c", true},
        {"9a=x", false},
        {"a-b=x", false},
        {"=x", false},
        {"novalue", false},
        {"__name__=x", false},
        {"relay=1", false},
        {"unit=Pa", false},
        {"device=x", false},
        {"system=again", false},
    };
    std::vector<TMetricLabel> labels;
    for (const auto& row : rows) {
        std::string reason;
        EXPECT_EQ(AddMetricLabel(row.text, labels, reason), row.accepted) << row.text;
        EXPECT_EQ(reason.empty(), row.accepted) << row.text;
    }
    labels = {{"site", "a\"b\\c\nd"}};
    const TParsed p = Parse(MetricsExposition(TMetricsSample{}, 0, labels));
    EXPECT_EQ(p.samples.at("vg57_measuring{site=\"a\\\"b\\\\c\\nd\"}"), "0");
}

TEST(MetricsText, severalGaugesShareEachFamilyAndTellTheirAddressBesideTheLine) {
    TMetricsSample a = Measuring(1), b = Measuring(1);
    b.address = "5";
    b.pressurePa = 3.5;
    const TParsed p = Parse(MetricsExposition({a, b}, {12, 2, 1, 0.5}, 100, {{"system", "x"}}));
    EXPECT_TRUE(p.faults.empty()) << p.faults.front();
    EXPECT_EQ(p.samples.at("vg57_pressure_pascals{system=\"x\",address=\"0\"}"), "1200");
    EXPECT_EQ(p.samples.at("vg57_pressure_pascals{system=\"x\",address=\"5\"}"), "3.5");
    EXPECT_EQ(p.samples.count("vg57_set_point_pascals{system=\"x\",address=\"5\",relay=\"3\","
                              "bound=\"high\"}"),
              1u);
    EXPECT_EQ(p.types.at("vg57_bus_resynchronisations_total"), "counter");
    EXPECT_EQ(p.samples.at("vg57_bus_exchanges_total{system=\"x\"}"), "12");
    EXPECT_EQ(p.samples.at("vg57_bus_stray_replies_total{system=\"x\"}"), "1");
    EXPECT_EQ(p.samples.at("vg57_bus_achieved_interval_seconds{system=\"x\"}"), "0.5");
}
