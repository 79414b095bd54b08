// Launching a program with pipes on its three standard streams.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vesk::test {

struct ProcessResult {
    int status = -1;     // exit status; 128 + signal number when killed by one
    bool exited = false; // ended through exit(): not by a signal, nor killed after the time limit
    std::string out, err;
};

// A started child.  Its standard input stays open until close_input(), so a
// test can act while the child still waits for more.  Outputs are small:
// the pipes are drained while waiting.
class Child {
public:
    Child(const std::string& program, std::vector<std::string> args)
    {
        int out[2], err[2], in[2];
        if (pipe(out) != 0 || pipe(err) != 0 || pipe(in) != 0 || (pid_ = fork()) < 0)
            return;
        if (pid_ == 0) {
            dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2);
            for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]})
                close(fd);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]), close(err[1]), close(in[0]);
        fds_ = {out[0], err[0], in[1]};
        fcntl(out[0], F_SETFL, O_NONBLOCK), fcntl(err[0], F_SETFL, O_NONBLOCK);
    }
    ~Child()
    {
        if (result_.status < 0 && pid_ > 0)
            kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        for (int fd : fds_)
            if (fd >= 0)
                close(fd);
    }
    pid_t pid() const { return pid_; }
    // Small texts only: the pipe takes them at once.
    void feed(const std::string& text) { [[maybe_unused]] const ssize_t n = write(fds_[2], text.data(), text.size()); }
    void close_input() { close(fds_[2]), fds_[2] = -1; }
    // Collects output until `enough(standard output so far)` holds (true),
    // or the child has ended or `seconds` have passed (false).
    bool wait_for_output(const std::function<bool(const std::string&)>& enough, double seconds)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (char buffer[4096]; std::chrono::steady_clock::now() < end;) {
            for (int i : {0, 1})
                for (ssize_t n; (n = read(fds_[i], buffer, sizeof buffer)) > 0;)
                    (i == 0 ? result_.out : result_.err).append(buffer, static_cast<std::size_t>(n));
            if (result_.status >= 0 || enough(result_.out))
                return result_.status < 0;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) // one more pass collects the rest
                result_.exited = WIFEXITED(status), result_.status = result_.exited ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    // Waits up to `seconds` for the child to end; kills it after that.
    ProcessResult finish(double seconds)
    {
        wait_for_output([](const std::string&) { return false; }, seconds);
        if (result_.status < 0)
            kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0), result_.status = 128 + SIGKILL;
        return result_;
    }

private:
    pid_t pid_ = -1;
    std::vector<int> fds_{-1, -1, -1}; // standard output, error, input
    ProcessResult result_;
};

} // namespace vesk::test
