#include "settings/assign_setting.h"

#include <cstring>

#include "settings/settings.h"
#include "settings/settings_table.h"

namespace {

bool isOneOf(const char* text, const char* a, const char* b) {
    return std::strcmp(text, a) == 0 || std::strcmp(text, b) == 0;
}

// The text a fixed line of the file holds for the value, or nullptr with the
// reason; numbers go through the keyed rows' checks with the row's range.
const char* lineText(int index, const char* value, TextBuilder& reason) {
    const SettingRow& row = settingsTable[index];
    switch (row.kind) {
    case SettingKind::flag:
    case SettingKind::outputKind:
        if (isOneOf(value, "0", "off")) return "0";
        if (isOneOf(value, "1", "on")) return "1";
        reason.append("is neither 0 nor 1");
        return nullptr;
    case SettingKind::preset:
        if (isOneOf(value, "C", "c") || std::strcmp(value, "0") == 0) return "0";
        if (isOneOf(value, "B", "b") || std::strcmp(value, "1") == 0) return "1";
        reason.append("is no preset: C (or 0) polled, B (or 1) streaming");
        return nullptr;
    case SettingKind::text:
        for (const char* c = value; *c != '\0'; ++c)
            if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) {
                reason.append("holds a control character");
                return nullptr;
            }
        if (*value == '\0' || std::strlen(value) > static_cast<size_t>(row.high)) {
            reason.append("is no port name of 1 to ");
            reason.appendInteger(static_cast<long long>(row.high));
            reason.append(" characters");
            return nullptr;
        }
        return value;
    default:
        return checkSettingText(index, value, reason) ? value : nullptr;
    }
}

} // namespace

bool assignSetting(const char* text, TextBuilder& reason) {
    const char* equals = std::strchr(text, '=');
    if (equals == nullptr) {
        reason.append("'");
        reason.append(text);
        reason.append("' is not NAME=VALUE");
        return false;
    }
    const size_t nameLength = static_cast<size_t>(equals - text);
    const int index = findSetting(text, nameLength);
    const char* value = equals + 1;
    if (index < 0) {
        char name[64];
        copyText(name, sizeof name, text);
        if (nameLength < sizeof name) name[nameLength] = '\0';
        reason.append("'");
        reason.append(name);
        reason.append("' is no setting (tolvane-config --help lists them)");
        return false;
    }
    const SettingRow& row = settingsTable[index];
    char why[512] = "";
    TextBuilder because(why, sizeof why);
    const char* stored = isKeyedSetting(index)
                             ? (checkSettingText(index, value, because) ? value : nullptr)
                             : lineText(index, value, because);
    if (stored != nullptr) {
        row.store(stored);
        return true;
    }
    reason.append(row.name);
    reason.append(": ");
    // A button's reason begins with the word at fault.
    if ((row.kind != SettingKind::buttonLine && row.kind != SettingKind::action) ||
        why[0] != '\'') {
        reason.append("'");
        reason.append(value);
        reason.append("' ");
    }
    reason.append(why);
    return false;
}
