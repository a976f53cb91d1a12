#include "support/run_command.h"

#if defined(_WIN32)

// The peer tools are run on POSIX systems only; on Windows every program is
// missing, so the tests that need one skip.
CommandResult RunCommand(const std::vector<std::string>&, const CommandOptions&) { return {}; }
CommandResult RunShell(const std::string&, const CommandOptions&) { return {}; }
bool ProgramAvailable(const std::string&) { return false; }

#else

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

void CloseFd(int& fd)
{
    if (fd >= 0) close(fd);
    fd = -1;
}

// The parent's environment with `changes` applied.
std::vector<std::string> ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& changes)
{
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : changes)
            if (entry.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    for (const auto& [name, value] : changes) env.push_back(name + "=" + value);
    return env;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const CommandOptions& options)
{
    CommandResult result;
    if (argv.empty()) return result;
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    int outFile = -1;
    auto closeAll = [&] {
        for (int* fd : {&inPipe[0], &inPipe[1], &outPipe[0], &outPipe[1], &errPipe[0], &errPipe[1], &outFile})
            CloseFd(*fd);
    };
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 ||
        (options.outFile.empty() ? pipe2(outPipe, O_CLOEXEC) != 0
                                 : (outFile = open(options.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                                                   0644)) < 0)) {
        closeAll();
        return result;
    }

    // posix_spawn rather than fork: a sanitized test process has a huge
    // address space, which fork would copy the page tables of.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outFile >= 0 ? outFile : outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings = ChildEnvironment(options.env);
    std::vector<char*> env;
    for (std::string& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);
    pid_t pid = -1;
    const int spawnError = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    CloseFd(inPipe[0]);
    CloseFd(outPipe[1]);
    CloseFd(errPipe[1]);
    CloseFd(outFile);
    if (spawnError != 0) {
        closeAll();
        return result;
    }

    // A child that stops reading its input must not kill us with SIGPIPE.
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);

    size_t written = 0;
    if (options.input.empty()) CloseFd(inPipe[1]);
    char buffer[65536];
    while (inPipe[1] >= 0 || outPipe[0] >= 0 || errPipe[0] >= 0) {
        pollfd fds[3];
        int n = 0;
        if (inPipe[1] >= 0) fds[n++] = {inPipe[1], POLLOUT, 0};
        if (outPipe[0] >= 0) fds[n++] = {outPipe[0], POLLIN, 0};
        if (errPipe[0] >= 0) fds[n++] = {errPipe[0], POLLIN, 0};
        if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == inPipe[1]) {
                const ssize_t w = write(inPipe[1], options.input.data() + written, options.input.size() - written);
                if (w > 0) written += static_cast<size_t>(w);
                if (w < 0 || written == options.input.size()) CloseFd(inPipe[1]);
                continue;
            }
            const ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
            if (r <= 0) {
                if (fds[i].fd == outPipe[0]) CloseFd(outPipe[0]);
                else CloseFd(errPipe[0]);
                continue;
            }
            (fds[i].fd == outPipe[0] ? result.out : result.err).append(buffer, static_cast<size_t>(r));
        }
    }
    sigaction(SIGPIPE, &old, nullptr);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return result;
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitCode = 128 + WTERMSIG(status);
    return result;
}

CommandResult RunShell(const std::string& script, const CommandOptions& options)
{
    return RunCommand({"/bin/sh", "-c", script}, options);
}

bool ProgramAvailable(const std::string& program)
{
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string dir; std::getline(path, dir, ':');)
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

#endif  // _WIN32
