// Runs of vesk-batch that meet a fault of the machine rather than of the
// input: no memory, an output folder that refuses new files, a full disk,
// an output path that is no file, and a kill in the middle of the run.
// Each ends with its message (or, killed, with nothing to say) and never
// leaves a damaged file at the output path nor loses the file that was
// there.
#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/memory.h"
#include "support/batch_runs.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

#if defined(__SANITIZE_ADDRESS__)
#define VESK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VESK_UNDER_ASAN 1
#endif
#endif

namespace vesk {
namespace {

using test::ProcessResult;
using test::run_process;
using test::tone;
using test::WavOptions;
using Bytes = std::vector<uint8_t>;

const Bytes previous = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

// The folder holds the input, and the output only when `output` is set; no
// temporary file is left in it.
void expect_nothing_left(const test::TempDir& dir, bool had_previous)
{
    if (had_previous) {
        EXPECT_EQ(test::read_file(dir.file("out.wav")), previous);
        EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
    } else {
        EXPECT_EQ(dir.listing(), std::vector<std::string>{"in.wav"});
    }
}

// vesk-batch on dir/in.wav with the extra batch `lines`, writing dir/out.wav,
// with `in_child` narrowing the child before it starts.
ProcessResult run_batch(const test::TempDir& dir, const std::vector<std::string>& lines,
                        const std::function<void()>& in_child = {},
                        const std::function<void(const std::string&, pid_t)>& on_output = {})
{
    std::vector<std::string> args = {"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + dir.file("out.wav")};
    for (const std::string& line : lines) {
        args.push_back("-e");
        args.push_back(line);
    }
    args.push_back("-e");
    args.push_back("process");
    return run_process(VESK_BATCH_EXE, args, "", "", on_output, in_child);
}

std::function<void()> address_space_limit(uint64_t bytes)
{
    return [bytes] {
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_AS, &limit);
    };
}

// ---- memory ------------------------------------------------------------------

class NoMemory : public ::testing::Test {
protected:
    void SetUp() override
    {
#ifdef VESK_UNDER_ASAN
        GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space for its shadow memory, so a "
                        "program built with it cannot start under an address-space limit";
#endif
    }
    test::TempDir dir;
};

TEST_F(NoMemory, EachBufferThatCannotBeHadEndsTheRunCleanly)
{
    struct Row {
        const char* name;
        Bytes file;
        std::vector<std::string> lines;
        const char* buffer;
    };
    // Far more than the limit below, and each the first block of its run.
    const Row rows[] = {
        // 1.5 GiB of declared samples: the input buffer comes first.
        {"input buffer", test::make_pcm_wav(1, 48000, 16, {tone(100, 1000, 0.01)}, WavOptions().with_data_size(0x60000000u)),
         {}, "wavinpbuf"},
        // 40 million output samples at 2^27 working samples: 120 MB of output
        // fit, a working array of 1 GiB does not.
        {"working arrays", test::make_pcm_wav(1, 48000, 16, {tone(4800, 1000, 0.01)}), {"varispeedt 0.00012"}, "sampbuf1_re"},
        // The same length on the spectrum: its tables come before the buffers.
        {"transform tables", test::make_pcm_wav(1, 48000, 16, {tone(4800, 1000, 0.01)}), {"varispeedf 0.00012"},
         "fft_coeff_re"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::write_file(dir.file("in.wav"), row.file);
        for (const bool had_previous : {false, true}) {
            if (had_previous)
                test::write_file(dir.file("out.wav"), previous);
            const ProcessResult run = run_batch(dir, row.lines, address_space_limit(uint64_t{512} << 20));
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "vesk: cannot malloc " + std::string(row.buffer) + "\nvesk: cannot allocate memory\n");
            EXPECT_EQ(run.out.find("writing output"), std::string::npos);
            expect_nothing_left(dir, had_previous);
        }
        std::filesystem::remove(dir.file("out.wav"));
    }
}

// Sizes at the top of the range must not wrap to a small block when they
// are rounded up to the alignment.
TEST(BlockAllocation, SizesThatCannotBeRoundedUpAreRefused)
{
    const uint64_t huge_page = uint64_t{2} << 20;
    for (const uint64_t bytes : {UINT64_MAX, UINT64_MAX - 1, UINT64_MAX - huge_page + 2, UINT64_MAX - huge_page + 1}) {
        SCOPED_TRACE(bytes);
        void* block = allocate_block(bytes);
        EXPECT_EQ(block, nullptr);
        std::free(block);
    }
    void* small = allocate_block(100);
    EXPECT_NE(small, nullptr);
    std::free(small);
}

// Between "not enough to start" and "enough for everything" lie limits at
// which some block of the run, large or small, cannot be had: a buffer, a
// table, a helper thread's stack, a line of the log.  At each of them the
// run either completes or ends with status 1 and its message; it never
// crashes and never leaves anything behind.
TEST_F(NoMemory, EveryLimitGivesACompleteRunOrACleanFailure)
{
    // A spectral chain of 2^18 working samples: a few megabytes of buffers
    // and tables, and a transform table set-up that starts a helper thread.
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(1, 48000, 16, {tone(100000, 10000, 0.01)}));
    // The smallest limit (in steps of 4 MiB) under which the program starts
    // at all.
    uint64_t base = 0;
    for (uint64_t mib = 4; mib <= 1024 && base == 0; mib += 4) {
        const ProcessResult idle = run_process(VESK_BATCH_EXE, {"-e", "stop"}, "", "", {}, address_space_limit(mib << 20));
        if (idle.status == 0)
            base = mib << 20;
    }
    ASSERT_NE(base, 0u) << "vesk-batch does not start under any limit up to 1 GiB";

    const std::regex failure("(vesk: cannot malloc [a-z0-9_]+\n)?vesk: cannot allocate memory\n");
    int completed = 0, refused = 0;
    for (uint64_t extra = 0; extra <= (uint64_t{96} << 20); extra += uint64_t{2} << 20) {
        SCOPED_TRACE("limit " + std::to_string((base + extra) >> 20) + " MiB");
        const ProcessResult run = run_batch(dir, {"fchiin 8000"}, address_space_limit(base + extra));
        ASSERT_TRUE(run.status == 0 || run.status == 1) << "status " << run.status << "\n" << run.err;
        if (run.status == 0) {
            ++completed;
            EXPECT_EQ(run.err, "");
            test::Pcm24File output;
            EXPECT_TRUE(test::parse_pcm24_output(test::read_file(dir.file("out.wav")), output));
            EXPECT_EQ(output.samples.at(0).size(), 100000u);
            std::filesystem::remove(dir.file("out.wav"));
        } else {
            ++refused;
            EXPECT_TRUE(std::regex_match(run.err, failure)) << run.err;
            expect_nothing_left(dir, false);
        }
    }
    // The range spans the boundary, or the test proves nothing.
    EXPECT_GT(completed, 0);
    EXPECT_GT(refused, 0);
}

// ---- the output cannot be written -------------------------------------------------

TEST(OutputFaults, ReadOnlyFolderRefusesTheOutput)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(1, 48000, 16, {tone(1000, 10000, 0.01)}));
    const std::filesystem::path folder = dir.path() / "read-only";
    std::filesystem::create_directory(folder);
    test::write_file((folder / "kept.wav").string(), previous);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                             std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
                                             std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    // Permissions do not hold the superuser back: the run then gives up its
    // privileges and goes on as the unprivileged user "nobody" (65534), for
    // whom the folder is read-only as for anyone.
    const auto unprivileged = [] {
        if (geteuid() == 0) {
            setgroups(0, nullptr);
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(126);
        }
    };
    for (const char* name : {"new.wav", "kept.wav"}) {
        SCOPED_TRACE(name);
        const ProcessResult run = run_process(
            VESK_BATCH_EXE,
            {"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + (folder / name).string(), "-e", "process"}, "",
            "", {}, unprivileged);
        if (run.status == 126 || run.status == 127)
            GTEST_SKIP() << "vesk-batch cannot be run as an unprivileged user here (status " << run.status
                         << "): the build or the temporary folder is out of that user's reach";
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "vesk: cannot open WAV output\n");
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"kept.wav"});
    EXPECT_EQ(test::read_file((folder / "kept.wav").string()), previous);
}

TEST(OutputFaults, DeviceIsNoOutputFile)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(1, 48000, 16, {tone(1000, 10000, 0.01)}));
    const auto dev_listing = [] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator("/dev"))
            names.push_back(entry.path().filename().string());
        return names;
    };
    // /dev/full: every write fails as on a full disk; /dev/null would swallow
    // the output.  Neither is a file a run may replace.
    for (const char* device : {"/dev/full", "/dev/null"}) {
        SCOPED_TRACE(device);
        const ProcessResult run = test::vesk_batch(
            {"-e", "inpwavname " + dir.file("in.wav"), "-e", std::string("outwavname ") + device, "-e", "process"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "vesk: cannot open WAV output\n");
        EXPECT_TRUE(std::filesystem::is_character_file(device));
    }
    for (const std::string& name : dev_listing())
        EXPECT_EQ(name.find(".vesk-"), std::string::npos) << name;
}

// A disk that fills up while the samples are written: the file size limit
// of the child stands in for it (the signal it would raise is ignored, so
// the write fails as on a full disk).
TEST(OutputFaults, FullDiskLeavesNothingBehind)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(2, 48000, 16, {tone(20000, 10000, 0.01), tone(20000, 9000, 0.02)}));
    for (const uint64_t limit : {uint64_t{0}, uint64_t{20}, uint64_t{4096}, uint64_t{100000}}) {
        for (const bool had_previous : {false, true}) {
            SCOPED_TRACE("limit " + std::to_string(limit) + (had_previous ? ", previous file" : ""));
            if (had_previous)
                test::write_file(dir.file("out.wav"), previous);
            const ProcessResult run = run_batch(dir, {}, [limit] {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit size{limit, limit};
                setrlimit(RLIMIT_FSIZE, &size);
            });
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "vesk: cannot write samples\n");
            expect_nothing_left(dir, had_previous);
            std::filesystem::remove(dir.file("out.wav"));
        }
    }
}

TEST(OutputFaults, FolderAtTheOutputPathIsRefused)
{
    test::TempDir dir;
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(1, 48000, 16, {tone(1000, 10000, 0.01)}));
    std::filesystem::create_directory(dir.file("out.wav"));
    test::write_file(dir.file("out.wav/inside"), previous);
    for (const std::string& path : {dir.file("out.wav"), dir.file("out.wav/"), dir.file(".")}) {
        SCOPED_TRACE(path);
        const ProcessResult run =
            test::vesk_batch({"-e", "inpwavname " + dir.file("in.wav"), "-e", "outwavname " + path, "-e", "process"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "vesk: cannot open WAV output\n");
        EXPECT_EQ(dir.listing(), (std::vector<std::string>{"in.wav", "out.wav"}));
        EXPECT_EQ(test::read_file(dir.file("out.wav/inside")), previous);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("out.wav")), {}), 1);
    }
}

// ---- killed ----------------------------------------------------------------------

// A run killed outright (no handler runs, no file is closed) at various
// points: the output path holds the file that was there, or nothing, or the
// complete output if the run got to the end first; beside it there is at
// most the run's hidden temporary file.
TEST(Killed, RunLeavesAtMostATemporaryFile)
{
    test::TempDir dir;
    // 16 channels of rate conversion: long enough to be killed at each point,
    // with an output of several megabytes to be caught while it is written.
    std::vector<std::vector<int32_t>> channels(16, tone(2 * 48000, 10000, 0.01));
    test::write_file(dir.file("in.wav"), test::make_pcm_wav(16, 48000, 16, channels));
    const std::regex temporary(R"(\.out\.wav\.vesk-[0-9a-f]+\.tmp)");
    struct Point {
        const char* line;
        int delay_ms;
    };
    const Point points[] = {{"chnr:", 0},           {"reading input", 0},  {"--- processing channel 0:", 0},
                            {"--- processing channel 9:", 0}, {"writing output", 0}, {"writing output", 2},
                            {"writing output", 10}};
    for (const bool had_previous : {true, false}) {
        for (const Point& point : points) {
            SCOPED_TRACE(std::string(point.line) + " +" + std::to_string(point.delay_ms) + " ms" +
                         (had_previous ? ", previous file" : ""));
            std::filesystem::remove(dir.file("out.wav"));
            if (had_previous)
                test::write_file(dir.file("out.wav"), previous);
            bool sent = false;
            const ProcessResult run = run_batch(dir, {"fssrc 44100 ensrc TRUE"}, {}, [&](const std::string& out, pid_t pid) {
                if (!sent && out.find(point.line) != std::string::npos) {
                    if (point.delay_ms > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(point.delay_ms));
                    kill(pid, SIGKILL);
                    sent = true;
                }
            });
            ASSERT_TRUE(sent);
            const bool finished = run.status == 0;
            if (!finished) {
                EXPECT_EQ(run.status, 128 + SIGKILL);
            }
            int temporaries = 0;
            for (const std::string& name : dir.listing()) {
                if (name == "in.wav" || name == "out.wav")
                    continue;
                EXPECT_TRUE(std::regex_match(name, temporary)) << name;
                ++temporaries;
            }
            EXPECT_LE(temporaries, finished ? 0 : 1);
            const bool there = std::filesystem::exists(dir.file("out.wav"));
            if (there) {
                const Bytes out = test::read_file(dir.file("out.wav"));
                if (out != previous) {
                    // Only a run that got to its end replaces the file, and
                    // then with the whole output.
                    test::Pcm24File output;
                    EXPECT_TRUE(test::parse_pcm24_output(out, output));
                    EXPECT_EQ(output.channels, 16u);
                    EXPECT_EQ(output.samples.at(0).size(), 88200u);
                }
            } else {
                EXPECT_FALSE(had_previous) << "the previous file is gone";
            }
            for (const std::string& name : dir.listing())
                if (name != "in.wav" && name != "out.wav")
                    std::filesystem::remove(dir.file(name));
        }
    }
}

} // namespace
} // namespace vesk
