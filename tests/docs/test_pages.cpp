// README.md and the pages under docs/ say what to run and what it prints: every command block
// runs here as a reader would run it (or, where it builds or installs, is run by CI), and its
// output must hold what the page shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "docs.h"

namespace {

namespace fs = std::filesystem;
using docs::Block;

const char* const kPages[] = {"README.md",           "docs/using.md",   "docs/player-core.md",
                              "docs/video-outputs.md", "docs/sample-service.md", "docs/updates.md",
                              "docs/testing.md",     "docs/fuzzing.md", "docs/benchmarks.md"};

std::string Where(const Block& b) { return b.page + ":" + std::to_string(b.line); }

std::string Command(const std::string& line) {
    std::string s = line;
    // A comment after the command is the reader's, not the shell's.
    if (size_t hash = s.find(" #"); hash != std::string::npos) s = s.substr(0, hash);
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// Commands that build, install or run the whole suite belong to CI, not to a test.
bool ForCi(const std::string& command) {
    for (const char* p : {"scripts/run", "scripts/test", "scripts/fuzz", "scripts/build", "cmake ", "ctest "})
        if (command.rfind(p, 0) == 0) return true;
    return false;
}

bool IsBenchmark(const std::string& command) {
    return command.find("_bench") != std::string::npos || command.find("/bench_") != std::string::npos ||
           command.find("scripts/bench-http") != std::string::npos || command.find("tools/bench/") != std::string::npos;
}

// The block as this sandbox runs it: the sample service on the test's port, and waited for
// until it listens when started in the background.
std::string Prepare(const Block& b, int port) {
    const std::string p = std::to_string(port);
    std::string out;
    for (std::string line : b.lines) {
        for (size_t at; (at = line.find("18080")) != std::string::npos;) line.replace(at, 5, p);
        const std::string service = "lumeo-sample-service";
        size_t at = line.find(service);
        bool startsService = at != std::string::npos && Command(line).rfind("#", 0) != 0;
        if (startsService && line.find("--port") == std::string::npos) line.insert(at + service.size(), " --port " + p);
        out += line + "\n";
        std::string c = Command(line);
        if (startsService && !c.empty() && c.back() == '&')
            out += "for _ in $(seq 1200); do (exec 3<>/dev/tcp/127.0.0.1/" + p +
                   ") 2>/dev/null && break; sleep 0.05; done\n";
    }
    return out;
}

// Runs a page's blocks in page order in `box`, as one reader at one shell: what a block left
// running (a sample service started with "&") is there for the next blocks, and all of them
// use the one `port`. Checks each block as the page states it; the number of blocks run.
int RunBlocks(const std::string& page, const docs::Sandbox& box, int port) {
    std::vector<Block> blocks = docs::Blocks(page);
    std::vector<std::string> ciLines;
    std::istringstream ci(docs::ReadSource(".ci/run"));
    for (std::string l; std::getline(ci, l);)
        if (Command(l).rfind("#", 0) != 0) ciLines.push_back(l);
    int ran = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const Block& b = blocks[i];
        if (b.info == "output") {
            EXPECT_TRUE(i > 0 && blocks[i - 1].info == "sh") << Where(b) << ": an output block that follows no command";
            continue;
        }
        if (b.info.rfind("docs/examples/", 0) == 0) {
            std::string text;
            for (const auto& l : b.lines) text += l + "\n";
            EXPECT_EQ(text, docs::ReadSource(b.info)) << Where(b) << ": the block is not " << b.info;
            continue;
        }
        if (b.info != "sh") continue;
        std::vector<std::string> commands;
        for (const auto& l : b.lines)
            if (std::string c = Command(l); !c.empty() && c[0] != '#') commands.push_back(c);
        EXPECT_FALSE(commands.empty()) << Where(b) << ": an empty command block";
        if (commands.empty()) continue;
        std::vector<std::string> expected;
        if (i + 1 < blocks.size() && blocks[i + 1].info == "output") expected = blocks[i + 1].lines;

        if (ForCi(commands[0])) {
            EXPECT_TRUE(expected.empty()) << Where(b) << ": CI does not check output";
            for (const auto& c : commands) {
                EXPECT_TRUE(ForCi(c)) << Where(b) << ": '" << c << "' is run by neither a test nor CI (keep it apart)";
                bool found = std::any_of(ciLines.begin(), ciLines.end(),
                                         [&](const std::string& l) { return l.find(c) != std::string::npos; });
                EXPECT_TRUE(found) << Where(b) << ": .ci/run does not run '" << c << "'";
            }
            continue;
        }
        bool bench = std::any_of(commands.begin(), commands.end(), IsBenchmark);
        if (bench && !LUMEO_DOCS_BENCH) continue;  // this tree builds no benchmarks

        std::string output;
        // Benchmarks run as short as they can: the test checks that they work, not how fast.
        int status = box.Run(Prepare(b, port),
                             {{"LUMEO_API_HOST", "127.0.0.1:" + std::to_string(port)},
                              {"LUMEO_BENCH_QUICK", "1"},
                              {"BENCHMARK_MIN_TIME", "0.01"}},
                             600000, &output, true);
        ++ran;
        EXPECT_EQ(status, 0) << Where(b) << ": the commands failed:\n" << output;
        std::string why;
        EXPECT_TRUE(docs::HoldsInOrder(output, expected, &why))
            << Where(b) << ": the output is not what the page shows: " << why << "\n" << output;
    }
    return ran;
}

// After a page, nothing it started goes on listening: a block that starts the sample service
// stops it too.
void ExpectNothingLeftListening(const std::string& page, int port) {
    EXPECT_EQ(docs::Listening(port), false) << page << ": a sample service started on it is still running";
}

class Page : public testing::TestWithParam<const char*> {};

// A reader of this page alone, in a folder and on a port of its own.
TEST_P(Page, EveryCommandRunsAndPrintsWhatThePageShows) {
    docs::Sandbox box;
    int port = docs::FreePort();
    ASSERT_GT(port, 0);
    RecordProperty("blocks_run", RunBlocks(GetParam(), box, port));
    ExpectNothingLeftListening(GetParam(), port);
}

// One reader who follows README.md and every page after it in order, on one machine: one
// folder, one port for the whole run, and what a page left is met by the next.
TEST(Pages, EveryBlockOfEveryPageInOrderByOneReader) {
    docs::Sandbox box;
    int port = docs::FreePort();
    ASSERT_GT(port, 0);
    auto entries = [&] {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(box.path()))
            if (e.path().filename().string().rfind(".block", 0) != 0) names.insert(e.path().filename().string());
        return names;
    };
    std::set<std::string> before = entries();
    int ran = 0;
    for (const char* page : kPages) {
        ran += RunBlocks(page, box, port);
        ExpectNothingLeftListening(page, port);
    }
    RecordProperty("blocks_run", ran);
    // What the pages make goes to build/; nothing lands in the checkout beside it.
    EXPECT_EQ(entries(), before);
}

// Where the pages say a tap, a long press or a drag lands, an example makes it and its test
// checks what it did.
TEST_P(Page, EveryTapHoldAndDragItStatesIsOneAnExampleMakes) {
    std::set<std::string> made;
    for (const auto& e : fs::directory_iterator(docs::SourceDir() + "/docs/examples")) {
        std::istringstream in(docs::ReadSource("docs/examples/" + e.path().filename().string()));
        for (std::string l; std::getline(in, l);) made.insert(l);
    }
    std::regex input(R"((tap|hold) -?\d+ -?\d+|drag( -?\d+){4} \d+)");
    for (const auto& span : docs::InlineCode(GetParam())) {
        if (!std::regex_match(span.text, input)) continue;
        EXPECT_TRUE(made.count(span.text)) << GetParam() << ":" << span.line << ": no example makes `" << span.text << "`";
    }
}

INSTANTIATE_TEST_SUITE_P(Docs, Page, testing::ValuesIn(kPages), [](const testing::TestParamInfo<const char*>& info) {
    std::string name = fs::path(info.param).stem().string();
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

TEST(Pages, TheTestedPagesAreAllThePages) {
    std::set<std::string> listed(std::begin(kPages), std::end(kPages)), found = {"README.md"};
    for (const auto& e : fs::directory_iterator(docs::SourceDir() + "/docs"))
        if (e.path().extension() == ".md") found.insert("docs/" + e.path().filename().string());
    EXPECT_EQ(found, listed);
}

// The pages link to one another and to files of the checkout: every link leads somewhere.
TEST(Pages, EveryLinkLeadsToAFileOfTheCheckout) {
    std::regex link(R"(\]\(([^)#\s]+)(#[^)]*)?\))");
    for (const char* page : kPages) {
        std::string text = docs::ReadSource(page);
        fs::path base = fs::path(docs::SourceDir()) / fs::path(page).parent_path();
        for (auto it = std::sregex_iterator(text.begin(), text.end(), link); it != std::sregex_iterator(); ++it) {
            std::string target = (*it)[1].str();
            if (target.find("://") != std::string::npos) continue;
            EXPECT_TRUE(fs::exists(base / target)) << page << ": the link to " << target << " leads nowhere";
        }
    }
}

}  // namespace
