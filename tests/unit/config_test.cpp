// The configuration file at its bounds, read through the real GetPrivateProfileStringA.
#include <string>
#include <vector>

#include "config/config.h"
#include "testing.h"

namespace {

TEST(Config, AValueLongerThanTheBufferIsCutToCapacityLessOne) {
  TempFolder folder;
  ScopedProgramPath program(folder / "setup.exe");
  WriteFileBytes(folder / "tolvanix.ini", "[PRINTPROC]\r\n0=" + std::string(300, 'n') + "\r\n");
  std::vector<char> buffer(260, 'x');
  EXPECT_EQ(std::string(ReadPatchConfigValue("PRINTPROC", "0", "", buffer.data(), 260)),
            std::string(259, 'n'));
}

// A cut path would be read as some other file; the reads must give their defaults instead.
TEST(Config, APathThatDoesNotFitGivesDefaultsInsteadOfAnotherFile) {
  TempFolder folder;
  WriteFileBytes(folder / "tolvanix.ini", "[tolvanix]\r\nManufacturer=Planted\r\n");
  std::string deep = folder.path() + "\\" + std::string(248 - folder.path().size() - 1, 'd');
  ASSERT_EQ(deep.size(), 248u);
  // A directory of 248 characters leaves no room for "\tolvanix.ini" in 259. A program name cut
  // at 259 inside the folder after folder's would make folder, with its tolvanix.ini, the
  // program directory.
  std::string inside = folder.path() + "\\" + std::string(259 - folder.path().size(), 'x');
  for (const std::string &name : {deep + "\\setup.exe", inside + "\\setup.exe"}) {
    ScopedProgramPath program(name);
    char path[260] = "junk";
    EXPECT_EQ(GetPatchConfigPath(path), 0) << name;
    EXPECT_STREQ(path, "");
    char value[300];
    EXPECT_STREQ(ReadPatchConfigValue("tolvanix", "Manufacturer", "Kestova", value, 300),
                 "Kestova");
  }
}

struct Walk {
  std::vector<std::string> names;
  std::string ini; // the action writes key n+1 into it before returning
};

void Collect(const char *name, void *context) {
  Walk *walk = static_cast<Walk *>(context);
  walk->names.push_back(name);
  if (walk->names.size() < 3) {
    std::string key = std::to_string(walk->names.size());
    WritePrivateProfileStringA("SrcFiles", key.c_str(), ("late" + key).c_str(), walk->ini.c_str());
  }
}

TEST(Config, TheNextKeyIsReadOnlyAfterTheActionForTheLastOneReturned) {
  TempFolder folder;
  ScopedProgramPath program(folder / "setup.exe");
  Walk walk;
  walk.ini = folder / "tolvanix.ini";
  WriteFileBytes(walk.ini, "[SrcFiles]\r\n0=first\r\n");
  ForEachListedName("SrcFiles", 200, Collect, &walk);
  EXPECT_EQ(walk.names, (std::vector<std::string>{"first", "late1", "late2"}));
}

} // namespace
