// Runs a program the way a user's shell would, for end-to-end tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace vesk::test {

struct ProcessResult {
    int status = -1; // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs `program` with `args` in `workdir` (if not empty), with `input` on
// standard input.  `on_output` sees standard output as it arrives and may
// signal the child (its pid is passed along).  `in_child` runs in the child
// just before the program is started, to narrow what it may do (resource
// limits, a user without privileges); it must only make system calls.
inline ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& workdir = "", const std::string& input = "",
                                 const std::function<void(const std::string&, pid_t)>& on_output = {},
                                 const std::function<void()>& in_child = {})
{
    int out_pipe[2], err_pipe[2], in_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 || pipe(in_pipe) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], in_pipe[0], in_pipe[1]})
            close(fd);
        if (!workdir.empty() && chdir(workdir.c_str()) != 0)
            _exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (in_child)
            in_child();
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    close(in_pipe[0]);
    // Small inputs only: the pipe buffer takes them without blocking.
    if (!input.empty()) {
        [[maybe_unused]] const ssize_t written = write(in_pipe[1], input.data(), input.size());
    }
    close(in_pipe[1]);

    ProcessResult result;
    // Standard error is drained after standard output; tests keep it small.
    char buffer[4096];
    for (ssize_t n; (n = read(out_pipe[0], buffer, sizeof buffer)) > 0;) {
        result.out.append(buffer, static_cast<std::size_t>(n));
        if (on_output)
            on_output(result.out, pid);
    }
    for (ssize_t n; (n = read(err_pipe[0], buffer, sizeof buffer)) > 0;)
        result.err.append(buffer, static_cast<std::size_t>(n));
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace vesk::test
