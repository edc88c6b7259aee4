// The built program started as people start it: with a wrong setting in the environment or
// on the command line, a second time while one runs (from any folder), and headless with
// nobody to answer its message boxes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "programRun.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

// The exit code of a process that ended by itself; -1 for one killed or not ended.
int ExitCode(int status) { return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// One table for the variables and the options that do the same.
struct Setting {
    const char* variable;
    const char* option;
    const char* value;
};

const Setting kBadSettings[] = {
    {"LUMEO_API_HOST", "--api-host", "media example.test"},
    {"LUMEO_API_HOST", "--api-host", "127.0.0.1:"},
    {"LUMEO_API_HOST", "--api-host", ":18080"},
    {"LUMEO_API_HOST", "--api-host", "127.0.0.1:0"},
    {"LUMEO_API_HOST", "--api-host", "127.0.0.1:65536"},
    {"LUMEO_API_HOST", "--api-host", "127.0.0.1:80a"},
    {"LUMEO_API_HOST", "--api-host", "http://127.0.0.1"},
    {"LUMEO_API_HOST", "--api-host", "媒体.example"},
    {"LUMEO_SCREEN", "--screen", "480"},
    {"LUMEO_SCREEN", "--screen", "480x"},
    {"LUMEO_SCREEN", "--screen", "480x800x2"},
    {"LUMEO_SCREEN", "--screen", "32x32"},
};

const Setting kGoodSettings[] = {
    {"LUMEO_API_HOST", "--api-host", "127.0.0.1:18080"},
    {"LUMEO_API_HOST", "--api-host", "media-1.example.test"},
    {"LUMEO_SCREEN", "--screen", "800x480"},
};

TEST(StartsRun, AVariableIsRefusedAsItsOptionIs) {
    nettest::SampleService service;
    InstalledProgram program(service);
    for (const Setting& s : kBadSettings) {
        SCOPED_TRACE(std::string(s.variable) + "=" + s.value);
        int byOption = program.RunWith({s.option, s.value}, {}, 30000);
        std::string optionSaid = FirstLine(program.Errors());
        int byVariable = program.RunWith({}, {std::string(s.variable) + "=" + s.value}, 30000);
        std::string variableSaid = FirstLine(program.Errors());
        EXPECT_EQ(ExitCode(byOption), 2) << optionSaid;
        EXPECT_EQ(ExitCode(byVariable), 2) << variableSaid;
        EXPECT_NE(optionSaid.find(s.value), std::string::npos) << optionSaid;
        EXPECT_NE(variableSaid.find(s.value), std::string::npos) << variableSaid;
        // The host's refusal does not name where the value came from: the same words.
        if (std::string(s.option) == "--api-host") {
            EXPECT_EQ(variableSaid, optionSaid);
        }
        // Bad in the environment, it is refused even where the option would win over it.
        if (std::string(s.option) == "--api-host") {
            int both = program.RunWith({"--api-host", service.host(), "--help"},
                                       {std::string(s.variable) + "=" + s.value}, 30000);
            EXPECT_EQ(ExitCode(both), 2);
        }
    }
    for (const Setting& s : kGoodSettings) {
        SCOPED_TRACE(std::string(s.variable) + "=" + s.value);
        EXPECT_EQ(ExitCode(program.RunWith({s.option, s.value, "--help"}, {}, 30000)), 0) << program.Errors();
        EXPECT_EQ(ExitCode(program.RunWith({"--help"}, {std::string(s.variable) + "=" + s.value}, 30000)), 0)
            << program.Errors();
    }
}

TEST(StartsRun, AnOptionWithoutItsValueSaysSo) {
    nettest::SampleService service;
    InstalledProgram program(service);
    for (const char* option : {"--api-host", "--screen", "--script"}) {
        SCOPED_TRACE(option);
        EXPECT_EQ(ExitCode(program.RunWith({option}, {}, 30000)), 2);
        EXPECT_EQ(FirstLine(program.Errors()), std::string("Lumeo: ") + option + " needs a value");
    }
}

// Whether the runtime folder holds an announced frame.
bool FrameAnnounced(const std::string& runtime) {
    std::error_code ec;
    for (auto& e : fs::directory_iterator(runtime, ec))
        if (e.path().extension() == ".win") return true;
    return false;
}

TEST(StartsRun, ASecondStartHandsOverAndAScriptedOneFails) {
    nettest::SampleService service;
    InstalledProgram first(service), second(service);
    std::atomic<bool> secondDone{false};
    int firstStatus = -3;
    std::thread firstRun([&] {
        std::string gate = first.Gate([&] { return secondDone.load(); });
        gate.insert(gate.size() - 1, " 100000");
        firstStatus = first.Run("wait idle\n" + gate + "quit\n", 120000);
    });
    // However this test ends, the first run is let go.
    struct Release {
        std::atomic<bool>& done;
        std::thread& run;
        ~Release() {
            done = true;
            if (run.joinable()) run.join();
        }
    } release{secondDone, firstRun};
    // The second is another copy in a folder of its own; what they share is the user's
    // runtime folder, here the first one's.
    std::string runtime = first.dir().path() + "/run";
    for (int i = 0; i < 6000 && !FrameAnnounced(runtime) && firstStatus == -3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(FrameAnnounced(runtime)) << first.Errors();
    std::vector<std::string> shared = {"LUMEO_RUNTIME_DIR=" + runtime};
    const std::string said = "Lumeo is already running and was brought to the front";

    std::string script = second.dir().path() + "/shot.script", shot = second.dir().path() + "/shot.png";
    std::ofstream(script) << "wait idle\nscreenshot " << shot << "\nquit\n";
    int scripted = second.RunWith({"--script", script, "--api-host", service.host()}, shared, 60000);
    EXPECT_NE(ExitCode(scripted), 0) << "a script that was not run is no success";
    EXPECT_NE(ExitCode(scripted), -1) << "it did not end by itself";
    EXPECT_NE(second.Errors().find(said), std::string::npos) << second.Errors();
    EXPECT_FALSE(fs::exists(shot));

    int windowed = second.RunWith({"--headless", "--api-host", service.host()}, shared, 60000);
    EXPECT_EQ(ExitCode(windowed), 0) << second.Errors();
    EXPECT_NE(second.Errors().find(said), std::string::npos) << second.Errors();
    // Neither went on to a start of its own.
    EXPECT_FALSE(fs::exists(second.dir().path() + "/Xml"));

    secondDone = true;
    firstRun.join();
    EXPECT_TRUE(InstalledProgram::EndedNormally(firstStatus)) << firstStatus << "\n" << first.Errors();
}

TEST(StartsRun, ARefusedScreenSaysWhyOnStderrAndFailsWithOrWithoutAScript) {
    nettest::SampleService service;
    InstalledProgram program(service);
    const std::string said = "Lumeo: Message: 目前尚不支持分辨率为 456*123 的手机，请耐心等待升级版本。";
    // Nobody answers: the box takes its answer and the run ends.
    int alone = program.RunWith({"--headless", "--screen", "123x456", "--api-host", service.host()}, {}, 60000);
    EXPECT_NE(ExitCode(alone), -1) << "the run waited for an answer nobody gives";
    EXPECT_NE(ExitCode(alone), 0);
    EXPECT_NE(program.Errors().find(said), std::string::npos) << program.Errors();
    // A script may answer it, and it still says so and fails.
    std::string shot = program.dir().path() + "/shot.png";
    int scripted = program.Run("wait idle\nscreenshot " + shot + "\nquit\n", 60000, "123x456");
    EXPECT_NE(ExitCode(scripted), -1);
    EXPECT_NE(ExitCode(scripted), 0);
    EXPECT_NE(program.Errors().find(said), std::string::npos) << program.Errors();
}

}  // namespace
}  // namespace apptest
