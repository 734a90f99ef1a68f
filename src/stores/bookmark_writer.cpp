#include "stores/bookmark_writer.h"

#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "tree/settings.h"
#include "platform/files.h"
#include "stores/bookmark_reader.h"

namespace {

// Indentation grows by four spaces a level up to this depth and then stays: the list
// structure carries the nesting, and a hostile tree of 100,000 levels would otherwise give
// a file whose size grows with the square of the depth.
constexpr int kIndentLevelsMax = 64;
constexpr char kSpaces[kIndentLevelsMax * 4 + 1] =
    "                                                                "
    "                                                                "
    "                                                                "
    "                                                                ";

// Where the bytes go: a string (for FormatBookmarkFile) or the file being saved.
struct Output {
  std::string* text = nullptr;
  AtomicFileWriter* file = nullptr;
};

// Writes length bytes of text, or the whole zero-terminated text when length is -1.
void WriteText(Output& out, const char* text, long length = -1) {
  if (!text) return;
  size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
  if (out.text)
    out.text->append(text, n);
  else
    out.file->write(text, n);
}

void WriteIndent(Output& out, int depth) {
  if (depth > kIndentLevelsMax) depth = kIndentLevelsMax;
  if (depth > 0) WriteText(out, kSpaces, static_cast<long>(depth) * 4);
}

// A date attribute: the file's own text when the reader kept it and the value is unchanged,
// otherwise the number.
void WriteDate(Output& out, const char* attribute, const LinkEntry& entry, char kind,
               TimeValue value) {
  WriteText(out, attribute);
  size_t length = 0;
  const char* kept = KeptDateText(entry, kind, value, &length);
  if (kept) {
    WriteText(out, kept, static_cast<long>(length));
  } else {
    char number[24];
    auto result = std::to_chars(number, number + sizeof number, static_cast<long long>(value));
    WriteText(out, number, result.ptr - number);
  }
  WriteText(out, "\"");
}

void WriteExtra(Output& out, const LinkEntry& entry) {
  if (entry.extraAttributes.length == 0) return;
  WriteText(out, " ");
  WriteText(out, entry.extraAttributes.data, entry.extraAttributes.length);
}

void WriteDescription(Output& out, const LinkEntry& entry, int depth) {
  if (!entry.description.data) return;
  WriteIndent(out, depth);
  WriteText(out, "<DD>");
  WriteText(out, entry.description.data, entry.description.length);
  WriteText(out, "\r\n");
}

// Writes the list and, through an explicit stack instead of recursion, every folder below
// it; depth counts the lists open, as the indentation needs.
void WriteBookmarkList(Output& out, const NodeList& list, int& depth) {
  std::vector<Node*> stack;  // per open list, the next node to write
  auto open = [&](const NodeList& l) {
    ++depth;
    WriteIndent(out, depth - 1);
    WriteText(out, "<DL><p>\r\n");
    stack.push_back(l.head());
  };
  open(list);
  while (!stack.empty()) {
    Node* node = stack.back();
    if (!node->next) {
      stack.pop_back();
      --depth;
      WriteIndent(out, depth);
      WriteText(out, "</DL><p>\r\n");
      continue;
    }
    stack.back() = node->next;
    const LinkEntry& e = *LinkEntry::of(node);
    if (!(e.source & SOURCE_BOOKMARKS)) continue;
    if (e.isSeparator()) {
      WriteIndent(out, depth);
      WriteText(out, "<HR>\r\n");
      WriteDescription(out, e, depth);
    } else if (e.isFolder()) {
      WriteIndent(out, depth);
      WriteDate(out, "<DT><H3 FOLDED ADD_DATE=\"", e, DATE_TEXT_ADD,
                e.addDate ? e.addDate : e.lastVisit);
      WriteExtra(out, e);
      WriteText(out, ">");
      WriteText(out, e.name);
      WriteText(out, "</H3>\r\n");
      WriteDescription(out, e, depth);
      open(e.children);
    } else if (e.action != ACTION_DELETE) {
      WriteIndent(out, depth);
      WriteText(out, "<DT><A HREF=\"");
      WriteText(out, e.url.data, e.url.length);
      WriteDate(out, "\" ADD_DATE=\"", e, DATE_TEXT_ADD, e.addDate ? e.addDate : e.lastVisit);
      WriteDate(out, " LAST_VISIT=\"", e, DATE_TEXT_VISIT, e.lastVisit);
      WriteDate(out, " LAST_MODIFIED=\"", e, DATE_TEXT_MODIFIED,
                e.lastModified ? e.lastModified : e.lastVisit);
      WriteExtra(out, e);
      WriteText(out, ">");
      WriteText(out, e.name);
      WriteText(out, "</A>\r\n");
      WriteDescription(out, e, depth);
    }
  }
}

void WriteBookmarkDocument(Output& out, const NodeList& tree) {
  const char* title = settings ? settings->bookmarkTitle : "Bookmarks";
  WriteText(out, "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n");
  if (settings && settings->bookmarkHeader.length)
    WriteText(out, settings->bookmarkHeader.data, settings->bookmarkHeader.length);
  WriteText(out, "<TITLE>");
  WriteText(out, title);
  WriteText(out, "</TITLE>\r\n");
  WriteText(out, "<H1>");
  WriteText(out, title);
  WriteText(out, "</H1>\r\n");
  if (settings && settings->bookmarkDescription.data) {
    WriteText(out, "<DD>");
    WriteText(out, settings->bookmarkDescription.data, settings->bookmarkDescription.length);
    WriteText(out, "\r\n");
  }
  int depth = 0;
  WriteBookmarkList(out, tree, depth);
}

}  // namespace

void FormatBookmarkFile(const NodeList& tree, std::string& out) {
  out.clear();
  Output o;
  o.text = &out;
  WriteBookmarkDocument(o, tree);
}

bool WriteBookmarkFile(NodeList& tree) {
  if (!settings || settings->bookmarkFile.length == 0) return false;
  AtomicFileWriter file;
  if (!file.begin(settings->bookmarkFile.data)) return false;
  Output o;
  o.file = &file;
  WriteBookmarkDocument(o, tree);
  std::string backup(settings->bookmarkFile.data, settings->bookmarkFile.length);
  backup += ".bak";
  return file.commit(backup.c_str());
}
