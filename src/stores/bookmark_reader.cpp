#include "stores/bookmark_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tree/settings.h"
#include "ui/progress.h"
#include "platform/files.h"

namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);
constexpr size_t kDocumentTitleMax = SETTINGS_TEXT_SIZE - 1;
// A kept date text longer than this is not a date any program wrote; it is not kept.
constexpr size_t kDateTextMax = 64;
// A <META tag of the header may run over several lines, but not over the rest of the file.
constexpr size_t kMetaTagMax = 65536;

inline unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when the text at p (n bytes available) begins with tag, letter case ignored.
bool StartsNoCase(const char* p, size_t n, const char* tag) {
  size_t i = 0;
  for (; tag[i]; ++i) {
    if (i >= n ||
        Lower(static_cast<unsigned char>(p[i])) != Lower(static_cast<unsigned char>(tag[i])))
      return false;
  }
  return true;
}

// The position of the first occurrence of text in the line, letter case ignored (A-Z fold
// onto a-z); kNotFound when it does not occur. Every tag begins with '<', so the search
// jumps from one '<' to the next.
size_t FindTextNoCase(const char* line, size_t length, const char* text) {
  const char* p = line;
  const char* end = line + length;
  while (p < end) {
    const char* q = static_cast<const char*>(std::memchr(p, text[0], end - p));
    if (!q) break;
    if (StartsNoCase(q, end - q, text)) return q - line;
    p = q + 1;
  }
  return kNotFound;
}

// Exact search (the ends of titles and names are matched with their case).
size_t FindText(const char* line, size_t length, const char* text) {
  size_t n = std::strlen(text);
  const char* p = line;
  const char* end = line + length;
  while (static_cast<size_t>(end - p) >= n) {
    const char* q = static_cast<const char*>(std::memchr(p, text[0], end - p - n + 1));
    if (!q) break;
    if (std::memcmp(q, text, n) == 0) return q - line;
    p = q + 1;
  }
  return kNotFound;
}

// One line of the file: its text without the line end (cut at a NUL byte, as a
// zero-terminated line would be), and where the next line starts.
struct Line {
  const char* text;
  size_t length;
  size_t start;    // offset of the line in the file
  size_t textEnd;  // offset just after the text, before the line end
  size_t next;     // offset of the following line
};

// Splits the text into lines. A line ends at CR or LF; a second line-end byte right after
// the first belongs to the same line end (so CR LF, LF CR, CR CR and LF LF each end one
// line). The last line is delivered also without a line end. The next CR and LF positions
// are remembered, so text with only one kind of line end is still scanned once.
class LineReader {
 public:
  LineReader(const char* data, size_t size) : data_(data), size_(size) {
    nextLf_ = Find('\n');
    nextCr_ = Find('\r');
  }

  bool ReadLine(Line& line) {
    if (pos_ >= size_) return false;
    if (nextLf_ < pos_) nextLf_ = Find('\n');
    if (nextCr_ < pos_) nextCr_ = Find('\r');
    size_t end = nextLf_ < nextCr_ ? nextLf_ : nextCr_;
    size_t next = end;
    if (end < size_) {
      ++next;
      if (next < size_ && (data_[next] == '\r' || data_[next] == '\n')) ++next;
    }
    line.start = pos_;
    line.text = data_ + pos_;
    line.textEnd = end;
    line.length = end - pos_;
    const void* nul = std::memchr(line.text, 0, line.length);
    if (nul) line.length = static_cast<const char*>(nul) - line.text;
    line.next = next;
    pos_ = next;
    return true;
  }

  const char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  size_t Find(char c) const {
    const void* p = std::memchr(data_ + pos_, c, size_ - pos_);
    return p ? static_cast<const char*>(p) - data_ : size_;
  }
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
  size_t nextLf_ = 0;
  size_t nextCr_ = 0;
};

// One attribute of a tag as it stands in the line.
struct Attribute {
  const char* name;
  size_t nameLength;
  const char* value;  // without its quotes
  size_t valueLength;
  const char* raw;  // the whole attribute text
  size_t rawLength;
  bool unterminated;  // a quote that the line does not close
};

// Reads the attributes of a tag from p (just after the tag's name) up to the '>' that ends
// the tag outside any quotes. Returns the position of that '>' or end when there is none.
// A value is quoted with " or ', or runs unquoted to white space or '>'; an unterminated
// quote runs to the end of the line.
const char* ParseAttributes(const char* p, const char* end, std::vector<Attribute>& out) {
  out.clear();
  for (;;) {
    while (p < end && IsTagSpace(*p)) ++p;
    if (p >= end || *p == '>') return p;
    Attribute a{};
    a.raw = p;
    a.name = p;
    while (p < end && !IsTagSpace(*p) && *p != '=' && *p != '>') ++p;
    a.nameLength = p - a.name;
    if (p < end && *p == '=') {
      ++p;
      if (p < end && (*p == '"' || *p == '\'')) {
        char quote = *p++;
        a.value = p;
        const char* close = static_cast<const char*>(std::memchr(p, quote, end - p));
        if (close) {
          a.valueLength = close - p;
          p = close + 1;
        } else {
          a.valueLength = end - p;
          a.unterminated = true;
          p = end;
        }
      } else {
        a.value = p;
        while (p < end && !IsTagSpace(*p) && *p != '>') ++p;
        a.valueLength = p - a.value;
      }
    }
    if (p == a.raw) ++p;  // a lone '=' : take it as text, so that the walk moves on
    a.rawLength = p - a.raw;
    out.push_back(a);
  }
}

bool NameIs(const Attribute& a, const char* name) {
  return a.nameLength == std::strlen(name) && StartsNoCase(a.name, a.nameLength, name);
}

// The text after a tag's '>' up to the end marker (matched exactly) or the end of the line,
// without the spaces before and after it.
void TextAfterTag(const char* tagEnd, const char* end, const char* marker, const char** text,
                  size_t* length) {
  const char* p = tagEnd < end ? tagEnd + 1 : end;
  while (p < end && *p == ' ') ++p;
  size_t stop = FindText(p, end - p, marker);
  const char* q = stop == kNotFound ? end : p + stop;
  while (q > p && q[-1] == ' ') --q;
  *text = p;
  *length = q - p;
}

bool HasPlainNumberText(const char* text, size_t length, TimeValue value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
  size_t n = static_cast<size_t>(result.ptr - buffer);
  return n == length && std::memcmp(buffer, text, length) == 0;
}

// Remembers the original text of a date when writing the number would change it.
void KeepDateText(LinkEntry& entry, char kind, const Attribute& a, TimeValue parsed,
                  TimeValue value) {
  if (value == 0 || a.valueLength == 0 || a.valueLength > kDateTextMax) return;
  if (HasPlainNumberText(a.value, a.valueLength, parsed)) return;
  for (size_t i = 0; i < a.valueLength; ++i) {
    char c = a.value[i];
    if (c == '"' || c == '>' || IsTagSpace(c) || c == '\n' || c == 0) return;
  }
  std::string text(entry.dateText.c_str(), entry.dateText.length);
  text += kind;
  text.append(a.value, a.valueLength);
  text += '\n';
  entry.dateText.assign(text.c_str());
}

class Reader {
 public:
  Reader(const char* data, size_t size, NodeList& root, int32_t& linkCount)
      : lines_(data, size), linkCount_(linkCount) {
    levels_.push_back({&root, false});
    if (settings) sorted_ = (settings->flags & FLAG_SORT_BOOKMARKS) != 0;
    if (root.isEmpty()) SortAtEnd(root);
  }

  void ReadBookmarkList();

 private:
  struct Level {
    NodeList* list;
    bool setBrokenLinks;
  };
  enum class Kind { Other, Link, Folder, Title, ListEnd, Separator };

  Kind Classify(const Line& line, size_t* where, size_t* separatorAt, int* listEnds);
  void ReadLink(const Line& line);
  void ReadFolder(const Line& line, size_t at);
  void ReadTitle(const Line& line, size_t at);
  void KeepExtras(TextString& out);
  void AddSeparator();
  bool EndList();  // false when the top-level list ended
  void Insert(LinkEntry* entry);
  void SortAtEnd(NodeList& list);
  void Finish();
  LinkEntry* FindFolder(NodeList& list, const char* name, size_t length);
  void RememberFolder(NodeList& list, LinkEntry* entry);
  void StartDescription(const Line& line, size_t at);
  void EndDescription();
  static bool StartsElement(const Line& line);
  void CollectMeta(const Line& line);

  LineReader lines_;
  int32_t& linkCount_;
  bool sorted_ = false;
  bool insideBrokenLinks_ = false;
  bool inHeader_ = true;
  bool previousOnlyDt_ = false;
  size_t metaResume_ = 0;  // where the last <META tag ended
  std::vector<std::pair<size_t, size_t>> metaSpans_;
  std::string lineWithoutMeta_;
  std::vector<Level> levels_;
  std::vector<Attribute> attributes_;
  const char* linkTagEnd_ = nullptr;
  LinkEntry* lastEntry_ = nullptr;
  // The description being read and the entry it belongs to.
  bool inDescription_ = false;
  bool descriptionOfFile_ = false;
  bool anyEntry_ = false;  // an entry, or a list end, has been read
  LinkEntry* descriptionOwner_ = nullptr;
  std::string description_;
  size_t descriptionEnd_ = 0;  // where the text read so far ends in the file
  // Folders by list and folded name, so that merging costs no walk of a long list.
  std::unordered_map<std::string, LinkEntry*> folders_;
  std::unordered_set<const NodeList*> indexedLists_;
  std::string key_;
  std::vector<const Attribute*> extras_;  // attributes the writer does not write itself
  NodeList discarded_;
  std::unordered_set<const NodeList*> sortAtEnd_;
  std::vector<NodeList*> listsToSort_;
};

void Reader::ReadBookmarkList() {
  Line line;
  while (lines_.ReadLine(line)) {
    if (inDescription_) {
      if (!StartsElement(line)) {
        // The line end between the lines belongs to the description as it was written.
        description_.append(lines_.data() + descriptionEnd_, line.start - descriptionEnd_);
        description_.append(line.text, line.length);
        descriptionEnd_ = line.textEnd;
        continue;
      }
      EndDescription();
    }
    Line view = line;
    if (inHeader_ || metaResume_ > line.start) {
      CollectMeta(line);
      if (!metaSpans_.empty()) {
        view.text = lineWithoutMeta_.data();
        view.length = lineWithoutMeta_.size();
      }
    }
    size_t lead = 0;
    while (lead < view.length && IsBlank(view.text[lead])) ++lead;
    if (StartsNoCase(view.text + lead, view.length - lead, "<DD>")) {
      StartDescription(view, lead + 4);
      previousOnlyDt_ = false;
      continue;
    }
    size_t where = 0, separatorAt = kNotFound;
    int listEnds = 0;
    Kind kind = Classify(view, &where, &separatorAt, &listEnds);
    // The heading repeats the document title, whose text may hold anything: a rule or a list
    // end in it is not one of the file.
    if (StartsNoCase(view.text + lead, view.length - lead, "<H1")) {
      if (kind == Kind::Separator || kind == Kind::ListEnd) kind = Kind::Other;
      separatorAt = kNotFound;
    }
    {
      size_t end = view.length;
      while (end > lead && IsBlank(view.text[end - 1])) --end;
      previousOnlyDt_ = end - lead == 4 && StartsNoCase(view.text + lead, 4, "<DT>");
    }
    if (kind != Kind::Other && kind != Kind::Title) {
      inHeader_ = false;
      anyEntry_ = true;
    }
    if (inHeader_ && FindTextNoCase(view.text, view.length, "<DL") != kNotFound) inHeader_ = false;
    if (separatorAt != kNotFound && kind != Kind::Separator) AddSeparator();
    switch (kind) {
      case Kind::Link:
        ReadLink(view);
        break;
      case Kind::Folder:
        ReadFolder(view, where);
        break;
      case Kind::Title:
        ReadTitle(view, where);
        break;
      case Kind::ListEnd:
        for (int i = 0; i < listEnds; ++i) {
          if (!EndList()) {
            Finish();
            return;
          }
        }
        break;
      case Kind::Separator:
        AddSeparator();
        break;
      case Kind::Other:
        break;
    }
  }
  Finish();
}

// Finds what the line is. The first of these that the line holds decides: a link (an <A tag
// with an HREF attribute, wherever it stands among the attributes), a folder ("<DT><H3", or
// "<H3" on the line after a line holding only "<DT>"), the document title, a list end
// ("</DL>", with or without "<p>"; each one on the line counts), a separator. A separator
// that stands before the link, folder or list end of the same line is reported too.
Reader::Kind Reader::Classify(const Line& line, size_t* where, size_t* separatorAt, int* listEnds) {
  const char* text = line.text;
  const char* end = text + line.length;
  size_t folder = kNotFound, title = kNotFound, listEnd = kNotFound;
  *separatorAt = kNotFound;
  *listEnds = 0;
  for (const char* p = text; p < end;) {
    const char* q = static_cast<const char*>(std::memchr(p, '<', end - p));
    if (!q) break;
    size_t n = end - q;
    size_t at = q - text;
    if (n > 2 && (q[1] == 'a' || q[1] == 'A') && IsTagSpace(q[2])) {
      const char* tagEnd = ParseAttributes(q + 2, end, attributes_);
      for (const Attribute& a : attributes_) {
        if (NameIs(a, "HREF")) {
          *where = at;
          linkTagEnd_ = tagEnd;  // ReadLink goes on from the attributes read here
          return Kind::Link;
        }
      }
      p = tagEnd;
      continue;
    }
    if (folder == kNotFound && StartsNoCase(q, n, "<DT><H3")) folder = at;
    if (folder == kNotFound && previousOnlyDt_ && StartsNoCase(q, n, "<H3") &&
        (n == 3 || IsTagSpace(q[3]) || q[3] == '>'))
      folder = at;
    if (title == kNotFound && StartsNoCase(q, n, "<TITLE>")) title = at;
    if (StartsNoCase(q, n, "</DL>")) {
      if (listEnd == kNotFound) listEnd = at;
      ++*listEnds;
    }
    if (*separatorAt == kNotFound && StartsNoCase(q, n, "<HR>")) *separatorAt = at;
    p = q + 1;
  }
  Kind kind = Kind::Other;
  if (folder != kNotFound) {
    *where = folder;
    kind = Kind::Folder;
  } else if (title != kNotFound) {
    *where = title;
    kind = Kind::Title;
  } else if (listEnd != kNotFound) {
    *where = listEnd;
    kind = Kind::ListEnd;
  } else if (*separatorAt != kNotFound) {
    *where = *separatorAt;
    return Kind::Separator;
  }
  // Only a rule before the element is a separator of its own.
  if (*separatorAt != kNotFound && (kind == Kind::Title || *separatorAt > *where))
    *separatorAt = kNotFound;
  return kind;
}

// Sorted reading puts each entry in front of the first one whose name sorts after it. For a
// list that this read fills from empty, that order is the stable sort of the order read,
// which is made once at the end instead of by a walk from the head for every entry (a long
// folder would otherwise cost time growing with the square of its length).
void Reader::Insert(LinkEntry* entry) {
  NodeList& list = *levels_.back().list;
  if (sorted_ && !sortAtEnd_.count(&list))
    list.insertSorted(entry);
  else
    list.addTail(entry);
}

void Reader::Finish() {
  if (inDescription_) EndDescription();
  FreeTree(discarded_);
  std::vector<Node*> nodes;
  for (NodeList* list : listsToSort_) {
    nodes.clear();
    for (Node* n = list->head(); n->next; n = n->next) nodes.push_back(n);
    std::stable_sort(nodes.begin(), nodes.end(), [](const Node* a, const Node* b) {
      return CompareNames(a->name, b->name) < 0;
    });
    for (Node* n : nodes) {
      n->unlink();
      list->addTail(n);
    }
  }
}

void Reader::SortAtEnd(NodeList& list) {
  if (sorted_ && sortAtEnd_.insert(&list).second) listsToSort_.push_back(&list);
}

void Reader::ReadLink(const Line& line) {
  const char* end = line.text + line.length;
  const char* tagEnd = linkTagEnd_;
  const Attribute* href = nullptr;
  const Attribute* dates[3] = {nullptr, nullptr, nullptr};  // add, visit, modified
  extras_.clear();
  for (const Attribute& a : attributes_) {
    const Attribute** known = nullptr;
    if (NameIs(a, "HREF")) {
      if (!href) {
        href = &a;
        continue;
      }
    } else if (NameIs(a, "ADD_DATE")) {
      known = &dates[0];
    } else if (NameIs(a, "LAST_VISIT")) {
      known = &dates[1];
    } else if (NameIs(a, "LAST_MODIFIED")) {
      known = &dates[2];
    }
    if (known && !*known) {
      *known = &a;
      continue;
    }
    extras_.push_back(&a);
  }
  TimeValue parsed[3] = {0, 0, 0}, value[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (!dates[i]) continue;
    parsed[i] = ParseBookmarkDate(dates[i]->value, dates[i]->valueLength);
    value[i] = parsed[i] == -1 ? 0 : parsed[i];
  }
  const char* title;
  size_t titleLength;
  TextAfterTag(tagEnd, end, "</A", &title, &titleLength);

  LinkEntry* entry = new (std::nothrow) LinkEntry();
  if (!entry) return;
  entry->setName(title, titleLength);
  if (!entry->name || !entry->url.assign(href->value, href->valueLength)) {
    delete entry;
    return;
  }
  entry->lastVisit = value[1] != 0 ? value[1] : value[0];
  entry->addDate = value[0];
  entry->lastModified = value[2];
  static const char kKinds[3] = {DATE_TEXT_ADD, DATE_TEXT_VISIT, DATE_TEXT_MODIFIED};
  for (int i = 0; i < 3; ++i) {
    if (dates[i]) KeepDateText(*entry, kKinds[i], *dates[i], parsed[i], value[i]);
  }
  KeepExtras(entry->extraAttributes);
  Insert(entry);
  // An empty address makes the entry a folder for everyone else, merging included.
  if (href->valueLength == 0) RememberFolder(*levels_.back().list, entry);
  lastEntry_ = entry;
  if (!insideBrokenLinks_) ++linkCount_;
}

void Reader::ReadFolder(const Line& line, size_t at) {
  const char* end = line.text + line.length;
  const char* p = line.text + at;
  p += StartsNoCase(p, end - p, "<DT>") ? 7 : 3;
  const char* tagEnd = ParseAttributes(p, end, attributes_);
  const char* name;
  size_t nameLength;
  TextAfterTag(tagEnd, end, "</H", &name, &nameLength);

  NodeList& list = *levels_.back().list;
  LinkEntry* folder = FindFolder(list, name, nameLength);
  if (folder) {
    folder->source |= SOURCE_BOOKMARKS;
  } else {
    folder = new (std::nothrow) LinkEntry();
    if (folder) folder->setName(name, nameLength);
    if (folder && folder->name) {
      const Attribute* added = nullptr;
      extras_.clear();
      for (const Attribute& a : attributes_) {
        if (!added && NameIs(a, "ADD_DATE")) {
          added = &a;
          continue;
        }
        if (NameIs(a, "FOLDED") && a.valueLength == 0) continue;  // the writer writes it
        extras_.push_back(&a);
      }
      if (added) {
        folder->addDate = ParseBookmarkDate(added->value, added->valueLength);
        KeepDateText(*folder, DATE_TEXT_ADD, *added, folder->addDate, folder->addDate);
      }
      KeepExtras(folder->extraAttributes);
      Insert(folder);
      RememberFolder(list, folder);
      SortAtEnd(folder->children);
    } else {
      delete folder;
      folder = nullptr;
    }
  }
  bool setsBroken = nameLength == 12 && std::memcmp(name, "Broken Links", 12) == 0;
  if (setsBroken) insideBrokenLinks_ = true;
  // Without memory for the folder its contents are still read past, into a list that is
  // freed at the end, so that they do not land in the wrong folder.
  levels_.push_back({folder ? &folder->children : &discarded_, setsBroken});
  lastEntry_ = folder;
}

// Keeps the attributes in extras_ as they stand, one space apart, in a single allocation.
void Reader::KeepExtras(TextString& out) {
  if (extras_.empty()) return;
  size_t total = extras_.size() - 1;
  for (const Attribute* a : extras_) total += a->rawLength + (a->unterminated ? 1 : 0);
  if (total > 0x7FFFFFF0u || !out.reserve(static_cast<int32_t>(total))) return;
  char* p = out.data;
  for (const Attribute* a : extras_) {
    if (p != out.data) *p++ = ' ';
    std::memcpy(p, a->raw, a->rawLength);
    p += a->rawLength;
    if (a->unterminated) *p++ = a->value[-1];  // close the quote the line left open
  }
  *p = 0;
  out.length = static_cast<int32_t>(p - out.data);
}

void Reader::ReadTitle(const Line& line, size_t at) {
  const char* end = line.text + line.length;
  const char* p = line.text + at + 6;  // the '>' of "<TITLE>"
  const char* title;
  size_t length;
  TextAfterTag(p, end, "</T", &title, &length);
  if (length > kDocumentTitleMax) length = kDocumentTitleMax;
  if (!settings) return;
  std::memcpy(settings->bookmarkTitle, title, length);
  settings->bookmarkTitle[length] = 0;
}

void Reader::AddSeparator() {
  lastEntry_ = nullptr;
  if (sorted_) return;  // sorted bookmarks lose their separators
  LinkEntry* entry = new (std::nothrow) LinkEntry();
  if (!entry) return;
  levels_.back().list->addTail(entry);
  lastEntry_ = entry;
}

bool Reader::EndList() {
  lastEntry_ = nullptr;
  if (levels_.size() <= 1) return false;
  if (levels_.back().setBrokenLinks) insideBrokenLinks_ = false;
  levels_.pop_back();
  return true;
}

LinkEntry* Reader::FindFolder(NodeList& list, const char* name, size_t length) {
  if (indexedLists_.insert(&list).second) {
    // A list that held entries before this read: index what it holds, in list order.
    for (Node* n = list.head(); n->next; n = n->next) {
      LinkEntry* e = LinkEntry::of(n);
      if (e->name && e->url.length == 0) RememberFolder(list, e);
    }
  }
  uintptr_t address = reinterpret_cast<uintptr_t>(&list);
  key_.assign(reinterpret_cast<const char*>(&address), sizeof address);
  for (size_t i = 0; i < length; ++i)
    key_ += static_cast<char>(Lower(static_cast<unsigned char>(name[i])));
  auto it = folders_.find(key_);
  return it == folders_.end() ? nullptr : it->second;
}

void Reader::RememberFolder(NodeList& list, LinkEntry* entry) {
  indexedLists_.insert(&list);
  uintptr_t address = reinterpret_cast<uintptr_t>(&list);
  std::string key(reinterpret_cast<const char*>(&address), sizeof address);
  for (const char* p = entry->name; *p; ++p)
    key += static_cast<char>(Lower(static_cast<unsigned char>(*p)));
  folders_.emplace(std::move(key), entry);
}

void Reader::StartDescription(const Line& line, size_t at) {
  inDescription_ = true;
  descriptionOwner_ = lastEntry_;
  descriptionOfFile_ = !lastEntry_ && !anyEntry_;
  description_.assign(line.text + at, line.length - at);
  descriptionEnd_ = line.textEnd;
}

void Reader::EndDescription() {
  inDescription_ = false;
  LinkEntry* owner = descriptionOwner_;
  descriptionOwner_ = nullptr;
  if (!owner) {
    // Before any entry, a description belongs to the whole file.
    if (descriptionOfFile_ && settings && !settings->bookmarkDescription.data)
      settings->bookmarkDescription.assign(description_.data(),
                                           static_cast<int32_t>(description_.size()));
    return;
  }
  if (owner->description.data && owner->description.length) {
    // A folder met twice keeps both descriptions.
    std::string joined(owner->description.data, owner->description.length);
    joined += "\r\n";
    joined += description_;
    owner->description.assign(joined.data(), static_cast<int32_t>(joined.size()));
  } else {
    owner->description.assign(description_.data(), static_cast<int32_t>(description_.size()));
  }
}

// Whether a line ends a description: it starts (after blanks) with an element of the list
// structure. Anything else, HTML such as <a href=...> included, continues the description.
bool Reader::StartsElement(const Line& line) {
  size_t i = 0;
  while (i < line.length && IsBlank(line.text[i])) ++i;
  const char* p = line.text + i;
  size_t n = line.length - i;
  static const char* const kElements[] = {"<DT", "<DD",    "<DL", "</DL", "<HR",
                                          "<H3", "<TITLE", "<H1", "</H1"};
  for (const char* e : kElements) {
    if (StartsNoCase(p, n, e)) return true;
  }
  return false;
}

// Keeps each <META ...> tag of the header, whole even when it runs over several lines, and
// notes the parts of the line the tags take up: what stands inside a tag is not an element.
void Reader::CollectMeta(const Line& line) {
  metaSpans_.clear();
  const char* data = lines_.data();
  size_t lineEnd = line.start + line.length;
  size_t from = line.start;
  if (metaResume_ > from) {
    from = metaResume_ < lineEnd ? metaResume_ : lineEnd;
    metaSpans_.push_back({line.start, from});
  }
  while (inHeader_ && from < lineEnd) {
    size_t at = FindTextNoCase(data + from, lineEnd - from, "<META");
    if (at == kNotFound) break;
    size_t start = from + at;
    size_t limit = lines_.size() - start;
    if (limit > kMetaTagMax) limit = kMetaTagMax;
    const char* p = data + start + 5;
    const char* end = data + start + limit;
    char quote = 0;
    for (; p < end; ++p) {
      if (*p == 0) break;
      if (quote) {
        if (*p == quote) quote = 0;
      } else if (*p == '"' || *p == '\'') {
        quote = *p;
      } else if (*p == '>') {
        break;
      }
    }
    if (p >= end || *p != '>') break;  // not a tag: keep nothing rather than swallow the file
    size_t stop = p + 1 - data;
    if (settings) {
      settings->bookmarkHeader.append(std::string(data + start, stop - start).c_str());
      settings->bookmarkHeader.append("\r\n");
    }
    metaResume_ = stop;
    metaSpans_.push_back({start, stop < lineEnd ? stop : lineEnd});
    from = stop;
  }
  if (metaSpans_.empty()) return;
  // The line as classified: its text without the tags.
  lineWithoutMeta_.clear();
  size_t pos = line.start;
  for (const auto& span : metaSpans_) {
    if (span.first > pos) lineWithoutMeta_.append(data + pos, span.first - pos);
    pos = span.second;
  }
  if (pos < lineEnd) lineWithoutMeta_.append(data + pos, lineEnd - pos);
}

}  // namespace

TimeValue ParseBookmarkDate(const char* text, size_t length) {
  size_t i = 0;
  while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < length && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  // Accumulated as a negative number, whose range is one larger.
  constexpr TimeValue kMin = INT64_MIN;
  TimeValue v = 0;
  bool saturated = false;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (saturated) continue;
    if (v < (kMin + digit) / 10) {
      saturated = true;
      v = kMin;
      continue;
    }
    v = v * 10 - digit;
  }
  if (negative) return v;
  return v == kMin ? INT64_MAX : -v;
}

const char* KeptDateText(const LinkEntry& entry, char kind, TimeValue value, size_t* length) {
  if (value == 0 || entry.dateText.length == 0) return nullptr;
  const char* p = entry.dateText.data;
  const char* end = p + entry.dateText.length;
  while (p < end) {
    const char* stop = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!stop) stop = end;
    if (*p == kind && ParseBookmarkDate(p + 1, stop - p - 1) == value) {
      *length = stop - p - 1;
      return p + 1;
    }
    p = stop + 1;
  }
  return nullptr;
}

bool LooksLikeUtf16(const char* data, size_t size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  if (size >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) return true;
  for (const unsigned char* q = p; q < p + size;) {
    const void* nul = std::memchr(q, 0, p + size - q);
    if (!nul) break;
    const unsigned char* z = static_cast<const unsigned char*>(nul);
    if (z > p && z + 1 < p + size && z[-1] != 0 && z[-1] < 0x80 && z[1] != 0 && z[1] < 0x80)
      return true;
    q = z + 1;
  }
  return false;
}

void ReadBookmarkText(const char* data, size_t size, NodeList& root, int32_t& linkCount) {
  if (settings) {
    settings->bookmarkHeader.release();
    settings->bookmarkDescription.release();
  }
  if (!data) return;
  Reader reader(data, size, root, linkCount);
  reader.ReadBookmarkList();
}

bool ReadBookmarkFile(Window* window, NodeList& root, int32_t& linkCount) {
  const char* path = settings ? settings->bookmarkFile.c_str() : "";
  InputFile file;
  char* text = nullptr;
  size_t size = 0;
  bool ok = file.open(path);
  if (ok) {
    // The whole file is read in large blocks: the lines are then found in memory.
    size_t capacity = 0;
    for (;;) {
      if (capacity - size < 65536) {
        size_t grown = capacity ? capacity * 2 : 262144;
        char* bigger = static_cast<char*>(std::realloc(text, grown));
        if (!bigger) {
          ok = false;
          break;
        }
        text = bigger;
        capacity = grown;
      }
      long n = file.read(text + size, capacity - size);
      if (n <= 0) break;  // a read error ends the reading as the end of the file does
      size += static_cast<size_t>(n);
    }
  }
  if (ok && LooksLikeUtf16(text, size)) ok = false;
  if (!ok) {
    std::free(text);
    AppendLog(window, IDC_LOG, "Couldn't open Navigator Bookmark file!\r\n");
    return false;
  }
  AppendLog(window, IDC_LOG, "Reading Navigator Bookmarks...\r\n");
  ReadBookmarkText(text ? text : "", size, root, linkCount);
  std::free(text);
  return true;
}
