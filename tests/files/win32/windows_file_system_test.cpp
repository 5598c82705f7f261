#include "files/files_test_support.h"
#include "files/win32/windows_paths.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace dravnok::files;
using namespace dravnok::files::testing;

TEST(WindowsFileSystem, SymbolicLinksAndJunctionsCountAsLinks) {
  EXPECT_EQ(kindFromAttributes(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT),
            PathKind::Link);
  EXPECT_EQ(kindFromAttributes(FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_SYMLINK), PathKind::Link);
  // Cloud placeholders and deduplicated files are ordinary files to the user.
  EXPECT_EQ(kindFromAttributes(FILE_ATTRIBUTE_REPARSE_POINT, IO_REPARSE_TAG_DEDUP), PathKind::RegularFile);
  EXPECT_EQ(kindFromAttributes(FILE_ATTRIBUTE_DIRECTORY, 0), PathKind::Directory);
}

TEST(WindowsFileSystem, DeviceNamesAreNeverWrittenOrRead) {
  TempFolder temp;
  auto native = makeNativeFileSystem();
  // "CON" would put an upload into the agent's event stream.
  EXPECT_EQ(native->openForWriting(temp.wire("CON")), nullptr);
  EXPECT_EQ(native->openForReading(temp.wire("NUL")), nullptr);
  EXPECT_NE(native->openForWriting(temp.wire("plain.txt")), nullptr);
}
