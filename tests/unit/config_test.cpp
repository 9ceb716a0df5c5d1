// The configuration file, read through the real GetPrivateProfileStringA of the platform.
#include <string>
#include <vector>

#include "config/config.h"
#include "testing.h"

namespace {

class Config : public ::testing::Test {
protected:
  TempFolder folder_;
  ScopedProgramPath program_{folder_ / "setup.exe"};
  void WriteIni(const std::string &text) { WriteFileBytes(folder_ / "tolvanix.ini", text); }
  std::string Read(const char *section, const char *key, const char *def, int capacity = 300) {
    std::vector<char> buffer(capacity, 'x');
    return ReadPatchConfigValue(section, key, def, buffer.data(), capacity);
  }
};

TEST_F(Config, PathIsTheProgramDirectoryAndTheFileName) {
  char path[260];
  EXPECT_EQ(GetPatchConfigPath(path), 1);
  EXPECT_EQ(std::string(path), folder_ / "tolvanix.ini");
}

TEST_F(Config, MissingFileSectionOrKeyGiveTheDefaultButAnEmptyValueDoesNot) {
  EXPECT_EQ(Read("tolvanix", "Manufacturer", "Kestova"), "Kestova") << "no file";
  WriteIni("[other]\r\nManufacturer=Other\r\n");
  EXPECT_EQ(Read("tolvanix", "Manufacturer", "Kestova"), "Kestova") << "no section";
  WriteIni("[tolvanix]\r\nMaker=Other\r\n");
  EXPECT_EQ(Read("tolvanix", "Manufacturer", "Kestova"), "Kestova") << "no key";
  WriteIni("[tolvanix]\r\nManufacturer=\r\n[KVSPLPROC]\r\nSRC=\r\n");
  EXPECT_EQ(Read("tolvanix", "Manufacturer", "Kestova"), "") << "empty value";
  EXPECT_EQ(Read("KVSPLPROC", "SRC", "KVHLP00E.EXE", 260), "");
  WriteIni("[tolvanix]\r\nManufacturer=Acme Printing\r\n");
  EXPECT_EQ(Read("tolvanix", "Manufacturer", "Kestova"), "Acme Printing");
}

TEST_F(Config, AValueLongerThanTheBufferIsCutToCapacityLessOne) {
  WriteIni("[PRINTPROC]\r\n0=" + std::string(300, 'n') + "\r\n");
  EXPECT_EQ(Read("PRINTPROC", "0", "", 260), std::string(259, 'n'));
}

TEST(ConfigPath, ThatDoesNotFitGivesDefaultsInsteadOfAnotherFile) {
  // A program directory of 248 characters leaves no room for "\tolvanix.ini" in 259. A cut
  // path would be read as some other file; the reads must give their defaults instead.
  TempFolder folder;
  std::string deep = folder.path() + "\\" + std::string(248 - folder.path().size() - 1, 'd');
  ASSERT_EQ(deep.size(), 248u);
  ScopedProgramPath program(deep + "\\setup.exe");
  char path[260] = "junk";
  EXPECT_EQ(GetPatchConfigPath(path), 0);
  EXPECT_STREQ(path, "");
  char value[300];
  EXPECT_STREQ(ReadPatchConfigValue("tolvanix", "Manufacturer", "Kestova", value, 300), "Kestova");
}

struct Walk {
  std::vector<std::string> names;
  std::string ini; // when set, the action writes key n+1 into it before returning
};

void Collect(const char *name, void *context) {
  Walk *walk = static_cast<Walk *>(context);
  walk->names.push_back(name);
  if (!walk->ini.empty() && walk->names.size() < 3) {
    std::string key = std::to_string(walk->names.size());
    WritePrivateProfileStringA("SrcFiles", key.c_str(), ("late" + key).c_str(), walk->ini.c_str());
  }
}

TEST_F(Config, ListsRunFromKeyZeroToTheFirstGapOrTheLimit) {
  std::string sixty = "[PRINTPROC]\r\n";
  for (int i = 60; i >= 0; --i) // written backwards: the order in the file must not matter
    sixty += std::to_string(i) + "=p" + std::to_string(i) + ".dll\r\n";
  std::string text = sixty + "[SrcFiles]\r\n0=a\r\n1=b\r\n3=d\r\n[KVSPLPROC]\r\nSRC=s\r\n01=x\r\n";
  text += "[Big]\r\n";
  for (int i = 0; i <= 210; ++i)
    text += std::to_string(i) + "=k" + std::to_string(i) + "\r\n";
  WriteIni(text);

  Walk printproc, srcfiles, kvsplproc, big;
  ForEachListedName("PRINTPROC", 50, Collect, &printproc);
  ForEachListedName("SrcFiles", 200, Collect, &srcfiles);
  ForEachListedName("KVSPLPROC", 200, Collect, &kvsplproc);
  ForEachListedName("Big", 200, Collect, &big);

  ASSERT_EQ(printproc.names.size(), 50u);
  EXPECT_EQ(printproc.names.front(), "p0.dll");
  EXPECT_EQ(printproc.names.back(), "p49.dll");
  EXPECT_EQ(srcfiles.names, (std::vector<std::string>{"a", "b"})) << "key 3 follows a gap";
  EXPECT_TRUE(kvsplproc.names.empty()) << "SRC and 01 are no list keys";
  ASSERT_EQ(big.names.size(), 200u);
  EXPECT_EQ(big.names.back(), "k199");
}

TEST_F(Config, TheNextKeyIsReadOnlyAfterTheActionForTheLastOneReturned) {
  WriteIni("[SrcFiles]\r\n0=first\r\n");
  Walk walk;
  walk.ini = folder_ / "tolvanix.ini";
  ForEachListedName("SrcFiles", 200, Collect, &walk);
  EXPECT_EQ(walk.names, (std::vector<std::string>{"first", "late1", "late2"}));
}

TEST_F(Config, AMissingFileMakesEveryListEmpty) {
  Walk walk;
  ForEachListedName("PRINTPROC", 50, Collect, &walk);
  EXPECT_TRUE(walk.names.empty());
}

} // namespace
