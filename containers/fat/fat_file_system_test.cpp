// The FAT volume as a platform file system: read only, names as listed, a file that seeks
// anywhere in a scattered chain, identities and parents.
#include <gtest/gtest.h>

#include <set>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/fat_image_writer.h"

namespace quarn {
namespace {

using testing::PatternBytes;

constexpr size_t kScatteredSize = 37 * 512 + 100;

struct OpenedFloppy {
  OpenedContainer container;
  ContainerFileSystem& files() { return *container.volumes.at(0).files; }
};

OpenedFloppy ScatteredFloppy() {
  testing::FatImageWriter writer(testing::FloppyLayout(1440));
  writer.AddFile("SPLIT.BIN", PatternBytes(kScatteredSize, 8))
      .AddFile("Another long name.doc", PatternBytes(10, 9))
      .AddFolder("DOS/UTIL")
      .Label("VOLUME")
      .AddDeleted("GONE    TXT")
      .Fragment();
  std::optional<OpenedContainer> opened = testing::OpenImage(writer.Build());
  EXPECT_TRUE(opened.has_value());
  return {opened ? std::move(*opened) : OpenedContainer()};
}

TEST(FatFileSystemTest, SeeksAnywhereInAScatteredChain) {
  OpenedFloppy floppy = ScatteredFloppy();
  auto root = floppy.files().OpenFolder("/");
  auto file = (*root)->OpenFile("SPLIT.BIN", OpenMode::kRead);
  ASSERT_TRUE(file.ok()) << file.message();
  const std::vector<uint8_t> expected = PatternBytes(kScatteredSize, 8);
  struct Step {
    int64_t offset;
    SeekOrigin origin;
    uint32_t length;
  };
  const Step steps[] = {{5000, SeekOrigin::kBegin, 3000},   {100, SeekOrigin::kBegin, 511},
                        {-300, SeekOrigin::kCurrent, 2048}, {-50, SeekOrigin::kEnd, 500},
                        {511, SeekOrigin::kBegin, 2},       {0, SeekOrigin::kEnd, 10}};
  for (const Step& step : steps) {
    const std::optional<uint64_t> at = (*file)->Seek(step.offset, step.origin);
    ASSERT_TRUE(at.has_value());
    std::vector<uint8_t> got(step.length);
    got.resize((*file)->Read(got.data(), step.length));
    const size_t end = std::min<size_t>(*at + step.length, expected.size());
    EXPECT_EQ(got, std::vector<uint8_t>(expected.begin() + static_cast<ptrdiff_t>(*at),
                                        expected.begin() + static_cast<ptrdiff_t>(end)))
        << "at " << *at;
    EXPECT_EQ((*file)->Position(), end);
  }
  EXPECT_FALSE((*file)->Seek(-1, SeekOrigin::kBegin).has_value());
  EXPECT_TRUE(floppy.files().TakeDamage().empty());
}

TEST(FatFileSystemTest, EveryChangeFailsNamingThePath) {
  OpenedFloppy floppy = ScatteredFloppy();
  auto root = floppy.files().OpenFolder("/DOS");
  ASSERT_TRUE(root.ok());
  Folder& folder = **root;
  const std::vector<std::pair<std::string, Status>> refusals = {
      {"/DOS/NEW.TXT", folder.CreateFile("NEW.TXT", 0644).status()},
      {"/DOS/NEW", folder.CreateFolder("NEW")},
      {"/DOS/UTIL", folder.Rename("UTIL", "OLD", RenameMode::kNoReplace)},
      {"/DOS/UTIL", folder.Delete("UTIL")},
      {"/A/B", floppy.files().CreateFolders("/A/B")},
  };
  for (const auto& [path, status] : refusals) {
    EXPECT_FALSE(status.ok()) << path;
    EXPECT_NE(status.message().find(path), std::string::npos) << status.message();
    EXPECT_NE(status.message().find("read only"), std::string::npos) << status.message();
  }
  auto top = floppy.files().OpenFolder("/");
  for (OpenMode mode : {OpenMode::kReadWrite, OpenMode::kAppend}) {
    auto opened = (*top)->OpenFile("SPLIT.BIN", mode);
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.message().find("read only"), std::string::npos);
  }
  auto file = (*top)->OpenFile("SPLIT.BIN", OpenMode::kRead);
  ASSERT_TRUE(file.ok());
  const uint8_t byte = 0;
  EXPECT_EQ((*file)->Write(&byte, 1), 0u);
  EXPECT_FALSE((*file)->SetEndOfFile());
  EXPECT_FALSE((*file)->SetAttributes({}));
  EXPECT_FALSE((*top)->OpenFile("DOS", OpenMode::kRead).ok());
  EXPECT_FALSE((*top)->OpenFolder("SPLIT.BIN").ok());
  EXPECT_FALSE((*top)->OpenFile("MISSING", OpenMode::kRead).ok());
}

TEST(FatFileSystemTest, IdentitiesParentsAndFacts) {
  OpenedFloppy floppy = ScatteredFloppy();
  OpenedFloppy other = ScatteredFloppy();
  auto util = floppy.files().OpenFolder("/DOS/UTIL");
  ASSERT_TRUE(util.ok());
  EXPECT_EQ((*util)->Path(), "/DOS/UTIL");
  auto dos = (*util)->OpenParent();
  ASSERT_TRUE(dos.ok());
  EXPECT_EQ((*dos)->Path(), "/DOS");
  auto dos_again = floppy.files().OpenFolder("/DOS");
  EXPECT_EQ((*dos)->Identity(), (*dos_again)->Identity());
  EXPECT_NE((*dos)->Identity(), (*util)->Identity());
  auto root = (*dos)->OpenParent();
  EXPECT_EQ((*root)->Path(), "/");
  EXPECT_EQ((*(*root)->OpenParent())->Identity(), (*root)->Identity());
  EXPECT_NE((*root)->Mount(), (*other.files().OpenFolder("/"))->Mount());

  auto info = (*root)->Examine("SPLIT.BIN");
  ASSERT_TRUE(info.ok() && info->has_value());
  EXPECT_EQ((*info)->size, kScatteredSize);
  EXPECT_EQ((*info)->device, (*root)->Mount());
  EXPECT_EQ((*info)->last_write, int64_t{809263800} * 1000000000);  // 1995-08-24 11:30 UTC
  EXPECT_FALSE((*(*root)->Examine("MISSING")).has_value());
  // The short alias opens what the long name lists.
  EXPECT_TRUE((*root)->OpenFile("ANOTHE~2.DOC", OpenMode::kRead).ok());
}

// Three entries that show one name, two files and a folder (patched entries): each is read
// as itself through the walk's view of it, and a file through the folder its slot finds, as
// a working copy's change finds it; the folder is damage.
TEST(FatFileSystemTest, EntriesOfOneNameAreEachOpenedByTheirSlot) {
  testing::FatImageWriter writer(testing::FloppyLayout(720));
  writer.AddFile("DOS/TWIN.TXT", PatternBytes(20, 10))
      .AddFile("DOS/OTHER.TXT", PatternBytes(30, 11))
      .AddFolder("DOS/SUB");
  std::vector<uint8_t> image = writer.Build();
  writer.SetShortName(image, "DOS/OTHER.TXT", "TWIN    TXT");
  writer.SetShortName(image, "DOS/SUB", "TWIN    TXT");
  std::optional<OpenedContainer> opened = testing::OpenImage(image);
  ASSERT_TRUE(opened.has_value());
  ContainerFileSystem& files = *opened->volumes[0].files;
  auto folder = files.OpenFolder("/DOS");
  ASSERT_TRUE(folder.ok());
  std::set<std::vector<uint8_t>> read;
  size_t folders = 0;
  auto listed = (*folder)->List();
  ASSERT_TRUE(listed.ok());
  for (const FolderEntry& entry : *listed) {
    ASSERT_EQ(entry.name, "TWIN.TXT");
    std::unique_ptr<Folder> view = (*folder)->ViewOfEntry(entry);
    ASSERT_NE(view, nullptr);
    if (entry.kind == EntryKind::kFolder) {
      folders += view->OpenFolder(entry.name).ok();
      continue;
    }
    auto file = view->OpenListedFile(entry.name);
    ASSERT_TRUE(file.ok());
    const std::vector<uint8_t> bytes = testing::ReadToEnd(**file);
    auto found = files.OpenEntryFolder({(*folder)->Identity().inode, "/DOS", entry.slot});
    ASSERT_TRUE(found.ok());
    auto again = (*found)->OpenFile(entry.name, OpenMode::kRead);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(testing::ReadToEnd(**again), bytes);
    read.insert(bytes);
  }
  EXPECT_EQ(read, (std::set{PatternBytes(20, 10), PatternBytes(30, 11)}));
  EXPECT_EQ(folders, 1u);
  EXPECT_EQ(files.TakeDamage(), std::vector<ContainerDamage>{{"DOS"}});
}

}  // namespace
}  // namespace quarn
