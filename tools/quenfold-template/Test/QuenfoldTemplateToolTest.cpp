#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <Corrade/Containers/ArrayView.h>
#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Utility/Path.h>

namespace {

using namespace Corrade;

/* Files in a temporary directory, which the tool runs in */
class QuenfoldTemplateTool: public testing::Test {
    protected:
        void SetUp() override {
            std::string pattern = testing::TempDir() + "quenfold-template-XXXXXX";
            ASSERT_TRUE(mkdtemp(&pattern[0]));
            _directory = pattern;
            const char* const files[][2]{
                {"scene.txt", "Hello {{ node.name }}!{{ if node.visible }} [shown]{{ end }} Scale: {{ scale }}\n"},
                {"scene.json", R"({"node": {"name": "cube", "visible": true}, "scale": 1.5})"},
                {"first.json", R"({"scale": 2.0})"},
                {"bad.json", R"({"a": 1.0 "b": 2.0})"},
                {"broken.txt", "abc {{ x"},
                {"empty.txt", "{{ if 'a' == 'b' }}text{{ end }}"},
            };
            for(const auto& file: files)
                ASSERT_TRUE(Utility::Path::write(Utility::Path::join(_directory.c_str(), file[0]),
                    Containers::ArrayView<const char>{file[1], std::strlen(file[1])}));
        }

        void TearDown() override {
            EXPECT_EQ(std::system(("rm -rf '" + _directory + "'").c_str()), 0);
        }

        std::string read(const char* const name) const {
            const Containers::Optional<Containers::String> contents = Utility::Path::readString(Utility::Path::join(_directory.c_str(), name));
            return contents ? std::string{contents->data(), contents->size()} : "(unreadable)";
        }

        /* Exit code of the tool with the arguments, its output in out and
           err */
        int run(const std::string& arguments) const {
            const std::string command = "cd '" + _directory + "' && '" QUENFOLD_TEMPLATE_BINARY "' " + arguments + " >out 2>err";
            const int status = std::system(command.c_str());
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }

        std::string _directory;
};

TEST_F(QuenfoldTemplateTool, RendersChecksAndFails) {
    const std::string usage = "Usage: quenfold-template [--check] TEMPLATE [CONTEXT.json ...]\nTry quenfold-template --help\n";
    const std::string syntaxError = "Template::Template(): Syntax error: Unterminated template directive\n";
    const struct {
        const char* arguments;
        int code;
        std::string out, err;
    } cases[]{
        {"scene.txt scene.json", 0, "Hello cube! [shown] Scale: 1.5000\n", ""},
        {"scene.txt first.json scene.json", 0, "Hello cube! [shown] Scale: 2.0000\n", ""},
        {"- scene.json < scene.txt", 0, "Hello cube! [shown] Scale: 1.5000\n", ""},
        {"-- empty.txt", 0, "", ""},
        {"--check scene.txt", 0, "scene.txt: valid\n", ""},
        {"--check broken.txt scene.json", 1, "", syntaxError + "broken.txt: invalid\n"},
        {"broken.txt", 1, "", syntaxError},
        {"scene.txt", 1, "", "Template::render(): Undefined name node.name\n"},
        {"scene.txt first.json bad.json", 2, "", "quenfold-template: bad.json: offset 10: Missing a comma or '}' after an object member.\n"},
        {"scene.txt missing.json", 2, "", "quenfold-template: cannot read missing.json: No such file or directory\n"},
        {"", 2, "", "quenfold-template: missing TEMPLATE\n" + usage},
        {"--verbose scene.txt", 2, "", "quenfold-template: unknown option --verbose\n" + usage},
    };
    for(const auto& c: cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(run(c.arguments), c.code);
        EXPECT_EQ(read("out"), c.out);
        EXPECT_EQ(read("err"), c.err);
    }

    EXPECT_EQ(run("--help"), 0);
    const std::string help = read("out");
    EXPECT_EQ(help.find("Usage: quenfold-template [--check] TEMPLATE [CONTEXT.json ...]\n"), 0u);
    EXPECT_NE(help.find("prints\n  Hello cube! [shown] Scale: 1.5000\n"), std::string::npos);
}

}
