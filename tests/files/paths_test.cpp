#include "files/paths.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace dravnok::files;

TEST(Paths, ParentStopsAtTheRootAndIsEmptyThere) {
  struct Case {
    const char* path;
    const char* up;
  };
  for (Case c : {Case{"C:\\", ""}, Case{"C:\\Users", "C:\\"}, Case{"C:\\Users\\Ann", "C:\\Users"},
                 Case{"C:/Users/Ann", "C:/Users"}, Case{"C:\\Users\\\\Ann", "C:\\Users"}, Case{"C:", ""},
                 Case{"1:\\dir", "1:"} /* no drive */, Case{"\\\\server\\share\\", ""},
                 Case{"\\\\server\\share\\docs", "\\\\server\\share\\"}}) {
    EXPECT_EQ(parentForListing(c.path, PathStyle::Windows), c.up) << c.path;
  }
  for (Case c : {Case{"/", ""}, Case{"/home", "/"}, Case{"/home/ann", "/home"}, Case{"/home//ann", "/home"},
                 Case{"/home/a\\b", "/home"}}) {
    EXPECT_EQ(parentForListing(c.path, PathStyle::Posix), c.up) << c.path;
  }
}

TEST(Paths, UploadNamesLoseFolderAndDrivePartsAndUsableNamesAreCleanUtf8) {
  const std::tuple<const char*, PathStyle, const char*> cases[] = {
      {"..\\x.txt", PathStyle::Windows, "x.txt"},
      {"C:x.txt", PathStyle::Windows, "x.txt"},
      {"a/b\\c.txt", PathStyle::Posix, "c.txt"},
      {"..", PathStyle::Posix, ""},
      {"dir\\", PathStyle::Posix, ""},
      {"report 2024.pdf", PathStyle::Posix, "report 2024.pdf"}};
  for (const auto& [name, style, kept] : cases) EXPECT_EQ(uploadFileName(name, style), kept) << name;

  // Usable names are UTF-8 without control or Windows' special characters.
  for (auto [name, posix, windows] : std::initializer_list<std::tuple<std::string_view, bool, bool>>{
           {"r\xC3\xA9sum\xC3\xA9 \xF0\x9F\x98\x80.txt", true, true},
           {"x.txt:stream", true, false},
           {"a?b", true, false},
           {"bad\xFF.txt", false, false},
           {"tab\t.txt", false, false},
           {std::string_view("nul\0.txt", 8), false, false}}) {
    EXPECT_EQ(isUsableFileName(name, PathStyle::Posix), posix) << name;
    EXPECT_EQ(isUsableFileName(name, PathStyle::Windows), windows) << name;
  }
}

TEST(Paths, FileTimesBefore1970AreZeroAndWireTextSurvivesFileSystemPaths) {
  EXPECT_EQ(unixMsFromFileTime(116444736000000000ULL - 1), 0);
  EXPECT_EQ(unixMsFromFileTime(116444736000000000ULL + 15'000'000), 1500);
  const std::string name = "\xc3\xa4rger \xe2\x82\xac \xf0\x9f\x98\x80.txt"; // umlaut, euro sign, an emoji
  EXPECT_EQ(toUtf8(toFsPath(name)), name);
}
