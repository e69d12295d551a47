#include "app/headless/diagnostics_platform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/serial_device.h"
#include "device/serial_port.h"
#include "settings/settings.h"

namespace {

constexpr size_t lookupSize = 16384; // for getpwuid_r/getgrgid_r

void appendMode(TextBuilder& text, mode_t mode) {
    char digits[8];
    digits[0] = '0';
    for (int i = 0; i < 3; ++i)
        digits[1 + i] = static_cast<char>('0' + ((mode >> (6 - 3 * i)) & 7));
    digits[4] = '\0';
    text.append(digits);
}

// Whether the user is a member of gid in the group database while this
// process (and so the login it came from) does not have it yet: the case of
// someone who joined the group and did not log in again.
bool joinedSinceLogin(gid_t gid) {
    gid_t groups[256];
    const int count = getgroups(256, groups);
    for (int i = 0; i < count; ++i)
        if (groups[i] == gid) return false;
    if (getegid() == gid) return false;
    static char buffer[lookupSize];
    passwd user{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &user, buffer, sizeof buffer, &found) != 0 || found == nullptr)
        return false;
    gid_t listed[256];
    int listedCount = 256;
    if (getgrouplist(user.pw_name, user.pw_gid, listed, &listedCount) < 0) return false;
    for (int i = 0; i < listedCount; ++i)
        if (listed[i] == gid) return true;
    return false;
}

void appendPermissionAdvice(TextBuilder& text, const char* path) {
    struct stat status {};
    if (stat(path, &status) != 0) return;
    static char buffer[lookupSize];
    group entry{};
    group* found = nullptr;
    char number[24];
    const char* name = number;
    formatInteger(number, sizeof number, static_cast<long long>(status.st_gid));
    if (getgrgid_r(status.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        name = entry.gr_name;

    text.append(". It belongs to group ");
    text.append(name);
    text.append(" (mode ");
    appendMode(text, status.st_mode);
    text.append(")");
    const mode_t groupReadWrite = S_IRGRP | S_IWGRP;
    if (status.st_gid == 0) {
        // Joining root's group is no answer: the port needs a group of its own.
        text.append(", so only root may open it: give it the group dialout (`sudo chgrp dialout ");
        text.append(path);
        text.append(" && sudo chmod g+rw ");
        text.append(path);
        text.append("`, or a udev rule for good), then join that group with `sudo usermod -aG "
                    "dialout $USER` and log out and in again");
    } else if ((status.st_mode & groupReadWrite) != groupReadWrite) {
        text.append(", which may not read and write it: give the group access (`sudo chmod g+rw ");
        text.append(path);
        text.append("`, or a udev rule for good), then join it with `sudo usermod -aG ");
        text.append(name);
        text.append(" $USER` and log out and in again");
    } else if (joinedSinceLogin(status.st_gid)) {
        text.append(": you are a member, but this login started before you joined; log out and "
                    "in again (or run `newgrp ");
        text.append(name);
        text.append("`)");
    } else {
        text.append(": join that group with `sudo usermod -aG ");
        text.append(name);
        text.append(" $USER`, then log out and in again");
    }
}

} // namespace

void appendAbsolutePath(TextBuilder& text, const char* path) {
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) {
        text.append(resolved);
        return;
    }
    // A file that does not exist: the folder it would be in.
    if (path[0] != '/' && getcwd(resolved, sizeof resolved) != nullptr) {
        text.append(resolved);
        if (std::strcmp(resolved, "/") != 0) text.append("/");
    }
    text.append(path);
}

void appendSerialOpenFailure(TextBuilder& text, const char* name, const SystemResult& failure) {
    appendReasonSentence(text, failure.reason);
    char path[comDeviceSize + 8];
    char device[comDeviceSize];
    getComDevice(device);
    const bool byDevice = device[0] != '\0' && std::strcmp(device, name) == 0;
    // A failure to find comDevice's device said what it looked for and what
    // is there; a device found but not opened gets the advice of its path.
    if (byDevice && !findSerialDevice(device, "", path, sizeof path)) {
        text.append(". `tolvane-config ports` lists each port with the comDevice line that "
                    "chooses it");
        return;
    }
    if (!byDevice && !serialPortPath(name, path, sizeof path)) {
        if (name[0] == '\0') text.append("; `tolvane-config ports` lists the ports present");
        return;
    }
    const int error = failure.error;
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        text.append(error == ENOENT ? ". The port does not exist" : ". The device is not there");
        if (!byDevice && std::strchr(name, '/') == nullptr) {
            text.append(" (the name ");
            text.append(name);
            text.append(" is looked up under /dev/)");
        }
        text.append(": `tolvane-config ports` lists the ports present");
        break;
    case EACCES:
    case EPERM:
        appendPermissionAdvice(text, path);
        break;
    case EBUSY:
        text.append(". Another program has the port open (`fuser -v ");
        text.append(path);
        text.append("` shows which): end it, or choose another port");
        break;
    case ENOTTY:
        text.append(". This is no serial port: `tolvane-config ports` lists the ports present");
        break;
    default:
        break;
    }
}

void appendLanOpenAdvice(TextBuilder& text, const SystemResult& failure, uint16_t port) {
    if (failure.error == EADDRINUSE) {
        text.append("; another program uses the port (`ss -ltnp` shows which): end it, or "
                    "choose another lanPort");
    } else if (failure.error == EACCES && port < 1024) {
        text.append("; ports below 1024 need root: choose lanPort 1024 or above");
    }
}
