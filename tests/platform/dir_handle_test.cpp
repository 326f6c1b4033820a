#include "platform/dir_handle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace tovarek {
namespace {

// A directory that gave up its descriptor is reached below its anchor, and reopened only while
// every level down to it is still the directory that was entered.
TEST(DirHandle, GivenUpDirectoriesAreReachedBelowTheirAnchorAndCheckedLevelByLevel) {
    test::TempDir dir;
    ASSERT_EQ(mkdir(dir.File("a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.File("a/b").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.File("a/b/c").c_str(), 0755), 0);
    test::WriteFile(dir.File("a/b/c/f"), "f");

    auto a = std::make_shared<DirHandle>();
    ASSERT_TRUE(a->OpenRoot(dir.File("a/")));
    a->KeepDescriptor();
    auto b = std::make_shared<DirHandle>();
    ASSERT_TRUE(b->OpenIn(*a, "b", dir.File("a/b/")));
    b->LinkBelow(a, "b");
    ASSERT_TRUE(b->MayGiveUpDescriptor(64));
    b->GiveUpDescriptor();
    auto c = std::make_shared<DirHandle>();
    ASSERT_TRUE(c->OpenIn(*b, "c", dir.File("a/b/c/")));
    c->LinkBelow(b, "c");
    EXPECT_FALSE(c->MayGiveUpDescriptor(4)) << "its path below the anchor is \"b/c/\"";
    c->GiveUpDescriptor();

    std::string located;
    EXPECT_EQ(c->Locate("f", located), a->fd());
    EXPECT_EQ(located, "b/c/f");
    struct stat st;
    EXPECT_TRUE(c->StatIn("f", st));
    bool owned = false;
    const int again = c->OpenAgain(owned);
    ASSERT_GE(again, 0);
    EXPECT_TRUE(owned);
    ASSERT_TRUE(StatDescriptor(again, st));
    EXPECT_EQ(st.st_ino, c->ino());
    CloseDescriptor(again);

    // b swapped for a link to a tree that looks the same: the way down leads nowhere.
    ASSERT_EQ(rename(dir.File("a/b").c_str(), dir.File("moved").c_str()), 0);
    ASSERT_EQ(mkdir(dir.File("copy").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.File("copy/c").c_str(), 0755), 0);
    ASSERT_EQ(symlink(dir.File("copy").c_str(), dir.File("a/b").c_str()), 0);
    EXPECT_EQ(c->OpenAgain(owned), -1);
    EXPECT_FALSE(owned);
}

TEST(DirLister, ListsEveryEntryButTheDotsWithItsType) {
    test::TempDir dir;
    auto root = std::make_shared<DirHandle>();
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
    test::WriteFile(dir.File("file"), "x");
    ASSERT_EQ(symlink("file", dir.File("link").c_str()), 0);
    ASSERT_TRUE(root->OpenRoot(dir.path() + "/"));
    DirLister lister;
    std::vector<DirEntry> entries;
    ASSERT_TRUE(lister.List(*root, entries));
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& x, const DirEntry& y) { return x.name < y.name; });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "file");
    // Some file systems leave the type to a stat; where they give it, it is the right one.
    EXPECT_TRUE(entries[0].type == DirEntry::kRegular || entries[0].type == DirEntry::kUnknown);
    EXPECT_EQ(entries[1].name, "link");
    EXPECT_TRUE(entries[1].type == DirEntry::kLink || entries[1].type == DirEntry::kUnknown);
    EXPECT_EQ(entries[2].name, "sub");
    EXPECT_TRUE(entries[2].type == DirEntry::kDirectory || entries[2].type == DirEntry::kUnknown);
    EXPECT_FALSE(DirHandle().OpenRoot(dir.File("file/")));
}

}  // namespace
}  // namespace tovarek
