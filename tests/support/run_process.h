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
    int status = -1;       // exit status; 128 + signal number when killed by one
    bool exited = false;   // ended through exit(), not by a signal
    bool timed_out = false; // killed by the test after its time limit
    std::string out, err;
};

// A started child.  Its standard input stays open until close_input(), so a
// test can act while the child still waits for more.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args)
    {
        int out[2], err[2], in[2];
        if (pipe(out) != 0 || pipe(err) != 0 || pipe(in) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]})
                close(fd);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        close(in[0]);
        out_ = out[0];
        err_ = err[0];
        in_ = in[1];
        fcntl(out_, F_SETFL, O_NONBLOCK);
        fcntl(err_, F_SETFL, O_NONBLOCK);
    }
    ~Child()
    {
        if (!result_.exited && result_.status < 0 && pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {in_, out_, err_})
            if (fd >= 0)
                close(fd);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    void feed(const std::string& text) // small texts only: the pipe takes them at once
    {
        [[maybe_unused]] const ssize_t n = write(in_, text.data(), text.size());
    }
    void close_input()
    {
        close(in_);
        in_ = -1;
    }
    // Collects output until `enough(standard output so far)` holds (true) or
    // the child has ended or `seconds` have passed (false).
    bool wait_for_output(const std::function<bool(const std::string&)>& enough, double seconds)
    {
        return poll(seconds, [&] { return enough(result_.out); });
    }
    // Waits up to `seconds` for the child to end; kills it after that.
    ProcessResult finish(double seconds)
    {
        close_input_once();
        if (!poll(seconds, [] { return false; }) && result_.status < 0) {
            kill(pid_, SIGKILL);
            reap(0);
            result_.timed_out = true;
        }
        drain();
        return result_;
    }

private:
    void close_input_once()
    {
        if (in_ >= 0)
            close_input();
    }
    void drain()
    {
        char buffer[4096];
        for (ssize_t n; (n = read(out_, buffer, sizeof buffer)) > 0;)
            result_.out.append(buffer, static_cast<std::size_t>(n));
        for (ssize_t n; (n = read(err_, buffer, sizeof buffer)) > 0;)
            result_.err.append(buffer, static_cast<std::size_t>(n));
    }
    bool reap(int flags)
    {
        int status = 0;
        if (waitpid(pid_, &status, flags) != pid_)
            return false;
        result_.exited = WIFEXITED(status);
        result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }
    // True as soon as `done` holds; false when the child ended or time ran out.
    template <typename Done>
    bool poll(double seconds, const Done& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            drain();
            if (done())
                return true;
            if (result_.status >= 0 || reap(WNOHANG)) {
                drain();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1, in_ = -1;
    ProcessResult result_;
};

// Runs `program` to its end with `input` on standard input.
inline ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& input = "", double seconds = 60)
{
    Child child(program, args);
    child.feed(input);
    return child.finish(seconds);
}

} // namespace vesk::test
