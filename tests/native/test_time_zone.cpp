// The time-zone guard and window on the simulated machine's zone.
#include "machine.h"
#include "base/program.h"
#include "window/status_line.h"
#include "dialogs/time_zone_window.h"
#include "resources/pendulark_ids.h"
#include "store/directories.h"
#include "store/settings_store.h"

namespace {

HWND const window = (HWND)0x4D41;
HWND const dialog = (HWND)0x7A;

void put_name(WCHAR (&field)[32], const char* name) {
    for (int i = 0; i < 32; i++) field[i] = 0;
    for (int i = 0; name[i] && i < 31; i++) field[i] = (WCHAR)name[i];
}

SYSTEMTIME rule(WORD month, WORD weekday, WORD week, WORD hour) {
    return SYSTEMTIME{0, month, weekday, week, hour, 0, 0, 0};
}

// Eastern time of the United States: second Sunday of March, first of November.
TIME_ZONE_INFORMATION eastern() {
    TIME_ZONE_INFORMATION zone{};
    zone.Bias = 300;
    put_name(zone.StandardName, "Eastern Standard Time");
    put_name(zone.DaylightName, "Eastern Daylight Time");
    zone.StandardDate = rule(11, 0, 1, 2);
    zone.DaylightDate = rule(3, 0, 2, 2);
    zone.DaylightBias = -60;
    return zone;
}

class TimeZone : public Machine {
protected:
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        reset_settings();
        os_test_set_utc(2026, 12, 7, 12, 0, 0);
        os_test_set_zone(eastern(), TIME_ZONE_ID_STANDARD);
        os_test_set_machine_value("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones\\Eastern Standard Time",
                                  "Display", "(UTC-05:00) Eastern Time (US & Canada)");
        check_time_zone(window);
    }
    std::string text(int control) { return os_test_control_text(dialog, control); }
    std::string log() { return exists("dLog.txt") ? read("dLog.txt").substr(24) : ""; }
    // Another program moves the zone, then the guard runs.
    void zone_changes_to(LONG bias) {
        TIME_ZONE_INFORMATION other = eastern();
        other.Bias = bias;
        put_name(other.StandardName, "Other Standard Time");
        os_test_set_zone(other, TIME_ZONE_ID_STANDARD);
        check_time_zone(window);
    }
};

TEST_F(TimeZone, GuardShowsTheZoneInTheTitleAndFindsItsDisplayName) {
    EXPECT_EQ(os_test_window_text(window), "Pendulark " PROGRAM_VERSION_TEXT " - Eastern Standard Time");
    EXPECT_STREQ(time_zone_display_name, "(UTC-05:00) Eastern Time (US & Canada)");
    // The name travels in the settings image.
    EXPECT_STREQ(settings.time_zone_display_name, "(UTC-05:00) Eastern Time (US & Canada)");
    os_test_set_zone(eastern(), TIME_ZONE_ID_DAYLIGHT);
    check_time_zone(window);
    EXPECT_EQ(os_test_window_text(window), "Pendulark " PROGRAM_VERSION_TEXT " - Eastern Daylight Time");
    EXPECT_EQ(time_zone_in_daylight, 1u);
    // No transitions at all, as Wine answers under UTC: standard time.
    os_test_set_zone(eastern(), TIME_ZONE_ID_UNKNOWN);
    check_time_zone(window);
    EXPECT_EQ(time_zone_in_daylight, 0u);
    EXPECT_EQ(os_test_window_text(window), "Pendulark " PROGRAM_VERSION_TEXT " - Eastern Standard Time");
}

// Localised Windows names the zone in its own language; the key stays English.
TEST_F(TimeZone, TheDisplayNameComesByTheKeyAndIsNeverTheLastZones) {
    const char* const eastern_display = "(UTC-05:00) Eastern Time (US & Canada)";
    const struct {
        const char* key;
        const char* standard_name;
        const char* display;
    } cases[] = {
        {"Eastern Standard Time", "Hora estandar del Este", eastern_display},  // by the key
        {"", "Eastern Standard Time", eastern_display},                        // XP: by the standard name
        {"Nowhere Standard Time", "Eastern Standard Time", eastern_display},   // a key without its entry
        {"Nowhere Standard Time", "Nowhere Standard Time", ""},                // no name, not Eastern's
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.standard_name);
        TIME_ZONE_INFORMATION zone = eastern();
        put_name(zone.StandardName, c.standard_name);
        os_test_set_zone(zone, TIME_ZONE_ID_STANDARD);
        os_test_set_zone_key(c.key);
        check_time_zone(window);
        EXPECT_STREQ(time_zone_display_name, c.display);
        EXPECT_STREQ(settings.time_zone_display_name, c.display);
    }
}

TEST_F(TimeZone, LockedZoneIsRestoredWhenItsBiasChanges) {
    settings.time_zone_locked = 1;
    settings.log_level = 3;
    zone_changes_to(-60);
    EXPECT_EQ(os_test_zone().Bias, 300);
    EXPECT_EQ(settings.saved_time_zone.Bias, 300);
    EXPECT_EQ(os_test_setting_change_broadcasts(), 1);
    EXPECT_NE(log().find(" : Time Zone Restored\r\n"), std::string::npos);

    // The same bias with other rules: nothing to restore, the new zone is adopted.
    zone_changes_to(300);
    EXPECT_EQ(os_test_set_zone_calls(), 1);
    EXPECT_EQ(os_test_window_text(window), "Pendulark " PROGRAM_VERSION_TEXT " - Other Standard Time");
}

TEST_F(TimeZone, RestoreLogsOnlyAtErrorLevelsAndARefusalIsLoggedAndAdopted) {
    settings.time_zone_locked = 1;
    settings.log_level = 2;
    zone_changes_to(-60);
    EXPECT_EQ(os_test_zone().Bias, 300);
    EXPECT_EQ(log(), "");

    settings.log_level = 1;
    os_test_allow_set_zone(false);
    zone_changes_to(-120);
    EXPECT_EQ(settings.saved_time_zone.Bias, -120);
    EXPECT_EQ(os_test_setting_change_broadcasts(), 1);
    EXPECT_NE(log().find(" : Time Zone Restore Failed (privilege not held)\r\n"), std::string::npos);
}

TEST_F(TimeZone, UnlockedZoneIsAlwaysAdopted) {
    zone_changes_to(-60);
    EXPECT_EQ(os_test_set_zone_calls(), 0);
    EXPECT_EQ(settings.saved_time_zone.Bias, -60);
}

TEST_F(TimeZone, BiasTexts) {
    struct { int32_t minutes; const char* text; } cases[] = {
        {0, "None"}, {600, "+ 10 Hrs"}, {60, "+ 1 Hr"}, {-60, "- 1 Hr"}, {570, "+ 9 Hrs 30 Mns"},
        {-330, "- 5 Hrs 30 Mns"}, {61, "+ 1 Hr 1 Mn"}, {30, "+  30 Mns"},
    };
    for (auto& c : cases) {
        format_bias(dialog, IDT_ZONE_BIAS, c.minutes);
        EXPECT_EQ(text(IDT_ZONE_BIAS), c.text) << c.minutes;
    }
}

TEST_F(TimeZone, TransitionDatesFromTheirRules) {
    struct { int year, month; SYSTEMTIME rule; const char* text; } cases[] = {
        {2006, 1, rule(10, 0, 5, 2), "2:00:00 AM 10/29/2006"},  // last Sunday of October, from the 25th
        {2004, 1, rule(2, 0, 5, 3), "3:00:00 AM 2/29/2004"},    // from the 23rd; the 22nd is a Sunday too
        {2010, 1, rule(3, 0, 2, 2), "2:00:00 AM 3/14/2010"},    // the 7th is the first Sunday
        {2010, 5, rule(3, 0, 2, 2), "2:00:00 AM 3/13/2011"},    // its month has passed: next year
        {2010, 5, SYSTEMTIME{2012, 4, 0, 1, 1, 30, 0, 0}, "1:30:00 AM 4/1/2012"},
    };
    for (auto& c : cases) {
        os_test_set_utc(c.year, c.month, 10, 12, 0, 0);
        EXPECT_EQ(format_transition_date(dialog, IDT_ZONE_DAYLIGHT_DATE, c.rule), 0);
        EXPECT_EQ(text(IDT_ZONE_DAYLIGHT_DATE), c.text);
    }
    // No rule, and rules no calendar can meet: "None", and the search never runs.
    for (SYSTEMTIME none : {SYSTEMTIME{}, rule(3, 7, 2, 2), rule(3, 0, 6, 2), rule(3, 0, 0, 2), rule(13, 0, 1, 2)}) {
        EXPECT_EQ(format_transition_date(dialog, IDT_ZONE_DAYLIGHT_DATE, none), 1);
        EXPECT_EQ(text(IDT_ZONE_DAYLIGHT_DATE), "None");
    }
}

TEST_F(TimeZone, WindowShowsTheZoneAndOkStoresTheLock) {
    os_test_set_utc(2026, 12, 7, 12, 0, 0);
    init_time_zone_window(dialog);
    EXPECT_EQ(text(IDT_ZONE_NAME), "(UTC-05:00) Eastern Time (US & Canada)");
    EXPECT_EQ(text(IDT_ZONE_PHASE), "Standard");
    EXPECT_EQ(text(IDT_ZONE_BIAS), "- 5 Hrs");
    EXPECT_EQ(text(IDT_ZONE_STANDARD_NAME), "Eastern Standard Time");
    EXPECT_EQ(text(IDT_ZONE_STANDARD_DATE), "2:00:00 AM 11/7/2027");  // November has passed
    EXPECT_EQ(text(IDT_ZONE_STANDARD_BIAS), "None");  // StandardBias 0
    EXPECT_EQ(text(IDT_ZONE_DAYLIGHT_DATE), "2:00:00 AM 3/14/2027");
    EXPECT_EQ(text(IDT_ZONE_DAYLIGHT_BIAS), "- 1 Hr");
    EXPECT_EQ(os_test_tooltip(dialog, IDX_ZONE_LOCK), "Ensure that the Time Zone settings are not changed");
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDX_ZONE_LOCK), BST_UNCHECKED);

    on_time_zone_command(dialog, IDCANCEL);  // Esc closes nothing and stores nothing
    CheckDlgButton(dialog, IDX_ZONE_LOCK, BST_CHECKED);
    EXPECT_EQ(settings.time_zone_locked, 0u);
    on_time_zone_command(dialog, IDB_ZONE_HELP);
    EXPECT_EQ(os_test_shell_opened(), os_test_windows_path(dir + "ReadMe.htm"));
    on_time_zone_command(dialog, IDOK);
    EXPECT_EQ(settings.time_zone_locked, 1u);
    // Kept at once, and the window's tool goes with it.
    EXPECT_EQ(read("dSync.dat").substr(8 + 348, 4), std::string("\1\0\0\0", 4));
    EXPECT_EQ(os_test_tooltip(dialog, IDX_ZONE_LOCK), "");
}

TEST_F(TimeZone, TheTimeZoneButtonRunsTheGuardThenOpensTheWindow) {
    main_window = window;
    zone_changes_to(-60);
    show_time_zone_window(window);
    EXPECT_EQ(os_test_dialogs_shown(), std::vector<int>{IDD_TIME_ZONE});
    EXPECT_EQ(settings.saved_time_zone.Bias, -60);
}

}  // namespace
