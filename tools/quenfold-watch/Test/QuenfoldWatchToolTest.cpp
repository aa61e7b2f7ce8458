#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <gtest/gtest.h>

namespace {

/* Exit code of a shell command line */
int exitCode(const int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/* Exit code and first line of output of a shell command line */
std::pair<int, std::string> firstLine(const std::string& command) {
    std::FILE* const pipe = popen(command.c_str(), "r");
    if(!pipe) return {-1, "(popen() failed)"};
    char line[256]{};
    if(!std::fgets(line, sizeof(line), pipe)) line[0] = '\0';
    return {exitCode(pclose(pipe)), line};
}

/* A temporary directory, removed with what the test left in it */
struct QuenfoldWatchTool: testing::Test {
    void SetUp() override { ASSERT_TRUE(mkdtemp(&directory[0])); }
    void TearDown() override { EXPECT_EQ(std::system(("rm -rf '" + directory + "'").c_str()), 0); }

    std::string directory = testing::TempDir() + "quenfold-watch-XXXXXX";
};

TEST_F(QuenfoldWatchTool, UsageAndUnwatchablePaths) {
    const struct {
        const char* arguments;
        int exitCode;
        const char* firstLine;
    } cases[]{
        {"", 2, "quenfold-watch: missing PATH"},
        {"--count", 2, "quenfold-watch: missing value of --count"},
        {"--count 1.5 .", 2, "quenfold-watch: invalid value of --count"},
        {"--count 99999999999999999999 .", 2, "quenfold-watch: invalid value of --count"},
        {"--timeout -1 .", 2, "quenfold-watch: invalid value of --timeout"},
        {"--timeout 1e300 .", 2, "quenfold-watch: invalid value of --timeout"},
        {"--verbose .", 2, "quenfold-watch: unknown option --verbose"},
        {"--timeout 0 . nonexistent", 1, "quenfold-watch: cannot watch nonexistent"},
        {"--timeout 0.05 .", 0, "Watching 1 directories"},
        /* A file counts as its directory */
        {"--timeout 0 . ./. err", 0, "Watching 1 directories"},
    };
    for(const auto& c: cases) {
        const std::pair<int, std::string> result = firstLine("cd '" + directory + "' && '" QUENFOLD_WATCH_BINARY "' " + c.arguments + " 2>err >/dev/null; status=$?; head -n 1 err; exit $status");
        EXPECT_EQ(result.first, c.exitCode) << c.arguments;
        EXPECT_EQ(result.second, c.firstLine + std::string{*c.firstLine ? "\n" : ""}) << c.arguments;
    }
}

/* The project's version, on standard output, from which the man page is
   made too */
TEST_F(QuenfoldWatchTool, Version) {
    EXPECT_EQ(firstLine("'" QUENFOLD_WATCH_BINARY "' --version 2>&1"),
        std::make_pair(0, std::string{"quenfold-watch " QUENFOLD_PROJECT_VERSION "\n"}));
}

TEST_F(QuenfoldWatchTool, PrintsEventsUntilCount) {
    std::FILE* const pipe = popen(("'" QUENFOLD_WATCH_BINARY "' --count 3 --timeout 60 '" + directory + "'").c_str(), "r");
    ASSERT_TRUE(pipe);

    /* The tool says nothing when it is ready, so new files appear until it
       reports one. Each file's Add is followed by the Modify of its write;
       if the tool got ready between the two, the Modify comes alone first */
    std::atomic<bool> exited{false};
    std::thread writer{[&] {
        for(int i = 0; !exited && i != 6000; ++i) {
            if(std::FILE* const file = std::fopen((directory + "/file " + std::to_string(i)).c_str(), "w")) {
                std::fputs("data", file);
                std::fclose(file);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds{10});
        }
    }};
    std::string output;
    char line[512];
    while(std::fgets(line, sizeof(line), pipe)) output += line;
    exited = true;
    writer.join();
    EXPECT_EQ(exitCode(pclose(pipe)), 0);
    const std::string path = std::regex_replace(directory, std::regex{R"([.^$|()\[\]{}*+?\\])"}, R"(\$&)") + "/file [0-9]+";
    EXPECT_TRUE(std::regex_match(output, std::regex{
        "(" + path + " FileWatch::Event::Modify\n)?"
        "(" + path + ") FileWatch::Event::Add\n\\2 FileWatch::Event::Modify\n"
        "(" + path + " FileWatch::Event::Add\n)?"})) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 3) << output;
}

/* Stopped while a burst larger than the kernel's queue comes, it finds out
   what it missed once it runs again, and says so */
TEST_F(QuenfoldWatchTool, ResynchronizesAfterABurst) {
    std::size_t limit = 0;
    std::ifstream{"/proc/sys/fs/inotify/max_queued_events"} >> limit;
    if(!limit || limit > 65536) GTEST_SKIP() << "max_queued_events is " << limit;
    /* Its output beside what it watches */
    const std::string watched = directory + "/w", out = directory + "/out", err = directory + "/err";
    ASSERT_EQ(mkdir(watched.data(), 0700), 0);
    const pid_t tool = fork();
    ASSERT_GE(tool, 0);
    if(!tool) {
        if(!std::freopen(out.data(), "w", stdout) || !std::freopen(err.data(), "w", stderr)) _exit(127);
        execl(QUENFOLD_WATCH_BINARY, QUENFOLD_WATCH_BINARY, "--timeout", "120", watched.data(), nullptr);
        _exit(127);
    }
    const auto contents = [](const std::string& path) {
        std::ostringstream text;
        text << std::ifstream{path}.rdbuf();
        return text.str();
    };
    const auto waitFor = [](const std::function<bool()>& condition) {
        for(int i = 0; i != 6000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds{10});
        return condition();
    };
    EXPECT_TRUE(waitFor([&] { return contents(err) == "Watching 1 directories\n"; }));

    kill(tool, SIGSTOP);
    for(std::size_t i = 0; i <= limit; ++i) std::ofstream{watched + "/" + std::to_string(i)};
    kill(tool, SIGCONT);
    const std::string last = watched + "/" + std::to_string(limit) + " FileWatch::Event::Add\n";
    EXPECT_TRUE(waitFor([&] { return contents(out).find(last) != std::string::npos; }));
    kill(tool, SIGTERM);
    int status;
    waitpid(tool, &status, 0);
    EXPECT_EQ(exitCode(status), 0);
    EXPECT_TRUE(std::regex_match(contents(err), std::regex{"Watching 1 directories\n"
        "FileWatch::update\\(\\): changes lost in .*, resynchronized with [0-9]+ differences\n"})) << contents(err);
}

}
