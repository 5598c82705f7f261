#pragma once
// Where Linux desktops keep the user's folders and volumes.
#include <string>
#include <string_view>
#include <vector>

namespace dravnok::files {

// The Downloads folder named by a user-dirs.dirs text (XDG_DOWNLOAD_DIR,
// "$HOME/..." or absolute); empty when the text does not name one.
std::string downloadDirFromUserDirs(std::string_view userDirs, std::string_view home);

// Mount points under /media, /run/media and /mnt in a mount table's text
// (the format of /proc/self/mounts), in table order without repeats.
std::vector<std::string> userVolumesFromMounts(std::string_view mounts);

} // namespace dravnok::files
