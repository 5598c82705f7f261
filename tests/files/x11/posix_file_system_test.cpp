#include "files/files_test_support.h"
#include "files/x11/user_volumes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace dravnok::files;
using namespace dravnok::files::testing;

TEST(UserDirs, DownloadFolderComesFromTheConfigurationWhenItNamesOne) {
  EXPECT_EQ(downloadDirFromUserDirs("# x\nXDG_DOWNLOAD_DIR=\"$HOME/Hentet\"\n", "/home/ann"), "/home/ann/Hentet");
  EXPECT_EQ(downloadDirFromUserDirs("XDG_DOWNLOAD_DIR=\"/data/dl\"\nXDG_MUSIC_DIR=\"$HOME/M\"", "/h"), "/data/dl");
  EXPECT_EQ(downloadDirFromUserDirs("XDG_DOWNLOAD_DIR=\"$HOME/My\\\"Files\"", "/h"), "/h/My\"Files");
  EXPECT_EQ(downloadDirFromUserDirs("XDG_DOWNLOAD_DIR=\"Downloads\"", "/h"), ""); // relative: not allowed
  EXPECT_EQ(downloadDirFromUserDirs("XDG_DOWNLOAD_DIRS=\"/x\"", "/h"), "");
}

TEST(UserDirs, VolumesAreTheMountsUnderTheUserMountFolders) {
  std::string mounts = "/dev/sda1 / ext4 rw 0 0\n"
                       "/dev/sdb1 /media/ann/USB\\040STICK vfat rw 0 0\n"
                       "/dev/sdc1 /run/media/ann/CARD exfat rw 0 0\n"
                       "/dev/sdd1 /mnt/backup ext4 rw 0 0\n"
                       "/dev/sdd1 /mnt/backup ext4 rw 0 0\n"
                       "tmpfs /mnt tmpfs rw 0 0\n"
                       "tmpfs /mediation tmpfs rw 0 0\n";
  EXPECT_EQ(userVolumesFromMounts(mounts),
            (std::vector<std::string>{"/media/ann/USB STICK", "/run/media/ann/CARD", "/mnt/backup"}));
}

// Home and its Downloads from HOME alone are the browser session story's.
TEST(PosixFileSystem, DownloadsFollowTheXdgConfigurationAndTransfersTouchRegularFilesOnly) {
  TempFolder temp;
  ::setenv("XDG_CONFIG_HOME", temp.wire().c_str(), 1);
  std::ofstream(temp.path() / "user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"$HOME/Incoming\"\n";
  auto native = makeNativeFileSystem();
  EXPECT_EQ(native->downloadsFolder(), native->homeFolder() + "/Incoming");
  ::unsetenv("XDG_CONFIG_HOME");
  // /dev/stdout is the agent's event stream.
  EXPECT_EQ(native->openForWriting("/dev/stdout"), nullptr);
  EXPECT_EQ(native->openForReading("/dev/zero"), nullptr);
  EXPECT_EQ(native->kindOf("/dev/null"), PathKind::Other);
}
