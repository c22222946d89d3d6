// child.cc - helper programs through posix_spawn.
#include "app/child.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// Returns argv as the char* array posix_spawn wants (pointing into argv).
std::vector<char *> c_argv(const std::vector<std::string> &argv)
{
    std::vector<char *> v;
    for (const std::string &a : argv)
        v.push_back(const_cast<char *>(a.c_str()));
    v.push_back(nullptr);
    return v;
}

// Spawns with the given descriptors for 0, 1 and 2; returns the pid or -1.
pid_t spawn(const std::vector<std::string> &argv, int in_fd, int out_fd, int err_fd,
            int close_fd)
{
    if (argv.empty())
        return -1;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawn_file_actions_adddup2(&actions, in_fd, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    if (close_fd >= 0)
        posix_spawn_file_actions_addclose(&actions, close_fd);
    // The child starts with default SIGPIPE handling whatever the viewer
    // does with it, so a reader that stops early ends the child.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t def;
    sigemptyset(&def);
    sigaddset(&def, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &def);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    std::vector<char *> args = c_argv(argv);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int wait_for(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

} // namespace

bool spawn_reader(const std::vector<std::string> &argv, ChildReader *child, const char *input)
{
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0)
        return false;
    int in_fd = null_fd;
    if (input != nullptr) {
        in_fd = open(input, O_RDONLY | O_CLOEXEC);
        if (in_fd < 0) {
            close(null_fd);
            return false;
        }
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (in_fd != null_fd)
            close(in_fd);
        close(null_fd);
        return false;
    }
    pid_t pid = spawn(argv, in_fd, fds[1], null_fd, fds[0]);
    close(fds[1]);
    if (in_fd != null_fd)
        close(in_fd);
    close(null_fd);
    if (pid < 0) {
        close(fds[0]);
        return false;
    }
    child->out = fdopen(fds[0], "r");
    if (child->out == nullptr) {
        close(fds[0]);
        kill(pid, SIGTERM);
        wait_for(pid);
        return false;
    }
    child->pid = pid;
    return true;
}

int close_reader(ChildReader *child)
{
    if (child->out != nullptr) {
        std::fclose(child->out);
        child->out = nullptr;
    }
    if (child->pid < 0)
        return -1;
    // Nobody reads its output any more: a child still working on a hostile
    // file is stopped rather than waited for.
    int status = 0;
    if (waitpid(child->pid, &status, WNOHANG) == child->pid) {
        child->pid = -1;
        return status;
    }
    kill(child->pid, SIGKILL);
    status = wait_for(child->pid);
    child->pid = -1;
    return status;
}

int run_program(const std::vector<std::string> &argv)
{
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0)
        return -1;
    pid_t pid = spawn(argv, null_fd, null_fd, null_fd, -1);
    close(null_fd);
    return pid < 0 ? -1 : wait_for(pid);
}

const char *zcat_path()
{
    static const char *path = access("/usr/bin/zcat", X_OK) == 0 ? "/usr/bin/zcat" : "/bin/zcat";
    return path;
}
