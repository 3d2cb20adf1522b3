#pragma once
// One side of a benchmark in a child process of its own, so each side's
// memory, page cache warmth and peak resident size (getrusage) are its own,
// and the parent lets the sides take turns. Also the figures every
// benchmark prints: min and median of its rounds.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace krv::benchmark {

[[noreturn]] inline void fail(const std::string& why)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, why.c_str());
    std::exit(1);
}

// What one request of a side measured: up to two timings, in seconds.
struct Timed {
    double first = 0;
    double second = 0;
};

inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Min and median of a side's rounds.
struct Figures {
    double min = 0;
    double median = 0;
};

inline Figures figuresOf(std::vector<double> values)
{
    if (values.empty())
        fail("no rounds were measured");
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2]};
}

// `setUp` runs first in the child and its value goes back to the parent;
// then one `request` per call of `run` until the parent closes the pipe.
class Side {
public:
    Side(const std::function<uint64_t()>& setUp, const std::function<Timed(size_t)>& request)
    {
        int requests[2];
        int answers[2];
        if (::pipe(requests) != 0 || ::pipe(answers) != 0)
            fail("no pipe");
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ < 0)
            fail("no fork");
        if (pid_ == 0) {
            ::close(requests[1]);
            ::close(answers[0]);
            // The other sides' pipes are theirs: kept open here, a side
            // would never see its parent close its requests.
            for (int fd : parentEnds())
                ::close(fd);
            const uint64_t value = setUp();
            writeAll(answers[1], &value, sizeof value);
            uint8_t index = 0;
            while (readAll(requests[0], &index, 1)) {
                const Timed r = request(index);
                writeAll(answers[1], &r, sizeof r);
            }
            std::fflush(nullptr);
            ::_exit(0);
        }
        ::close(requests[0]);
        ::close(answers[1]);
        request_ = requests[1];
        answer_ = answers[0];
        parentEnds().push_back(request_);
        parentEnds().push_back(answer_);
        if (!readAll(answer_, &setUpValue_, sizeof setUpValue_))
            fail("a side could not start");
    }
    Side(const Side&) = delete;
    Side& operator=(const Side&) = delete;

    uint64_t setUpValue() const { return setUpValue_; }

    Timed run(size_t index)
    {
        const uint8_t byte = static_cast<uint8_t>(index);
        writeAll(request_, &byte, 1);
        Timed r;
        if (!readAll(answer_, &r, sizeof r))
            fail("a side stopped in a request");
        return r;
    }

    // Ends the child; its peak resident memory in KiB.
    long finish()
    {
        ::close(request_);
        ::close(answer_);
        int status = 0;
        rusage usage{};
        if (::wait4(pid_, &status, 0, &usage) != pid_ || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            fail("a side did not end well");
        return usage.ru_maxrss;
    }

private:
    static void writeAll(int fd, const void* data, size_t length)
    {
        if (::write(fd, data, length) != static_cast<ssize_t>(length))
            fail("lost touch with a side");
    }

    static bool readAll(int fd, void* data, size_t length)
    {
        auto* p = static_cast<char*>(data);
        while (length > 0) {
            const ssize_t n = ::read(fd, p, length);
            if (n <= 0)
                return false;
            p += n;
            length -= static_cast<size_t>(n);
        }
        return true;
    }

    static std::vector<int>& parentEnds()
    {
        static std::vector<int> fds;
        return fds;
    }

    pid_t pid_ = -1;
    int request_ = -1;
    int answer_ = -1;
    uint64_t setUpValue_ = 0;
};

}  // namespace krv::benchmark
