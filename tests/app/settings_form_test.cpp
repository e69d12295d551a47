#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/settings_form.h"
#include "settings/settings.h"
#include "settings/stop_request.h"
#include "text/number_text.h"

namespace {

const char* const path = "settings_form_test.conf";

std::string readFile() {
    std::ifstream in(path, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    std::string lines;
    for (char c : text)
        if (c != '\r') lines += c;
    return lines;
}

std::string port() {
    char name[comPortSize];
    getComPort(name);
    return name;
}

class SettingsFormTest : public ::testing::Test {
  protected:
    SettingsForm form;

    void SetUp() override {
        std::remove(path);
        setDefaults();
        stopRequested = false;
        initSettingsForm(form);
    }
    void TearDown() override { std::remove(path); }

    // What a user does: the control takes the typed text through its 32-byte buffer.
    void type(int id, const char* text) {
        copyText(findFormControl(form, id)->text, formTextSize, text);
    }
    void click(int id) {
        toggleFormControl(form, id);
        applyEnablingRule(form, id);
    }
    std::string text(int id) { return findFormControl(form, id)->text; }
    bool checked(int id) { return findFormControl(form, id)->checked; }
    bool enabled(int id) { return findFormControl(form, id)->enabled; }
    void confirmAndReopen() {
        confirmSettingsForm(form, path);
        initSettingsForm(form);
    }
};

} // namespace

TEST_F(SettingsFormTest, OpensWithTheDefaultsAfterAStartWithoutFile) {
    EXPECT_EQ(text(idComPort), "COM19");
    EXPECT_EQ(text(idScreenDistance), "1.000");
    EXPECT_EQ(text(idScrollSpeed), "4");
    EXPECT_EQ(text(idMouseAveraging), "32");
    EXPECT_EQ(text(idLanAveraging), "1");
    EXPECT_EQ(text(idLanPort), "8096");
    EXPECT_TRUE(checked(idMouseEnabled));
    EXPECT_TRUE(enabled(idScreenDistance) && enabled(idScrollSpeed) && enabled(idMouseAveraging));
    // The start-up mode 2 shows preset C.
    EXPECT_TRUE(checked(idPresetC));
    EXPECT_FALSE(checked(idPresetB));
    EXPECT_TRUE(checked(idRotationOutput));
    EXPECT_FALSE(checked(idAccelerationOutput));
    // LAN off: its switch is usable, its details are not.
    EXPECT_FALSE(checked(idLanEnabled));
    EXPECT_TRUE(enabled(idLanEnabled));
    EXPECT_FALSE(enabled(idWebSocketEnabled) || enabled(idLanAveraging) || enabled(idLanPort));

    confirmSettingsForm(form, path);
    EXPECT_EQ(settings.deviceMode, 0);
    EXPECT_EQ(readFile(), "COM19\n1.000000\n4\n32\n1\n8096\n1\n0\n0\n0\n0\n");
}

TEST_F(SettingsFormTest, OpensWithPresetBMouseOffAndLanOn) {
    settings.deviceMode = 1;
    settings.mouseEnabled = 0;
    settings.lanEnabled = 1;
    settings.webSocketEnabled = 1;
    settings.accelerationOutput = 1;
    initSettingsForm(form);
    EXPECT_TRUE(checked(idPresetB));
    EXPECT_FALSE(checked(idPresetC));
    EXPECT_TRUE(checked(idAccelerationOutput));
    EXPECT_FALSE(checked(idRotationOutput));
    EXPECT_FALSE(checked(idMouseEnabled));
    EXPECT_FALSE(enabled(idScreenDistance) || enabled(idScrollSpeed) || enabled(idMouseAveraging));
    // Preset B disables the LAN controls but keeps their check states.
    EXPECT_TRUE(checked(idLanEnabled));
    EXPECT_TRUE(checked(idWebSocketEnabled));
    EXPECT_FALSE(enabled(idLanEnabled) || enabled(idWebSocketEnabled) || enabled(idLanAveraging) ||
                 enabled(idLanPort));
}

TEST_F(SettingsFormTest, LongValuesAreCutTo31Characters) {
    const std::string forty(40, 'x');
    type(idComPort, forty.c_str());
    confirmSettingsForm(form, path);
    EXPECT_EQ(port(), forty.substr(0, 31));

    // A huge distance from a hand-edited file still fits the field's buffer.
    settings.screenDistance = 1e30f;
    initSettingsForm(form);
    EXPECT_EQ(text(idScreenDistance).size(), 31u);
    confirmSettingsForm(form, path);
    EXPECT_EQ(settings.screenDistance, 10.0f);
}

TEST_F(SettingsFormTest, ScreenDistanceIsForcedIntoRange) {
    type(idScreenDistance, "0.05");
    confirmAndReopen();
    EXPECT_EQ(settings.screenDistance, 0.1f);
    EXPECT_EQ(text(idScreenDistance), "0.100");

    type(idScreenDistance, "25");
    confirmAndReopen();
    EXPECT_EQ(settings.screenDistance, 10.0f);

    type(idScreenDistance, " 2.5e0xyz");
    confirmAndReopen();
    EXPECT_EQ(settings.screenDistance, 2.5f);

    // No number: the previous value stays (and still goes through the range).
    type(idScreenDistance, "abc");
    confirmAndReopen();
    EXPECT_EQ(settings.screenDistance, 2.5f);
    EXPECT_EQ(text(idScreenDistance), "2.500");
    type(idScreenDistance, "");
    confirmAndReopen();
    EXPECT_EQ(settings.screenDistance, 2.5f);
    EXPECT_NE(readFile().find("\n2.500000\n"), std::string::npos);
}

TEST_F(SettingsFormTest, IntegersAreScannedAndForcedIntoRange) {
    struct Case {
        const char* typed;
        int32_t scroll, averaging;
    } cases[] = {
        {"0", 1, 1}, {"-3", 1, 1}, {"100", 64, 100}, {"300", 64, 255}, {"12abc", 12, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        type(idScrollSpeed, c.typed);
        type(idMouseAveraging, c.typed);
        type(idLanAveraging, c.typed);
        confirmAndReopen();
        EXPECT_EQ(settings.scrollSpeed, c.scroll);
        EXPECT_EQ(settings.mouseAveraging, c.averaging);
        EXPECT_EQ(settings.lanAveraging, c.averaging);
    }
    type(idScrollSpeed, "fast");
    type(idMouseAveraging, "-");
    type(idLanAveraging, "");
    confirmAndReopen();
    EXPECT_EQ(settings.scrollSpeed, 12);
    EXPECT_EQ(settings.mouseAveraging, 12);
    EXPECT_EQ(settings.lanAveraging, 12);

    // An out-of-range value from the file is forced into range even when untouched.
    settings.scrollSpeed = 500;
    settings.lanAveraging = 0;
    initSettingsForm(form);
    type(idScrollSpeed, "x");
    confirmSettingsForm(form, path);
    EXPECT_EQ(settings.scrollSpeed, 64);
    EXPECT_EQ(settings.lanAveraging, 1);
}

TEST_F(SettingsFormTest, LanPortIsTakenAsTyped) {
    type(idLanPort, "70000");
    confirmAndReopen();
    EXPECT_EQ(settings.lanPort, 70000);
    EXPECT_EQ(text(idLanPort), "70000");
    EXPECT_EQ(readFile(), "COM19\n1.000000\n4\n32\n1\n70000\n1\n0\n0\n0\n0\n");
    type(idLanPort, "-1");
    confirmSettingsForm(form, path);
    EXPECT_EQ(settings.lanPort, -1);
}

TEST_F(SettingsFormTest, MouseSwitchEnablesItsFields) {
    click(idMouseEnabled);
    EXPECT_FALSE(checked(idMouseEnabled));
    EXPECT_FALSE(enabled(idScreenDistance) || enabled(idScrollSpeed) || enabled(idMouseAveraging));
    // Disabling never changes a text.
    EXPECT_EQ(text(idScreenDistance), "1.000");
    click(idMouseEnabled);
    EXPECT_TRUE(enabled(idScreenDistance) && enabled(idScrollSpeed) && enabled(idMouseAveraging));
}

TEST_F(SettingsFormTest, PresetAndLanClicksFollowTheEnablingRules) {
    click(idLanEnabled);
    EXPECT_TRUE(enabled(idWebSocketEnabled) && enabled(idLanAveraging) && enabled(idLanPort));
    click(idWebSocketEnabled);
    EXPECT_TRUE(checked(idWebSocketEnabled));

    click(idPresetB);
    EXPECT_TRUE(checked(idPresetB));
    EXPECT_FALSE(checked(idPresetC));
    EXPECT_FALSE(enabled(idLanEnabled) || enabled(idWebSocketEnabled) || enabled(idLanAveraging) ||
                 enabled(idLanPort));
    EXPECT_TRUE(checked(idLanEnabled));

    // Back to C with LAN on: everything comes back.
    click(idPresetC);
    EXPECT_TRUE(enabled(idLanEnabled) && enabled(idWebSocketEnabled) && enabled(idLanAveraging) &&
                enabled(idLanPort));

    // Back to C with LAN off: only the switch comes back.
    click(idLanEnabled);
    click(idPresetB);
    click(idPresetC);
    EXPECT_TRUE(enabled(idLanEnabled));
    EXPECT_FALSE(enabled(idWebSocketEnabled) || enabled(idLanAveraging) || enabled(idLanPort));

    // The output pair is independent of the preset pair and has no rule.
    click(idAccelerationOutput);
    EXPECT_TRUE(checked(idAccelerationOutput));
    EXPECT_FALSE(checked(idRotationOutput));
    EXPECT_TRUE(checked(idPresetC));
    EXPECT_FALSE(applyEnablingRule(form, idAccelerationOutput));
}

TEST_F(SettingsFormTest, DisabledLanSwitchesAreStillSaved) {
    click(idLanEnabled);
    click(idWebSocketEnabled);
    click(idPresetB);
    click(idAccelerationOutput);
    click(idMouseEnabled);
    confirmSettingsForm(form, path);
    EXPECT_EQ(settings.deviceMode, 1);
    EXPECT_EQ(settings.lanEnabled, 1);
    EXPECT_EQ(settings.webSocketEnabled, 1);
    EXPECT_EQ(settings.accelerationOutput, 1);
    EXPECT_EQ(settings.mouseEnabled, 0);
    EXPECT_EQ(readFile(), "COM19\n1.000000\n4\n32\n1\n8096\n0\n1\n1\n1\n1\n");
}

TEST_F(SettingsFormTest, ConfirmStopsTheMeasurementEvenWithoutChanges) {
    confirmSettingsForm(form, path);
    EXPECT_TRUE(stopRequested);
    EXPECT_FALSE(readFile().empty());

    // An unwritable file is skipped; the new values still take effect.
    stopRequested = false;
    type(idComPort, "COM7");
    confirmSettingsForm(form, "no-such-folder/tolv.conf");
    EXPECT_TRUE(stopRequested);
    EXPECT_EQ(port(), "COM7");
}

TEST_F(SettingsFormTest, EditingWithoutConfirmChangesNothing) {
    type(idComPort, "COM3");
    type(idScreenDistance, "5");
    type(idLanPort, "1234");
    click(idMouseEnabled);
    click(idPresetB);
    click(idLanEnabled);
    EXPECT_FALSE(stopRequested);
    EXPECT_EQ(port(), "COM19");
    EXPECT_EQ(settings.screenDistance, 1.0f);
    EXPECT_EQ(settings.lanPort, 8096);
    EXPECT_EQ(settings.mouseEnabled, 1);
    EXPECT_EQ(settings.deviceMode, 2);
    EXPECT_EQ(settings.lanEnabled, 0);
    EXPECT_TRUE(readFile().empty());
}

TEST_F(SettingsFormTest, ConfirmKeepsTheLinesAfterTheEleventh) {
    // The dialog shows the eleven; what follows them in the file must survive its save.
    {
        std::ofstream out(path, std::ios::binary);
        out << "COM3\n1.000000\n4\n32\n1\n8096\n1\n0\n0\n0\n0\n"
               "webSocketOrigins=null\nudpTarget=10.0.0.2:4242\nlaterSetting=on\nmouseClutch="
               "right\n"
               "lanAddress=127.0.0.1\n";
    }
    readSettingsFile(path);
    initSettingsForm(form);
    type(idScrollSpeed, "9");
    confirmAndReopen();
    EXPECT_EQ(readFile(), "COM3\n1.000000\n9\n32\n1\n8096\n1\n0\n0\n0\n0\n"
                          "mouseClutch=right\nudpTarget=10.0.0.2:4242\nlanAddress=127.0.0.1\n"
                          "webSocketOrigins=null\nlaterSetting=on\n");
    EXPECT_EQ(settings.mouseClutch, MouseClutch::right);
}
