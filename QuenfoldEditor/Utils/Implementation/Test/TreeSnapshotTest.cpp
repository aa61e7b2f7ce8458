#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <gtest/gtest.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/Implementation/TreeSnapshot.h"

namespace QuenfoldEngine { namespace Implementation { namespace {

using namespace Corrade;
namespace fs = std::filesystem;
using Event = FileWatch::Event;

struct TreeSnapshotTest: testing::Test {
    void SetUp() override {
        root = fs::temp_directory_path()/("quenfold-snapshot-" + std::to_string(std::random_device{}()));
        for(const char* directory: {"a/b", "c", "gone/deep"}) fs::create_directories(root/directory);
        for(const char* file: {"x", "a/y", "a/b/z", "gone/f", "gone/deep/g", "kind"}) write(file, "12");
    }

    void TearDown() override { fs::remove_all(root); }

    void write(const char* name, const char* text) const { std::ofstream{root/fs::u8path(name), std::ios::app} << text; }

    /* The differences, one "path event" line each, relative to the root */
    std::string resynchronized(TreeSnapshot& snapshot) const {
        TreeSnapshot::Changes changes;
        if(!snapshot.resynchronize(changes)) return "failed";
        std::ostringstream out;
        for(const auto& change: changes)
            Utility::Debug{&out} << change.first().exceptPrefix(root.string().size() + 1) << change.second();
        return out.str();
    }

    fs::path root;
};

TEST_F(TreeSnapshotTest, DifferencesWithTheDisk) {
    TreeSnapshot snapshot{root.string().data()};
    EXPECT_EQ(snapshot.size(), 11u);
    EXPECT_EQ(resynchronized(snapshot), "");

    /* Removals first, deepest first; then additions and modifications in
       name order, each directory before what it holds */
    write("x", "3");
    write("a/b/new", "");
    fs::create_directories(root/"c/d/e");
    write("c/d/e/f", "");
    fs::remove_all(root/"gone");
    fs::remove(root/"kind");
    fs::create_directory(root/"kind");
    write("kind/inside", "");
    const auto time = fs::last_write_time(root/"a/y");
    fs::last_write_time(root/"a/y", time - std::chrono::hours{1});
    EXPECT_EQ(resynchronized(snapshot),
        "kind FileWatch::Event::Remove\n"
        "gone/f FileWatch::Event::Remove\n"
        "gone/deep/g FileWatch::Event::Remove\n"
        "gone/deep FileWatch::Event::Remove\n"
        "gone FileWatch::Event::Remove\n"
        "kind FileWatch::Event::Add\n"
        "x FileWatch::Event::Modify\n"
        "a/y FileWatch::Event::Modify\n"
        "a/b/new FileWatch::Event::Add\n"
        "c/d FileWatch::Event::Add\n"
        "c/d/e FileWatch::Event::Add\n"
        "c/d/e/f FileWatch::Event::Add\n"
        "kind/inside FileWatch::Event::Add\n");
    EXPECT_EQ(resynchronized(snapshot), "");
    EXPECT_EQ(snapshot.size(), 12u);

    fs::remove_all(root);
    EXPECT_EQ(resynchronized(snapshot), "failed");
    EXPECT_EQ(snapshot.size(), 12u);
}

/* What the reader was told is no difference */
TEST_F(TreeSnapshotTest, KeptInStepWithTheEvents) {
    TreeSnapshot snapshot{root.string().data()};
    write("x", "3");
    snapshot.apply("x", Event::Modify);
    write("new", "");
    snapshot.apply("new", Event::Add);
    fs::create_directories(root/"made/on/the/way");
    snapshot.apply("made/on/the/way", Event::Add);
    fs::rename(root/"a", root/"c/moved");
    snapshot.apply("a", Event::RenameOld);
    snapshot.apply("c/moved", Event::RenameNew);
    fs::remove_all(root/"gone");
    snapshot.apply("gone/deep", Event::Remove);
    snapshot.apply("gone/f", Event::Remove);
    snapshot.apply("gone", Event::Remove);
    EXPECT_EQ(resynchronized(snapshot), "");

    /* An addition gone before it was looked at, a rename's first half with
       no second, and a rename whose first half was never told */
    snapshot.apply("brief", Event::Add);
    fs::rename(root/"x", root/"renamed");
    snapshot.apply("x", Event::RenameOld);
    snapshot.apply("new", Event::Modify);
    snapshot.apply("renamed", Event::RenameNew);
    EXPECT_EQ(resynchronized(snapshot), "brief FileWatch::Event::Remove\n");

    /* Moved between directories, told as a Remove and an Add with a
       directory's Modify between: it keeps what it held, and a change in it
       that was never told is a difference. A removal followed by another
       addition is no move. */
    fs::rename(root/"c/moved", root/"moved");
    snapshot.apply("c/moved", Event::Remove);
    snapshot.apply("c", Event::Modify);
    snapshot.apply("moved", Event::Add);
    fs::remove(root/"moved/b/z");
    write("c/kept", "");
    snapshot.apply("c/kept", Event::Add);
    fs::rename(root/"c", root/"c2");
    snapshot.apply("c", Event::Remove);
    snapshot.apply("c2", Event::Add);
    EXPECT_EQ(resynchronized(snapshot),
        "c2/kept FileWatch::Event::Add\n"
        "moved/b/z FileWatch::Event::Remove\n");
}

}}}
