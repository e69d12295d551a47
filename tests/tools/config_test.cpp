// tolvane-config against the settings dialog's own logic, its file replace,
// and its port list on a fake system tree.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/settings_form.h"
#include "settings/settings.h"
#include "tests/support/child_process.h"
#include "text/number_text.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs the tool in folder, its output and errors through pipes.
Outcome config(const std::string& folder, std::vector<std::string> args) {
    args.insert(args.begin(), TOLVANE_CONFIG);
    Outcome run{-1, "", ""};
    Child child;
    if (!child.start(args, folder, folder + "/config.err")) return run;
    std::string line;
    while (child.readLine(&line))
        run.out += line + "\n";
    run.status = child.waitExit();
    run.err = child.errors();
    fs::remove(folder + "/config.err");
    return run;
}

// The same with the size of any file it writes capped at limit bytes, which
// to a writer looks like a full disk (SIGXFSZ ignored) or like a crash in the
// middle of the write (SIGXFSZ kills it). Standard error comes through a
// pipe, which the cap does not cut.
Outcome limited(const std::string& folder, std::vector<std::string> args, rlim_t limit,
                bool killed) {
    args.insert(args.begin(), TOLVANE_CONFIG);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Outcome run{-1, "", ""};
    int errors[2];
    if (pipe(errors) != 0) return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(errors[1], 2);
        close(errors[0]);
        close(errors[1]);
        std::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
        const rlimit cap{limit, limit};
        if (chdir(folder.c_str()) != 0 || setrlimit(RLIMIT_FSIZE, &cap) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(errors[1]);
    char buffer[1024];
    pollfd p{errors[0], POLLIN, 0};
    ssize_t n;
    while (poll(&p, 1, 10000) > 0 && (n = read(errors[0], buffer, sizeof buffer)) > 0)
        run.err.append(buffer, static_cast<size_t>(n));
    close(errors[0]);
    int status = 0;
    for (int waited = 0; pid > 0 && waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 1000) kill(pid, SIGKILL); // a hang fails the test
        usleep(10000);
    }
    if (pid > 0) run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

struct Scratch {
    std::string path = scratchFolder("config");
    ~Scratch() {
        if (!::testing::Test::HasFailure()) fs::remove_all(path);
    }
};

// The dialog's side of a case: what a user types and clicks.
struct Dialog {
    SettingsForm form;
    void type(int id, const char* text) {
        copyText(findFormControl(form, id)->text, formTextSize, text);
    }
    void click(int id) {
        toggleFormControl(form, id);
        applyEnablingRule(form, id);
    }
};

const char presetC[] = "COM19\n1.000000\n4\n32\n1\n8096\n1\n0\n1\n0\n0\n";
const char presetB[] = "COM19\n1.000000\n4\n32\n1\n8096\n1\n1\n1\n0\n0\n";

} // namespace

TEST(ConfigSet, WritesWhatTheSettingsDialogWritesForTheSameChanges) {
    struct Case {
        const char* name;
        const char* before; // nullptr: no file
        std::vector<std::string> assignments;
        std::function<void(Dialog&)> user;
    };
    const std::vector<Case> cases = {
        {"first start without a file: preset C, as the dialog shows it, is stored as 0",
         nullptr,
         {"comPort=ttyUSB0", "deviceMode=C"},
         [](Dialog& d) { d.type(idComPort, "ttyUSB0"); }},
        {"distance below and above its range",
         presetC,
         {"screenDistance=0.05", "scrollSpeed=0", "mouseAveraging=300", "lanAveraging=0"},
         [](Dialog& d) {
             d.type(idScreenDistance, "0.05");
             d.type(idScrollSpeed, "0");
             d.type(idMouseAveraging, "300");
             d.type(idLanAveraging, "0");
         }},
        {"far side of the ranges",
         presetC,
         {"screenDistance=25", "scrollSpeed=-3", "lanPort=70000"},
         [](Dialog& d) {
             d.type(idScreenDistance, "25");
             d.type(idScrollSpeed, "-3");
             d.type(idLanPort, "70000");
         }},
        {"LAN switches set under preset B are saved all the same",
         presetC,
         {"deviceMode=B", "webSocketEnabled=1", "lanEnabled=0"},
         [](Dialog& d) {
             d.click(idWebSocketEnabled);
             d.click(idLanEnabled);
             d.click(idPresetB);
         }},
        {"LAN switched on while preset B stays",
         presetB,
         {"lanEnabled=0", "accelerationOutput=1"},
         [](Dialog& d) {
             d.click(idPresetC);
             d.click(idLanEnabled);
             d.click(idPresetB);
             d.click(idAccelerationOutput);
         }},
        {"back to preset C, air mouse off with a new distance",
         presetB,
         {"deviceMode=c", "mouseEnabled=off", "screenDistance=2.5"},
         [](Dialog& d) {
             d.type(idScreenDistance, "2.5");
             d.click(idMouseEnabled);
             d.click(idPresetC);
         }},
        {"a hand-edited file: out-of-range values and a flag of 2 are tidied",
         "COM7\n99.5\n0\n0\n1000\n-1\n2\n5\n256\n3\n2\n",
         {"comPort=ttyACM0"},
         [](Dialog& d) { d.type(idComPort, "ttyACM0"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch scratch;
        if (c.before != nullptr) writeFile(scratch.path + "/tolv.conf", c.before);

        const Outcome run = config(scratch.path, [&] {
            std::vector<std::string> args = {"set"};
            args.insert(args.end(), c.assignments.begin(), c.assignments.end());
            return args;
        }());
        ASSERT_EQ(run.status, 0) << run.err;

        setDefaults();
        if (c.before != nullptr) {
            writeFile(scratch.path + "/dialog.conf", c.before);
            readSettingsFile((scratch.path + "/dialog.conf").c_str());
        }
        Dialog dialog;
        initSettingsForm(dialog.form);
        c.user(dialog);
        confirmSettingsForm(dialog.form, (scratch.path + "/dialog.conf").c_str());
        EXPECT_EQ(readFile(scratch.path + "/tolv.conf"), readFile(scratch.path + "/dialog.conf"));
    }
}

TEST(ConfigSet, SaysWhatChangedAndWhatWillNotAct) {
    Scratch scratch;
    writeFile(scratch.path + "/tolv.conf", presetC);
    Outcome run = config(scratch.path, {"set", "deviceMode=B", "lanPort=70000", "scrollSpeed=100"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "scrollSpeed: 4 -> 64\nlanPort: 8096 -> 70000\ndeviceMode: C -> B\n");
    EXPECT_NE(run.err.find("scrollSpeed 100 is outside 1 to 64; saved as 64"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("listens on port 4464"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("lanEnabled, lanPort are saved but have no effect under device "
                           "preset B"),
              std::string::npos)
        << run.err;

    // Refused values write nothing.
    const std::string before = readFile(scratch.path + "/tolv.conf");
    run = config(scratch.path, {"set", "comPort=ttyUSB1", "scrollSpeed=12abc"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(readFile(scratch.path + "/tolv.conf"), before);
}

TEST(ConfigSet, AFailedWriteLeavesTheOldFileWhole) {
    Scratch scratch;
    const std::string file = scratch.path + "/tolv.conf";
    writeFile(file, presetC);
    chmod(file.c_str(), 0640);

    // A full disk: the write fails, the old file stays, no temporary is left.
    Outcome run = limited(scratch.path, {"set", "comPort=ttyUSB0"}, 20, false);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("tolv.conf was not written: cannot write the temporary file: File "
                           "too large"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readFile(file), presetC);
    EXPECT_EQ(namesIn(scratch.path), std::vector<std::string>{"tolv.conf"});

    // A size limit that would kill the writer: the write fails instead, and
    // the temporary file goes with it.
    run = limited(scratch.path, {"set", "comPort=ttyUSB0"}, 20, true);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(readFile(file), presetC);
    EXPECT_EQ(namesIn(scratch.path), std::vector<std::string>{"tolv.conf"});

    // A good write keeps the file's permissions and a link stays a link.
    fs::create_directory(scratch.path + "/real");
    fs::rename(file, scratch.path + "/real/tolv.conf");
    fs::create_symlink("real/tolv.conf", file);
    run = config(scratch.path, {"set", "comPort=ttyUSB0"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(readFile(scratch.path + "/real/tolv.conf").substr(0, 8), "ttyUSB0\n");
    struct stat s {};
    stat(file.c_str(), &s);
    EXPECT_EQ(s.st_mode & 0777, 0640u);

    // A folder where the file should be is reported, and nothing is left behind.
    fs::create_directory(scratch.path + "/folder.conf");
    run = config(scratch.path, {"--file", "folder.conf", "set", "comPort=x"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot read folder.conf: Is a directory"), std::string::npos)
        << run.err;
}

TEST(ConfigSet, LinksAreFollowedWhetherTheirTargetExistsOrNot) {
    Scratch scratch;
    fs::create_directory(scratch.path + "/real");
    fs::create_symlink("real/tolv.conf", scratch.path + "/tolv.conf"); // dangling
    Outcome run = config(scratch.path, {"set", "comPort=ttyUSB0"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(scratch.path + "/tolv.conf"));
    EXPECT_EQ(readFile(scratch.path + "/real/tolv.conf").substr(0, 8), "ttyUSB0\n");
    run = config(scratch.path, {"set", "lanPort=9000"}); // now a link to a file
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(scratch.path + "/tolv.conf"));
    EXPECT_EQ(config(scratch.path, {"show", "comPort", "lanPort"}).out, "ttyUSB0\n9000\n");
    EXPECT_EQ(namesIn(scratch.path + "/real"), std::vector<std::string>{"tolv.conf"});
}

TEST(ConfigSet, ConcurrentSetsKeepEveryChange) {
    Scratch scratch;
    writeFile(scratch.path + "/tolv.conf", presetC);
    const std::vector<std::string> changes = {"scrollSpeed=9", "lanPort=9000", "mouseAveraging=7",
                                              "mouseClickHold=120", "udpFormat=osc"};
    for (int round = 0; round < 10; ++round) {
        Child runs[5];
        for (size_t i = 0; i < changes.size(); ++i)
            ASSERT_TRUE(runs[i].start({TOLVANE_CONFIG, "set", changes[i]}, scratch.path,
                                      scratch.path + "/err" + std::to_string(i)));
        for (Child& run : runs)
            ASSERT_EQ(run.waitExit(), 0) << run.errors();
        const Outcome shown =
            config(scratch.path, {"show", "scrollSpeed", "lanPort", "mouseAveraging",
                                  "mouseClickHold", "udpFormat"});
        ASSERT_EQ(shown.out, "9\n9000\n7\n120\nosc\n") << "round " << round;
        writeFile(scratch.path + "/tolv.conf", presetC);
    }
}

TEST(ConfigFile, InputThatHangsShiftsOrMisleadsNoMore) {
    Scratch scratch;
    const std::string file = scratch.path + "/tolv.conf";
    // A FIFO is refused at once, for show and set alike.
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"show"}, std::vector<std::string>{"set", "scrollSpeed=9"}}) {
        const Outcome run = config(scratch.path, args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("it is not a regular file"), std::string::npos) << run.err;
    }
    Outcome run;
    fs::remove(file);

    // A long first line stays one line: set keeps lanPort and says why.
    writeFile(file, std::string(300, 'A') + "\n1.000000\n4\n32\n1\n9000\n1\n0\n0\n0\n0\n");
    run = config(scratch.path, {"set", "scrollSpeed=5"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("line 1 of tolv.conf is longer than 255 bytes"), std::string::npos)
        << run.err;
    EXPECT_EQ(readFile(file), std::string(31, 'A') + "\n1.000000\n5\n32\n1\n9000\n1\n0\n0\n0\n0\n");

    // Control characters from the file are shown escaped.
    writeFile(file, "COM\x1b[2J3\n1.000000\n4\n32\n1\n8096\n1\n0\n0\n0\n0\nx=\x07\n");
    run = config(scratch.path, {"show"});
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    EXPECT_NE(run.out.find("COM\\x1B[2J3"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find('\x07'), std::string::npos) << run.err;
    EXPECT_EQ(config(scratch.path, {"show", "comPort"}).out, "COM\\x1B[2J3\n");

    // Refused with the reason, nothing written.
    const std::string before = readFile(file);
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"set", "comPort="}, "comPort: an empty name opens no port"},
        {{"set", "comPort=a", "lanPort=1", "comPort=b"}, "comPort given twice"},
        {{"set", "comPort=ttyÜSB-äöü-ßßß-ÄÖÜ-éèê"}, "is 22 characters in 35 bytes"},
        {{"set", "mouseSmoothing=fast"},
         "mouseSmoothing: 'fast' is not one of average or "
         "adaptive"},
        {{"set", "mouseClickHold=1001"}, "mouseClickHold: '1001' is outside 0 to 1000"},
        {{"set", "udpTarget=a@b:1"}, "udpTarget: 'a@b:1' is no HOST:PORT"},
    };
    for (const auto& [args, reason] : refused) {
        run = config(scratch.path, args);
        EXPECT_EQ(run.status, 2) << reason;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
    }
    EXPECT_EQ(readFile(file), before);

    // Keyed settings: set, shown when set, gone again at their default.
    run = config(scratch.path, {"set", "mouseSmoothing=adaptive", "screenSize=1920x1080"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "mouseSmoothing: average -> adaptive\nscreenSize: \"\" -> 1920x1080\n");
    EXPECT_NE(run.err.find("\"x=\\x07\", is no setting of this version"), std::string::npos)
        << run.err;
    EXPECT_NE(config(scratch.path, {"show"}).out.find("mouseSmoothing      adaptive"),
              std::string::npos);
    EXPECT_EQ(readFile(file), before.substr(0, before.size() - 4) +
                                  "mouseSmoothing=adaptive\nscreenSize=1920x1080\nx=\x07\n");
    run = config(scratch.path, {"set", "mouseSmoothing=average", "screenSize="});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(file), before);
}

// Files and values that once shifted, cut or dropped settings, and notes
// that misled: what set, show and check make of them.
TEST(ConfigFile, OddFilesAndValuesKeepEverySetting) {
    using namespace std::string_literals;
    std::string unknown;
    for (int n = 10; n < 35; ++n)
        unknown += "future" + std::to_string(n) + "=" + std::string(240, 'x') + "\n";
    std::string tooMany;
    while (tooMany.size() <= static_cast<size_t>(keptLinesSize))
        tooMany += unknown;
    const std::string host = std::string(60, 'a') + "." + std::string(60, 'b') + "." +
                             std::string(60, 'c') + "." + std::string(64, 'd'); // 247 bytes
    const char keyed[] = "COM3\n1.000000\n4\n32\n1\n9000\n1\n0\n0\n0\n0\n";
    struct Case {
        const char* name;
        std::string before;
        std::vector<std::string> args;
        int status;
        std::string after;                      // "": the file stays as it was
        std::vector<std::string> said, notSaid; // in standard output or error
        bool noFile = false;                    // before is not written
    };
    const Case cases[] = {
        {"a NUL byte in line 1 shifts no field",
         "ttyS0\0\n2.5\n7\n16\n3\n9000\n0\n0\n1\n1\n0\n"s,
         {"set", "scrollSpeed=8"},
         0,
         "ttyS0\n2.500000\n8\n16\n3\n9000\n0\n0\n1\n1\n0\n",
         {"line 1 of tolv.conf holds a NUL byte; only the text before it is read"},
         {"longer than 255", "lanPort"}},
        {"check reads the same file unshifted",
         "tolvane-none\0\n2.5\n7\n16\n3\n9000\n0\n0\n1\n1\n0\n"s,
         {"check"},
         1,
         "",
         {"lanPort=9000 mouseEnabled=0 deviceMode=C", "line 1 holds a NUL byte"},
         {"longer than 255"}},
        {"a NUL byte among the keyed lines swallows none",
         keyed + "mouseClutch=left\0x\nudpTarget=127.0.0.1:4242\n"s,
         {"set", "scrollSpeed=5"},
         0,
         "COM3\n1.000000\n5\n32\n1\n9000\n1\n0\n0\n0\n0\nmouseClutch=left\n"
         "udpTarget=127.0.0.1:4242\n",
         {"line 12 of tolv.conf holds a NUL byte"},
         {}},
        {"a target whose line would be cut is refused with the limit",
         keyed,
         {"set", "udpTarget=" + host + ":4242"},
         2,
         "",
         {"is 252 bytes long; at most 245 fit"},
         {}},
        {"25 long unknown lines are all written back",
         keyed + unknown,
         {"set", "scrollSpeed=6"},
         0,
         "COM3\n1.000000\n6\n32\n1\n9000\n1\n0\n0\n0\n0\n" + unknown,
         {"line 34 of tolv.conf, \"future32=", "2 more notes about later lines"},
         {}},
        {"more unknown lines than are kept: nothing is written",
         keyed + tooMany,
         {"set", "scrollSpeed=6"},
         1,
         "",
         {"tolv.conf was not written: it holds more lines that are no setting", "would be lost"},
         {"written back as it is"}},
        {"a LAN switch turned off under preset B is no ineffective setting",
         presetB,
         {"set", "lanEnabled=0", "webSocketEnabled=0"},
         0,
         "COM19\n1.000000\n4\n32\n1\n8096\n1\n1\n0\n0\n0\n",
         {"lanEnabled: 1 -> 0"},
         {"no effect"}},
        {"a port that is only a number gets a hint",
         presetC,
         {"set", "comPort=3"},
         0,
         "3\n1.000000\n4\n32\n1\n8096\n1\n0\n1\n0\n0\n",
         {"comPort 3 is saved as given, but it is only a number: a serial port is named ttyS3"},
         {}},
        {"the shipped file's deviceMode 2 in words",
         "COM19\n1.000000\n4\n32\n1\n8096\n1\n2\n0\n0\n0\n",
         {"check"},
         1,
         "",
         {"deviceMode=2 means no preset chosen yet: the device is polled as with preset C, but "
          "the LAN server does not run"},
         {}},
        {"an unknown name is shown escaped",
         presetC,
         {"show", "ab\x1b[2Jc"},
         2,
         "",
         {"unknown setting 'ab\\x1B[2Jc'"},
         {"\x1b"}},
        {"a new file holds the defaults and what was set, no preset chosen",
         "",
         {"set", "comPort=ttyUSB0"},
         0,
         "ttyUSB0\n1.000000\n4\n32\n1\n8096\n1\n2\n0\n0\n0\n",
         {"created tolv.conf", "comPort: COM19 -> ttyUSB0"},
         {"deviceMode"},
         true},
        {"a file without a preset keeps it, and a LAN server set there is said not to run",
         "COM19\n1.000000\n4\n32\n1\n8096\n1\n2\n0\n0\n0\n",
         {"set", "lanEnabled=1", "lanPort=9000"},
         0,
         "COM19\n1.000000\n4\n32\n1\n9000\n1\n2\n1\n0\n0\n",
         {"lanEnabled, lanPort are saved but have no effect while no device preset is chosen "
          "(deviceMode=2)"},
         {"deviceMode:"}},
        {"deviceMode as typed, the file keeping its number",
         presetC,
         {"set", "deviceMode=b"},
         0,
         presetB,
         {"deviceMode: C -> B"},
         {"deviceMode: 0"}},
        {"origins under the plain dialect",
         presetC,
         {"set", "webSocketOrigins=http://localhost:8000", "lanAddress=127.0.0.1"},
         0,
         std::string(presetC) + "lanAddress=127.0.0.1\nwebSocketOrigins=http://localhost:8000\n",
         {"webSocketOrigins is saved but has no effect in the plain dialect"},
         {"lanAddress is saved"}},
        {"a keyed setting given twice: the later line is kept, and set says so",
         keyed + "mouseClutch=left\nudpFormat=osc\nmouseClutch=right\n"s,
         {"set", "scrollSpeed=5"},
         0,
         "COM3\n1.000000\n5\n32\n1\n9000\n1\n0\n0\n0\n0\nmouseClutch=right\nudpFormat=osc\n",
         {"line 14 of tolv.conf, \"mouseClutch=right\", gives a setting that line 12 gave "
          "already; the later line applies and is the one written back"},
         {}},
        {"check says the same of a setting given twice",
         keyed + "mouseClutch=left\nmouseClutch=right\n"s,
         {"check"},
         1,
         "",
         {"line 13 reads \"mouseClutch=right\", a setting that line 12 gave already"},
         {}},
        {"a button's unknown key: the word once, the names within the console",
         presetC,
         {"set", "button2=press:PageDown long:PgDn"},
         2,
         "",
         {"button2: 'PgDn' is no name the buttons know: keys A-Z", "Zoom, Volume\nTry"},
         {"'press:PageDown long:PgDn'"}},
        {"a chord cut short after \"+\"",
         presetC,
         {"set", "button0=A+"},
         2,
         "",
         {"button0: 'A+' ends in \"+\": name the key after it"},
         {"'A+' 'A+'", "no modifier"}},
        {"a single quote that a shell passed on",
         presetC,
         {"set", "'button2=press:B", "long:C'"},
         2,
         "",
         {"unknown setting ''button2' (see the list in --help); the quote is part of the text"},
         {}},
        {"buttons that act only when a LAN client asks, set",
         presetC,
         {"set", "buttonPreset=presenter"},
         0,
         std::string(presetC) + "buttonPreset=presenter\n",
         {"buttonPreset acts only while a LAN client asks for lines"},
         {}},
        {"and checked",
         std::string(presetC) + "button1=F5\n",
         {"check"},
         1,
         "",
         {"warning: button1 acts only while a LAN client asks for lines"},
         {}},
        {"a button under preset B is read all the time",
         std::string(presetB) + "button1=F5\n",
         {"check"},
         1,
         "",
         {},
         {"asks for lines"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch scratch;
        const std::string file = scratch.path + "/tolv.conf";
        if (!c.noFile) writeFile(file, c.before);
        const Outcome run = config(scratch.path, c.args);
        // A usage error is broken for the console, but a word longer than a line.
        for (size_t at = 0, end;
             c.status == 2 && (end = run.err.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = run.err.substr(at, end - at);
            EXPECT_TRUE(line.size() <= 79 || line.find(' ', 4) == std::string::npos) << line;
        }
        // Sentences broken for the console are joined again.
        std::string said = run.out + run.err;
        for (size_t at; (at = said.find("\n    ")) != std::string::npos;)
            said.replace(at, 5, " ");
        EXPECT_EQ(run.status, c.status) << said;
        EXPECT_EQ(readFile(file), c.after.empty() ? c.before : c.after);
        for (const std::string& text : c.said)
            EXPECT_NE(said.find(text), std::string::npos) << text << "\n" << said;
        for (const std::string& text : c.notSaid)
            EXPECT_EQ(said.find(text), std::string::npos) << text << "\n" << said;
    }
}

TEST(ConfigShow, NamesEverySettingWithItsValueAndMeaning) {
    Scratch scratch;
    Outcome run = config(scratch.path, {"show"});
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("tolv.conf does not exist; these are the defaults"), std::string::npos);
    const char* names[] = {"comPort",          "screenDistance",    "scrollSpeed",
                           "mouseAveraging",   "lanAveraging",      "lanPort",
                           "mouseEnabled",     "deviceMode",        "lanEnabled",
                           "webSocketEnabled", "accelerationOutput"};
    // One line per setting, its meaning continued under itself within 80 columns.
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1) {
        EXPECT_LE(end - at, 79u) << run.out.substr(at, end - at);
        if (end == at) break; // the monitors follow, where a display is reachable
        if (run.out[at] != ' ') lines.push_back(run.out.substr(at, end - at));
    }
    ASSERT_EQ(lines.size(), 11u) << run.out;
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind(std::string(names[i]) + " ", 0), 0u) << lines[i];
    EXPECT_NE(run.out.find("deviceMode          2         no preset chosen yet"), std::string::npos)
        << run.out;

    writeFile(scratch.path + "/other.conf", "# my port\n/dev/ttyUSB0\n1\n");
    run = config(scratch.path, {"show", "--file", "other.conf", "comPort", "scrollSpeed"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "# my port\n1\n");
    run = config(scratch.path, {"-f", "other.conf", "show"});
    EXPECT_NE(run.err.find("looks like a comment or name=value"), std::string::npos) << run.err;
}

TEST(ConfigPorts, ListsTheSerialPortsOfAFakeSystemTree) {
    Scratch scratch;
    const std::string root = scratch.path + "/root";
    auto file = [&](const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(root + path).parent_path());
        writeFile(root + path, text + "\n");
    };
    auto link = [&](const std::string& path, const std::string& target) {
        fs::create_directories(fs::path(root + path).parent_path());
        fs::create_directory_symlink(target, root + path);
    };
    const std::string usb = "/sys/devices/pci0000:00/usb1";
    file(usb + "/1-2/idVendor", "0403");
    file(usb + "/1-2/idProduct", "6001");
    file(usb + "/1-2/manufacturer", "FTDI");
    file(usb + "/1-2/product", "FT232R USB UART");
    file(usb + "/1-2/serial", "A12345");
    file(usb + "/1-2/1-2:1.0/ttyUSB0/uevent", "");
    link(usb + "/1-2/1-2:1.0/ttyUSB0/driver", "../../../../../bus/usb-serial/drivers/ftdi_sio");
    link("/sys/class/tty/ttyUSB0/device", "../../../devices/pci0000:00/usb1/1-2/1-2:1.0/ttyUSB0");
    for (const std::string acm : {"2", "10"}) {
        const std::string device = "/1-3." + acm;
        file(usb + device + "/idVendor", "2341");
        file(usb + device + "/idProduct", "0043");
        file(usb + device + device + ":1.0/bInterfaceNumber", "00");
        link("/sys/class/tty/ttyACM" + acm + "/device",
             "../../../devices/pci0000:00/usb1" + device + device + ":1.0");
    }
    file("/sys/devices/platform/serial8250/ttyS0/uevent", "");
    file("/sys/devices/platform/serial8250/ttyS1/uevent", "");
    file("/sys/class/tty/ttyS0/type", "4");
    link("/sys/class/tty/ttyS0/device", "../../../devices/platform/serial8250/ttyS0");
    file("/sys/class/tty/ttyS1/type", "0"); // a slot without a chip
    link("/sys/class/tty/ttyS1/device", "../../../devices/platform/serial8250/ttyS1");
    file("/sys/class/tty/tty0/uevent", ""); // a virtual terminal
    link("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0", "../../ttyUSB0");
    link("/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.2:1.0", "../../ttyACM2");
    for (const char* node : {"ttyUSB0", "ttyACM2", "ttyACM10", "ttyS0"})
        file(std::string("/dev/") + node, "");

    Outcome run = config(scratch.path, {"--system-root", root, "ports"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "/dev/ttyACM2  (comPort=ttyACM2)\n"
                       "    USB 2341:0043\n"
                       "    also /dev/serial/by-path/pci-0000:00:14.0-usb-0:3.2:1.0\n"
                       "    comDevice=/dev/serial/by-path/pci-0000:00:14.0-usb-0:3.2:1.0 chooses "
                       "whatever is plugged into this USB socket\n"
                       "/dev/ttyACM10  (comPort=ttyACM10)\n"
                       "    USB 2341:0043\n"
                       "/dev/ttyS0  (comPort=ttyS0)\n"
                       "    a serial port of the machine itself (UART)\n"
                       "/dev/ttyUSB0  (comPort=ttyUSB0)\n"
                       "    USB 0403:6001, FTDI, FT232R USB UART, serial number A12345\n"
                       "    driver ftdi_sio\n"
                       "    also /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0\n"
                       "    comDevice=usb:0403:6001:A12345 chooses this device wherever it is "
                       "plugged in (usb:0403:6001 too, while it is the only one of its kind)\n");

    // A comDevice set is checked for its form, and saved with a warning when
    // it chooses no device now.
    const struct {
        const char* value;
        int status;
        const char* err; // "" when nothing may be said
    } sets[] = {
        {"usb:0403:6001", 0, ""},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0", 0, ""},
        {"usb:2341:0043", 0, "2 devices match"},
        {"usb:0403:6001:B999", 0,
         "warning: comDevice usb:0403:6001:B999 is saved, but it chooses "
         "no device now: no such USB device is plugged in; present: "},
        {"usb:0403:60", 2, "is no USB identity"},
    };
    for (const auto& c : sets) {
        run = config(scratch.path,
                     {"--system-root", root, "set", std::string("comDevice=") + c.value});
        EXPECT_EQ(run.status, c.status) << c.value << ": " << run.err;
        if (c.err[0] == '\0')
            EXPECT_EQ(run.err, "") << c.value;
        else
            EXPECT_NE(run.err.find(c.err), std::string::npos) << c.value << ": " << run.err;
    }

    fs::remove_all(root + "/sys/class/tty");
    run = config(scratch.path, {"--system-root", root, "ports"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("no serial ports found"), std::string::npos) << run.err;
}
