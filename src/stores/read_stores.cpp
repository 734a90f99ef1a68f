#include "stores/read_stores.h"

#include "tree/settings.h"
#include "ui/progress.h"
#include "stores/bookmark_store.h"
#include "stores/favorites_reader.h"

void ReadStores(Window* window, NodeList& root, int32_t& linkCount) {
  linkCount = 0;
  if (!settings) return;
  uint32_t flags = settings->flags;
  if (flags & (FLAG_CLEAN_BOOKMARKS | FLAG_SYNCHRONISE)) {
    // The bookmark reader logs which of its two messages applies; without the bookmark
    // file nothing is read, so that a run never saves a half-read pair of stores.
    if (!ReadBookmarkStore(window, root, linkCount)) return;
  }
  if (flags & (FLAG_CLEAN_FAVORITES | FLAG_SYNCHRONISE)) {
    bool insideBrokenLinks = false;
    AppendLog(window, IDC_LOG, "Reading Explorer Favorites...\r\n");
    ReadFavoritesFolder(settings->favoritesFolder, root, linkCount, insideBrokenLinks);
  }
}
