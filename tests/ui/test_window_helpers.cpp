// The windows' platform-free helpers: spin steps, scrolling, the log ring,
// the facts Info shows, and the sinks that hand a run's words to the UI.
#include <climits>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"
#include "ui/control_ids.h"
#include "ui/input_info.h"
#include "ui/log_ring.h"
#include "ui/placement.h"
#include "ui/scrolling.h"
#include "ui/steps.h"
#include "ui/toolkit_sinks.h"

namespace vesk {
namespace {

// Places worked out by hand: beside the main window where a side has room
// (right first), else the place hiding the fewest pixels of the main window
// and the others together (here 52 x 209 pixels of the main window).
TEST(Placement, BesideTheMainWindowWhereThereIsRoomElseWhereItHidesLeast)
{
    const Box hd{0, 0, 1920, 1080}, centred{548, 191, 824, 698}, processing{1380, 191, 460, 423};
    struct Row { Box screen, main; int width, height; std::vector<Box> others; Box expected; };
    const Row rows[] = {
        {hd, centred, 460, 423, {}, processing},
        {hd, centred, 600, 400, {processing}, {1320, 680, 600, 400}},
        {hd, {1300, 100, 600, 500}, 500, 400, {}, {792, 100, 500, 400}},
        {{0, 0, 1000, 1000}, {100, 0, 800, 500}, 700, 400, {}, {100, 508, 700, 400}},
        {{0, 30, 1920, 1050}, {100, 600, 1700, 470}, 400, 300, {}, {100, 292, 400, 300}},
        {{0, 0, 800, 600}, {0, 0, 800, 600}, 1000, 700, {}, {0, 0, 1000, 700}},
    };
    for (const Row& r : rows) {
        const Box b = place_beside(r.screen, r.main, r.width, r.height, r.others);
        EXPECT_EQ(b, r.expected) << b.x << "," << b.y << " " << b.width << "x" << b.height;
    }
}

TEST(SpinSteps, EachSpinStepsItsOwnFieldUpBySemitonesAndTheBitCountWithin1To24)
{
    namespace c = control;
    using R = ParamRecord;
    const SemitoneSpin expected[] = {
        {c::fssim_spin, &R::fssim},     {c::fcloin_spin, &R::fcloin},   {c::fchiin_spin, &R::fchiin},
        {c::fcloout_spin, &R::fcloout}, {c::fchiout_spin, &R::fchiout}, {c::varispeedt_spin, &R::varispeedt},
        {c::varispeedf_spin, &R::varispeedf}};
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_TRUE(semitone_spins().at(i).spin == expected[i].spin && semitone_spins()[i].field == expected[i].field)
            << "spin " << expected[i].spin;
    // A spin button reports d = -1 for its upper arrow, which raises the value.
    const std::pair<int, double> semitone_rows[] = {
        {-1, 48000.0 * semitone_ratio}, {1, 48000.0 / semitone_ratio}, {-3, 48000.0 * semitone_factor(3)},
        {12, 48000.0 * semitone_factor(-12)}, {0, 48000.0}, {INT_MIN, INFINITY},
        {INT_MAX, 48000.0 * semitone_factor(-INT_MAX)},
    };
    for (const auto& [d, expected] : semitone_rows)
        EXPECT_EQ(semitone_step(48000.0, d), expected) << "d = " << d;
    // The difference is taken as a signed 32-bit integer before the clamp.
    const std::tuple<uint32_t, int, uint32_t> bit_rows[] = {
        {16, -1, 17}, {16, 1, 15}, {23, -1, 24}, {24, -1, 24}, {2, 1, 1},            {1, 1, 1},
        {0, -1, 1},   {0, 1, 1},   {5, -30, 24}, {100, 1, 24}, {3000000000u, -1, 1}, {24, INT_MIN, 1},
    };
    for (const auto& [bitnr, d, expected] : bit_rows)
        EXPECT_EQ(bitnr_step(bitnr, d), expected) << bitnr << " stepped by " << d;
}

TEST(Scrolling, ALineIsAHundredthOfTheRangeAPageATenthAndNeitherGoesPastAnEnd)
{
    using S = ScrollCode;
    const std::tuple<S, int, int, int, std::optional<int>> rows[] = { // code, range, scrolled, thumb, amount
        {S::line_down, 1000, 0, 0, 10},    {S::line_down, 50, 0, 0, 1},     {S::line_down, 1000, 995, 0, 5},
        {S::line_down, 1000, 1000, 0, {}}, {S::page_down, 1000, 0, 0, 100}, {S::page_down, 1000, 950, 0, 50},
        {S::page_down, 5, 0, 0, 1},        {S::page_down, 5, 5, 0, {}},     {S::line_up, 1000, 0, 0, {}},
        {S::line_up, 1000, 5, 0, -5},      {S::line_up, 1000, 500, 0, -10}, {S::page_up, 1000, 950, 0, -100},
        {S::page_up, 1000, 30, 0, -30},    {S::thumb_position, 1000, 300, 700, 400},
        {S::thumb_track, 1000, 300, 100, -200},
    };
    for (const auto& [code, range, scrolled, thumb, expected] : rows)
        EXPECT_EQ(scroll_amount(code, range, scrolled, thumb), expected)
            << "code " << int(code) << ", range " << range << ", scrolled " << scrolled;
    // The first size is the design size; growing brings scrolled content back.
    ScrollState state;
    EXPECT_EQ(scroll_size_event(state, 800, 600).vertical.maximum, 0);
    ScrollBarSettings s = scroll_size_event(state, 600, 550);
    EXPECT_TRUE(s.horizontal.maximum == 200 && s.horizontal.page == 20 && s.vertical.maximum == 50 &&
                s.vertical.page == 5);
    EXPECT_EQ(scroll_vertical(state, ScrollCode::page_down, 0), 5);
    EXPECT_EQ(scroll_horizontal(state, ScrollCode::page_down, 0), 20);
    EXPECT_EQ(scroll_vertical(state, ScrollCode::thumb_position, 50), 45);
    EXPECT_EQ(scroll_vertical(state, ScrollCode::line_down, 0), std::nullopt);
    s = scroll_size_event(state, 590, 580);
    EXPECT_TRUE(s.vertical.maximum == 20 && s.vertical.position == 20 && state.vscrollpos == 20);
    EXPECT_TRUE(s.horizontal.position == 20 && state.hscrollpos == 20);
    s = scroll_size_event(state, 900, 700);
    EXPECT_TRUE(s.vertical.maximum == 0 && state.vscrollpos == 0 && state.hscrollpos == 0 && state.fullwidth == 800);
}

std::string lines(int from, int to)
{
    std::string text;
    for (int n = from; n < to; ++n)
        text += 'L' + std::to_string(n) + '\n';
    return text;
}

TEST(LogRing, KeepsTheLast24LinesOldestFirstAndClearStartsAgainAtSlotZero)
{
    LogRing ring;
    for (int n = 0; n < 60; ++n) {
        ASSERT_EQ(ring.joined(), lines(std::max(0, n - LogRing::size), n)) << n << " lines";
        ASSERT_EQ(ring.logindex(), n % LogRing::size) << n << " lines";
        ring.append('L' + std::to_string(n) + '\n');
    }
    ring.clear();
    EXPECT_TRUE(ring.joined().empty() && ring.logindex() == 0) << ring.logindex();
    ring.append("a"), ring.append("b\n"); // a line without newline runs on into the next
    EXPECT_EQ(ring.loglines()[0] + "|" + ring.joined(), "a|ab\n");
}

// Samples per channel count the whole bytes a sample takes in the file.
TEST(InputInfo, FactsOfPcmFilesOfEveryWidthAndWhyAFileIsRefused)
{
    const std::tuple<uint16_t, uint32_t, uint16_t, uint32_t, uint32_t> rows[] = { // channels, rate, bits, frames, size
        {2, 44100, 16, 1234, 4936}, {1, 48000, 24, 500, 1500}, {2, 8000, 4, 10, 20},
        {1, 8000, 12, 10, 20},      {3, 96000, 8, 7, 21},      {1, 22050, 32, 9, 36},
    };
    test::TempDir dir;
    for (const auto& [channels, rate, bits, frames, size] : rows) {
        const std::vector<std::vector<int32_t>> samples(channels, std::vector<int32_t>(frames, 3));
        test::write_file(dir.file("in.wav"), test::make_pcm_wav(channels, rate, bits, samples));
        InputInfo info;
        ASSERT_EQ(read_input_info(dir.file("in.wav"), info), InputInfoResult::ok) << bits << " bits";
        EXPECT_EQ(format_input_info(info), format_input_info({frames, bits, size, rate, channels}));
    }
    EXPECT_EQ(format_input_info({4294967295u, 16, 192000, 48000, 2}),
              "samples:     4294967295\nquantization:        16 bit\nsize:            192000 bytes\n"
              "samplerate:       48000 Hz\nchannels:             2\n");
    const std::vector<int32_t> four(4, 0);
    test::write_file(dir.file("float.wav"), test::make_pcm_wav(1, 8000, 16, {four}, test::WavOptions().with_format_tag(3)));
    test::write_file(dir.file("fmt18.wav"), test::make_pcm_wav(1, 8000, 16, {four}, test::WavOptions().with_fmt_size(18)));
    test::write_file(dir.file("text.wav"), {'h', 'e', 'l', 'l', 'o', '\n'});
    const std::tuple<std::string, InputInfoResult, std::string> refusals[] = {
        {"missing.wav", InputInfoResult::cannot_open, "cannot open WAV input"},
        {"float.wav", InputInfoResult::not_pcm, "wav-in: WAV must be PCM\n"},
        {"fmt18.wav", InputInfoResult::invalid_format, "wav-in: invalid or unsupported WAV-format"},
        {"text.wav", InputInfoResult::invalid_format, "wav-in: invalid or unsupported WAV-format"},
    };
    for (const auto& [name, result, message] : refusals) {
        InputInfo info{77, 0, 0, 0, 0};
        EXPECT_EQ(read_input_info(dir.file(name), info), result) << name;
        EXPECT_EQ(input_info_message(result), message);
        EXPECT_EQ(info.samples, 77u) << name;
    }
}

// Remembers whether each service ran inside call_on_ui, the worker's
// hand-over to the user-interface thread.
struct ThreadCheckingToolkit : Toolkit {
    bool on_ui = false;
    std::vector<std::pair<std::string, bool>> messages;
    void message(const std::string& text) override { messages.emplace_back(text, on_ui); }
    bool question(const std::string&) override { return false; }
    std::optional<std::string> choose_file(const FileChoice&) override { return {}; }
    void start_thread(std::function<void()>) override {}
    void call_on_ui(const std::function<void()>& call) override { on_ui = true, call(), on_ui = false; }
    void play(const std::string&) override {}
    void pause(int) override {}
};

TEST(ToolkitSinks, MessagesAndLogLinesAreHandedToTheUserInterfaceThreadInOrder)
{
    ThreadCheckingToolkit toolkit;
    std::vector<std::pair<std::string, bool>> shown;
    ToolkitLogSink log(toolkit, [&](const std::string& line) { shown.emplace_back(line, toolkit.on_ui); });
    ToolkitMessageSink messages(toolkit);
    log.append_log("one\n");
    messages.show_message("bad value");
    log.append_log("two\n");
    using Seen = std::vector<std::pair<std::string, bool>>;
    EXPECT_EQ(shown, (Seen{{"one\n", true}, {"two\n", true}}));
    EXPECT_EQ(toolkit.messages, (Seen{{"bad value", true}}));
}

} // namespace
} // namespace vesk
