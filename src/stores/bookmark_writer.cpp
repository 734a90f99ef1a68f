#include "stores/bookmark_writer.h"

#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "tree/settings.h"
#include "platform/files.h"
#include "stores/bookmark_reader.h"

namespace {

size_t UpToZero(const TextString& text) {
  if (!text.data) return 0;
  const void* nul = std::memchr(text.data, 0, static_cast<size_t>(text.length));
  return nul ? static_cast<const char*>(nul) - text.data : static_cast<size_t>(text.length);
}

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

// A date attribute (name="value"): the file's own text when the reader kept it and the
// value is unchanged, otherwise the number.
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

// The dates of an entry as they are written. An entry read from the file gets back the
// dates it had, in their own text; a date it did not have is written only when the program
// has set one since (the check date, LAST_VISIT, is the program's own). Any other entry
// has its missing dates filled from the last-visit date; a date that is still none (0) is
// left out rather than written as 1 January 1970.
struct Dates {
  bool write[3] = {false, false, false};  // ADD_DATE, LAST_VISIT, LAST_MODIFIED
  TimeValue value[3] = {0, 0, 0};
};

Dates DatesOf(const LinkEntry& e) {
  Dates d;
  uint8_t form = e.bookmarkForm;
  if (form & BOOKMARK_FORM_READ) {
    d.value[0] = e.addDate;
    d.write[0] = !(form & BOOKMARK_FORM_NO_ADD_DATE) || e.addDate != 0;
    if ((form & BOOKMARK_FORM_VISIT_FROM_ADD) && e.lastVisit == e.addDate) {
      // The last visit was taken from ADD_DATE: the file's own LAST_VISIT (none, or 0).
      d.value[1] = 0;
      d.write[1] = !(form & BOOKMARK_FORM_NO_LAST_VISIT);
    } else {
      d.value[1] = e.lastVisit;
      d.write[1] = true;
    }
    d.value[2] = e.lastModified;
    d.write[2] = !(form & BOOKMARK_FORM_NO_LAST_MODIFIED) || e.lastModified != 0;
    if (e.isFolder()) d.write[1] = d.write[2] = false;
    return d;
  }
  d.value[0] = e.addDate ? e.addDate : e.lastVisit;
  d.value[1] = e.lastVisit;
  d.value[2] = e.lastModified ? e.lastModified : e.lastVisit;
  for (int i = 0; i < 3; ++i) d.write[i] = d.value[i] != 0;
  if (e.isFolder()) d.write[1] = d.write[2] = false;
  return d;
}

void WriteDates(Output& out, const LinkEntry& e) {
  static const char* const kNames[3] = {" ADD_DATE=\"", " LAST_VISIT=\"", " LAST_MODIFIED=\""};
  static const char kKinds[3] = {DATE_TEXT_ADD, DATE_TEXT_VISIT, DATE_TEXT_MODIFIED};
  Dates d = DatesOf(e);
  for (int i = 0; i < 3; ++i)
    if (d.write[i]) WriteDate(out, kNames[i], e, kKinds[i], d.value[i]);
}

// An address goes between double quotes: a double quote in it is written %22, the form
// browsers use, so that the next read gets the whole address. It ends at a NUL byte.
void WriteAddress(Output& out, const TextString& url) {
  const char* p = url.data;
  const char* end = p + UpToZero(url);
  while (p < end) {
    const char* quote = static_cast<const char*>(std::memchr(p, '"', end - p));
    const char* stop = quote ? quote : end;
    WriteText(out, p, stop - p);
    if (!quote) break;
    WriteText(out, "%22", 3);
    p = quote + 1;
  }
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
      WriteText(out, "<HR");
      WriteExtra(out, e);
      WriteText(out, ">\r\n");
      WriteDescription(out, e, depth);
    } else if (e.isFolder()) {
      WriteIndent(out, depth);
      WriteText(out, "<DT><H3");
      // A folder is written closed, unless the file had it open.
      if (!(e.bookmarkForm & BOOKMARK_FORM_NOT_FOLDED)) WriteText(out, " FOLDED");
      WriteDates(out, e);
      WriteExtra(out, e);
      WriteText(out, ">");
      WriteText(out, e.name);
      WriteText(out, "</H3>\r\n");
      WriteDescription(out, e, depth);
      open(e.children);
    } else if (e.action != ACTION_DELETE) {
      WriteIndent(out, depth);
      WriteText(out, "<DT><A HREF=\"");
      WriteAddress(out, e.url);
      WriteText(out, "\"");
      WriteDates(out, e);
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
  if (settings && settings->bookmarkHeading.data) {
    WriteText(out, "<H1");
    WriteText(out, settings->bookmarkHeading.data, settings->bookmarkHeading.length);
  } else {
    WriteText(out, "<H1>");
    WriteText(out, title);
  }
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

std::string BookmarkFileAddress(const TextString& url) {
  std::string out;
  Output o;
  o.text = &out;
  WriteAddress(o, url);
  return out;
}

void FormatBookmarkFile(const NodeList& tree, std::string& out) {
  out.clear();
  Output o;
  o.text = &out;
  WriteBookmarkDocument(o, tree);
}

bool WriteBookmarkFile(NodeList& tree, std::string* why) {
  if (!settings || settings->bookmarkFile.length == 0) {
    if (why) *why = "no bookmark file";
    return false;
  }
  AtomicFileWriter file;
  // A bookmark file kept elsewhere behind a symbolic link (dotfiles in a repository) is
  // replaced where it lies, the link staying as it is.
  AtomicWriteOptions options;
  options.throughLink = true;
  options.removeLeftovers = true;
  bool ok = file.begin(settings->bookmarkFile.data, options);
  if (ok) {
    Output o;
    o.file = &file;
    WriteBookmarkDocument(o, tree);
    ok = file.commit(true);
  }
  if (!ok && why) *why = FileErrorText(file.error());
  return ok;
}
