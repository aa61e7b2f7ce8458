#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>
#include <gtest/gtest.h>
#include <Corrade/Containers/ArrayView.h>
#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Utility/Path.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

/* The address space of a sanitized process is the sanitizer's business:
   AddressSanitizer's shadow memory takes terabytes of it, and
   ThreadSanitizer cannot start at all under `ulimit -v` */
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUENFOLD_ADDRESS_SPACE_LIMITABLE 0
#elif defined(__has_feature)
#define QUENFOLD_ADDRESS_SPACE_LIMITABLE !(__has_feature(address_sanitizer) || __has_feature(thread_sanitizer))
#else
#define QUENFOLD_ADDRESS_SPACE_LIMITABLE 1
#endif

namespace {

using namespace Corrade;

/* Standard error is text, with the line ends of the platform; the rendered
   text on standard output is written byte for byte */
std::string textLines(const std::string& text) {
    #ifdef _WIN32
    std::string out;
    for(const char c: text) out += c == '\n' ? "\r\n" : std::string(1, c);
    return out;
    #else
    return text;
    #endif
}

/* Files in a temporary directory, which the tool runs in */
class QuenfoldTemplateTool: public testing::Test {
    protected:
        void SetUp() override {
            _directory = testing::TempDir() + "quenfold-template-" + std::to_string(std::random_device{}());
            ASSERT_TRUE(std::filesystem::create_directory(_directory));
            const char* const files[][2]{
                {"scene.txt", "Hello {{ node.name }}!{{ if node.visible }} [shown]{{ end }} Scale: {{ scale }}\n"},
                {"scene.json", R"({"node": {"name": "cube", "visible": true}, "scale": 1.5})"},
                {"first.json", R"({"scale": 2.0})"},
                {"bad.json", R"({"a": 1.0 "b": 2.0})"},
                {"broken.txt", "abc {{ x"},
                {"empty.txt", "{{ if 'a' == 'b' }}text{{ end }}"},
                {"crlf.txt", "a\r\n{{ 'b' }}\r\n"},
            };
            for(const auto& file: files) write(file[0], file[1]);
        }

        void TearDown() override {
            std::filesystem::remove_all(_directory);
        }

        /* Byte for byte; "r+b" writes over the start of what is there */
        void write(const char* const name, const std::string& contents, const char* const mode = "wb") const {
            std::FILE* const file = std::fopen((_directory + "/" + name).c_str(), mode);
            ASSERT_TRUE(file) << name;
            std::fwrite(contents.data(), 1, contents.size(), file);
            std::fclose(file);
        }

        std::string read(const char* const name) const {
            const Containers::Optional<Containers::String> contents = Utility::Path::readString(Utility::Path::join(_directory.c_str(), name));
            return contents ? std::string{contents->data(), contents->size()} : "(unreadable)";
        }

        /* Exit code of the tool with the arguments, its output in out and
           err; the shell runs limits first */
        int run(const std::string& arguments, const std::string& limits = {}) const {
            #ifdef _WIN32
            /* cmd.exe, which gives the exit code as it is */
            const std::string command = "cd /d \"" + _directory + "\" && " + limits + "\"" + _binary.string() + "\" " + arguments + " >out 2>err";
            return std::system(command.c_str());
            #else
            const std::string command = "cd '" + _directory + "' && " + limits + "'" + _binary.string() + "' " + arguments + " >out 2>err";
            const int status = std::system(command.c_str());
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            #endif
        }

        /* A cross build names the tool from the root of a drive: the drive
           of the test's working directory, before cd /d changes it */
        const std::filesystem::path _binary = std::filesystem::absolute(QUENFOLD_TEMPLATE_BINARY);

        std::string _directory;
};

TEST_F(QuenfoldTemplateTool, RendersChecksAndFails) {
    const std::string usage = "Usage: quenfold-template [--check] TEMPLATE [CONTEXT.json ...]\n"
        "  or:  quenfold-template --watch [-o OUTPUT] [--quiet MILLISECONDS] TEMPLATE [CONTEXT.json ...]\n"
        "Try quenfold-template --help\n";
    const std::string syntaxError = "Template::Template(): Syntax error: Unterminated template directive\n";
    const struct {
        const char* arguments;
        int code;
        std::string out, err;
    } cases[]{
        {"scene.txt scene.json", 0, "Hello cube! [shown] Scale: 1.5000\n", ""},
        {"--version", 0, "quenfold-template " QUENFOLD_PROJECT_VERSION "\n", ""},
        {"scene.txt first.json scene.json", 0, "Hello cube! [shown] Scale: 2.0000\n", ""},
        {"- scene.json < scene.txt", 0, "Hello cube! [shown] Scale: 1.5000\n", ""},
        {"-- empty.txt", 0, "", ""},
        {"crlf.txt", 0, "a\r\nb\r\n", ""},
        {"--check scene.txt", 0, "scene.txt: valid\n", ""},
        {"--check broken.txt scene.json", 1, "", syntaxError + "broken.txt: invalid\n"},
        {"broken.txt", 1, "", syntaxError},
        {"scene.txt", 1, "", "Template::render(): Undefined name node.name\n"},
        {"scene.txt first.json bad.json", 2, "", "quenfold-template: bad.json: offset 10: Missing a comma or '}' after an object member.\n"},
        {"scene.txt missing.json", 2, "", "quenfold-template: cannot read missing.json: No such file or directory\n"},
        {"", 2, "", "quenfold-template: missing TEMPLATE\n" + usage},
        {"--verbose scene.txt", 2, "", "quenfold-template: unknown option --verbose\n" + usage},
        {"-o out.txt scene.txt", 2, "", "quenfold-template: only with --watch: -o\n" + usage},
        {"--watch --check scene.txt", 2, "", "quenfold-template: not together with --watch: --check\n" + usage},
        {"--watch - scene.json", 2, "", "quenfold-template: not watchable: -\n" + usage},
        {"--watch --quiet 1e3 scene.txt", 2, "", "quenfold-template: invalid value of --quiet\n" + usage},
        {"--watch missing.txt", 1, "", "quenfold-template: cannot watch missing.txt\n"},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(run(c.arguments), c.code);
        EXPECT_EQ(read("out"), c.out);
        EXPECT_EQ(read("err"), textLines(c.err));
    }

    EXPECT_EQ(run("--help"), 0);
    const std::string help = read("out");
    EXPECT_EQ(help.find("Usage: quenfold-template [--check] TEMPLATE [CONTEXT.json ...]\n"), 0u);
    EXPECT_NE(help.find("prints\n  Hello cube! [shown] Scale: 1.5000\n"), std::string::npos);
}

#ifndef _WIN32
/* Nothing given on the command line crashes it, blocks it or makes it read
   without end */
TEST_F(QuenfoldTemplateTool, RefusesWhatItCannotRead) {
    const std::string deepest = std::string(512, '[') + std::string(512, ']');
    const std::string tooDeep = std::string(100000, '[') + std::string(100000, ']');
    write("deepest.json", deepest);
    write("deep.json", tooDeep);
    ASSERT_EQ(mkfifo((_directory + "/fifo").c_str(), 0600), 0);
    /* Larger than the address space the tool gets below, and no disk space
       taken */
    write("huge.txt", {});
    ASSERT_EQ(truncate((_directory + "/huge.txt").c_str(), 3ll << 30), 0);

    const std::string cannotRead = "quenfold-template: cannot read ";
    const struct {
        const char* arguments;
        const char* limits;
        int code;
        std::string out, err;
    } cases[]{
        {"scene.txt deepest.json scene.json", "", 0, "Hello cube! [shown] Scale: 1.5000\n", ""},
        {"scene.txt deep.json", "", 2, "", "quenfold-template: deep.json: offset 512: Arrays and objects nested deeper than 512 levels.\n"},
        {"/dev/zero", "", 2, "", cannotRead + "/dev/zero: not a regular file\n"},
        {"scene.txt fifo", "", 2, "", cannotRead + "fifo: not a regular file\n"},
        {". scene.json", "", 2, "", cannotRead + ".: not a regular file\n"},
        #if QUENFOLD_ADDRESS_SPACE_LIMITABLE
        {"huge.txt", "ulimit -v 1000000 && ", 2, "", cannotRead + "huge.txt: out of memory\n"},
        {"- < /dev/zero", "ulimit -v 1000000 && ", 2, "", cannotRead + "-: out of memory\n"},
        #endif
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(run(c.arguments, c.limits), c.code);
        EXPECT_EQ(read("out"), c.out);
        EXPECT_EQ(read("err"), c.err);
    }

    /* A render larger than the memory fails as a render does; where the
       memory runs out depends on the process */
    #if QUENFOLD_ADDRESS_SPACE_LIMITABLE
    const std::string big = "{\"big\": \"" + std::string(4 << 20, 'x') + "\"}";
    std::string huge;
    for(int i = 0; i != 300; ++i) huge += "{{ big }}";
    for(const auto& file: {std::make_pair("big.json", big), std::make_pair("huge-output.txt", huge)})
        ASSERT_TRUE(Utility::Path::write(Utility::Path::join(_directory.c_str(), file.first),
            Containers::ArrayView<const char>{file.second.data(), file.second.size()}));
    EXPECT_EQ(run("huge-output.txt big.json", "ulimit -v 1000000 && "), 1);
    EXPECT_EQ(read("out"), "");
    const std::string err = read("err");
    EXPECT_EQ(err.find("Template::render(): cannot allocate "), 0u) << err;
    EXPECT_EQ(err.substr(err.size() - 7), " bytes\n") << err;
    #endif
}

/* The tool in --watch mode, started in the background by start() and
   interrupted by the destructor */
class QuenfoldTemplateWatch: public QuenfoldTemplateTool {
    protected:
        void TearDown() override {
            if(_pid > 0) stop();
            QuenfoldTemplateTool::TearDown();
        }

        /* The limits run in the child, its output in place; returns once it
           watches */
        void start(const std::vector<const char*>& arguments, const std::function<void()>& limits = {}) {
            write("err", {});
            _pid = fork();
            ASSERT_GE(_pid, 0);
            if(_pid == 0) {
                std::vector<const char*> argv{QUENFOLD_TEMPLATE_BINARY, "--watch"};
                argv.insert(argv.end(), arguments.begin(), arguments.end());
                argv.push_back(nullptr);
                if(chdir(_directory.c_str()) != 0) _exit(127);
                const int out = open("out", O_WRONLY|O_CREAT|O_TRUNC, 0600);
                const int err = open("err", O_WRONLY|O_CREAT|O_TRUNC, 0600);
                dup2(out, STDOUT_FILENO);
                dup2(err, STDERR_FILENO);
                if(limits) limits();
                execv(argv[0], const_cast<char**>(argv.data()));
                _exit(127);
            }
            EXPECT_TRUE(waitFor([&]{ return read("err").find("Watching 2 files\n") != std::string::npos; })) << read("err");
        }

        /* Exit code after SIGINT */
        int stop() {
            kill(_pid, SIGINT);
            int status;
            waitpid(_pid, &status, 0);
            _pid = 0;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }

        /* The lines of err so far, each without the time of day in front */
        std::vector<std::string> messages() const {
            std::vector<std::string> lines;
            const std::string err = read("err");
            for(std::size_t begin = 0, end; (end = err.find('\n', begin)) != std::string::npos; begin = end + 1)
                lines.push_back(err.substr(begin + 9, end - begin - 9));
            return lines;
        }

        struct Save {
            const char* description;
            std::function<void()> save;
            std::string message, result;
        };

        /* Each save adds its message to those expected, leaves the result
           it says and nothing beside it */
        void expectSaves(std::vector<std::string>& expected, const std::vector<Save>& saves) const {
            for(const Save& save: saves) {
                SCOPED_TRACE(save.description);
                save.save();
                expected.push_back(save.message);
                ASSERT_TRUE(waitFor([&]{ return messages().size() >= expected.size(); })) << read("err");
                EXPECT_EQ(messages(), expected);
                EXPECT_EQ(read("result.txt"), save.result);
                for(const auto& entry: std::filesystem::directory_iterator{_directory})
                    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
            }
        }

        /* Waits, for as long as a busy machine may take, until the condition
           holds */
        static bool waitFor(const std::function<bool()>& condition) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{30};
            while(!condition()) {
                if(std::chrono::steady_clock::now() > deadline) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds{5});
            }
            return true;
        }

        pid_t _pid = 0;
};

TEST_F(QuenfoldTemplateWatch, RendersOnceForEachWayOfSaving) {
    /* A quiet period that no two writes of one save on a busy machine fall
       apart by */
    start({"--quiet", "300", "-o", "result.txt", "scene.txt", "scene.json"});
    EXPECT_EQ(read("result.txt"), "Hello cube! [shown] Scale: 1.5000\n");

    const std::string path = _directory + "/";
    std::vector<std::string> expected{"result.txt: written", "Watching 2 files"};
    expectSaves(expected, {
        {"context written in place", [&]{ write("scene.json", R"({"node": {"name": "cone")", "r+b"); }, "result.txt: written", "Hello cone! [shown] Scale: 1.5000\n"},
        {"template truncated and written", [&]{ write("scene.txt", "Bye {{ node.name }}\n"); }, "result.txt: written", "Bye cone\n"},
        {"context saved atomically", [&]{
            write("scene.json.tmp", R"({"node": {"name": "ball"}})");
            std::rename((path + "scene.json.tmp").c_str(), (path + "scene.json").c_str());
        }, "result.txt: written", "Bye ball\n"},
        {"context deleted", [&]{ std::remove((path + "scene.json").c_str()); }, "scene.json: cannot read: No such file or directory", "Bye ball\n"},
        {"context created again", [&]{ write("scene.json", R"({"node": {"name": "disc"}})"); }, "result.txt: written", "Bye disc\n"},
        {"template broken", [&]{ write("scene.txt", "abc {{ x"); }, "scene.txt: Template::Template(): Syntax error: Unterminated template directive", "Bye disc\n"},
        {"template fixed", [&]{ write("scene.txt", "Bye {{ node.name }}\n"); }, "result.txt: unchanged", "Bye disc\n"},
        {"context without the name", [&]{ write("scene.json", "{}"); }, "scene.txt: Template::render(): Undefined name node.name", "Bye disc\n"},
        {"context broken", [&]{ write("scene.json", "{\"node\": "); }, "scene.json: offset 9: Invalid value.", "Bye disc\n"},
        {"context fixed", [&]{ write("scene.json", R"({"node": {"name": "cube"}})"); }, "result.txt: written", "Bye cube\n"},
    });
    EXPECT_EQ(stop(), 0);
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(read("out"), "");
}

TEST_F(QuenfoldTemplateWatch, SeparatesRendersOnStandardOutput) {
    start({"scene.txt", "scene.json"});
    write("scene.txt", "{{ node.name }}");
    ASSERT_TRUE(waitFor([&]{ return read("out").size() > 40; })) << read("out");
    EXPECT_EQ(stop(), 0);
    EXPECT_EQ(read("out"), "Hello cube! [shown] Scale: 1.5000\n\f\ncube\n\f\n");
    EXPECT_EQ(messages(), std::vector<std::string>{"Watching 2 files"});
}

/* Stopped while a burst larger than the kernel's queue comes, and the
   template saved in it: once running again, it finds out and renders */
TEST_F(QuenfoldTemplateWatch, RendersWhatABurstHid) {
    std::size_t limit = 0;
    std::ifstream{"/proc/sys/fs/inotify/max_queued_events"} >> limit;
    if(!limit || limit > 65536) GTEST_SKIP() << "max_queued_events is " << limit;
    start({"--quiet", "50", "-o", "result.txt", "scene.txt", "scene.json"});

    kill(_pid, SIGSTOP);
    for(std::size_t i = 0; i <= limit; ++i) write(("burst" + std::to_string(i)).data(), "");
    write("scene.txt", "Burst {{ node.name }}\n");
    kill(_pid, SIGCONT);
    ASSERT_TRUE(waitFor([&]{ return messages().size() == 4; })) << read("err");
    EXPECT_EQ(read("result.txt"), "Burst cube\n");
    const std::vector<std::string> lines = messages();
    EXPECT_TRUE(std::regex_match(lines[2], std::regex{"FileWatch::update\\(\\): changes lost in .*, resynchronized with [0-9]+ differences"})) << lines[2];
    EXPECT_EQ(lines[3], "result.txt: written");
}

/* A write that fails, past a file size limit or on a full disk, is told;
   the output keeps what it had, nothing is left beside it, and the next
   save writes again */
TEST_F(QuenfoldTemplateWatch, TellsOfFailedWrites) {
    const auto scene = [](const std::string& name) { return R"({"node": {"name": ")" + name + R"(", "visible": true}, "scale": 1.5})"; };
    /* Room for the messages, not for a long name */
    start({"--quiet", "300", "-o", "result.txt", "scene.txt", "scene.json"}, [] {
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, SIG_IGN);
    });
    std::vector<std::string> expected{"result.txt: written", "Watching 2 files"};
    expectSaves(expected, {
        {"past the file size limit", [&]{ write("scene.json", scene(std::string(5000, 'x'))); }, "result.txt: cannot write: File too large", "Hello cube! [shown] Scale: 1.5000\n"},
        {"written again", [&]{ write("scene.json", scene("cone")); }, "result.txt: written", "Hello cone! [shown] Scale: 1.5000\n"},
    });
    EXPECT_EQ(stop(), 0);

    start({"--quiet", "300", "scene.txt", "scene.json"}, [] { dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO); });
    write("scene.json", scene("ball"));
    const std::string full = "standard output: cannot write: No space left on device";
    ASSERT_TRUE(waitFor([&]{ return messages().size() == 3; })) << read("err");
    EXPECT_EQ(stop(), 0);
    EXPECT_EQ(messages(), (std::vector<std::string>{full, "Watching 2 files", full}));
}
#endif

}
