#pragma once
// Child programs for the end-to-end tests (POSIX). Every
// wait has a bound; a child that is still running when its record goes away
// is killed and reaped.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/loopback.h"

// What start does with the child's standard streams and user beyond the
// default: input inherited, output a pipe for readLine, errors to a file.
struct ChildSetup {
    bool closeInput = false;
    bool closeOutput = false; // then readLine finds nothing
    int outputTo = -1;        // this descriptor as standard output instead of the pipe
    bool closeErrors = false; // instead of the error file
    uid_t user = 0;           // nonzero: run as this user and group, no other groups
    gid_t group = 0;
};

struct Child {
    pid_t pid = -1;
    int out = -1;        // the child's standard output
    std::string pending; // read but not yet returned as a line
    std::string errPath; // its standard error goes to this file

    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    // Starts program with args in folder cwd.
    bool start(const std::vector<std::string>& argv, const std::string& cwd,
               const std::string& stderrFile);
    bool start(const std::vector<std::string>& argv, const std::string& cwd,
               const std::string& stderrFile, const ChildSetup& setup);
    // The next line of standard output without its line end; false at its
    // end or when the bound passes.
    bool readLine(std::string* line, Bound bound = Bound(10000));
    void signal(int number);
    // Exit status (0..255), or -1 when it did not end within the bound, or
    // 128 + signal when a signal ended it.
    int waitExit(Bound bound = Bound(10000));
    bool running();
    std::string errors() const;
    // Open descriptors of the running child.
    int descriptorCount() const;
};

// A fresh folder for one test.
std::string scratchFolder(const char* name);
void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);
