#include "stores/read_stores.h"

#include <string>

#include "platform/files.h"
#include "tree/settings.h"
#include "ui/progress.h"
#include "stores/bookmark_store.h"
#include "stores/favorites_reader.h"

bool ReadStores(Window* window, NodeList& root, int32_t& linkCount) {
  linkCount = 0;
  if (!settings) return true;
  uint32_t flags = settings->flags;
  if (flags & (FLAG_CLEAN_BOOKMARKS | FLAG_SYNCHRONISE)) {
    // The bookmark reader logs which of its two messages applies; without the bookmark
    // file nothing is read, so that a run never saves a half-read pair of stores.
    if (!ReadBookmarkStore(window, root, linkCount)) {
      FreeTree(root);
      linkCount = 0;
      return false;
    }
  }
  if (flags & (FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE)) {
    bool insideBrokenLinks = false;
    AppendLog(window, IDC_LOG, "Reading Explorer Favorites...\r\n");
    std::string failedFile;
    int error = 0;
    if (!ReadFavoritesFolder(settings->favoritesFolder, root, linkCount, insideBrokenLinks,
                             &failedFile, &error)) {
      // A part of the folder is no folder to check or save: a save would remove what was not
      // read. Neither store is checked then, for the same reason as above.
      std::string line = "Couldn't read the Favorites: " + failedFile + " (" +
                         FileErrorText(error) + "). Nothing is checked or saved.\r\n";
      AppendLog(window, IDC_LOG, line.c_str());
      FreeTree(root);
      linkCount = 0;
      return false;
    }
  }
  return true;
}
