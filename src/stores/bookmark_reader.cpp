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

inline unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
inline bool IsSpace(char c) { return IsBlank(c) || IsLineEnd(c) || c == '\f'; }

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

// The position of the first occurrence of text in the n bytes at p, letter case ignored;
// kNotFound when it does not occur.
size_t FindTextNoCase(const char* p, size_t n, const char* text) {
  const char* end = p + n;
  if (Lower(static_cast<unsigned char>(text[0])) != static_cast<unsigned char>(text[0]) ||
      (text[0] >= 'a' && text[0] <= 'z')) {
    for (const char* q = p; q < end; ++q)
      if (StartsNoCase(q, end - q, text)) return q - p;
    return kNotFound;
  }
  for (const char* q = p; q < end;) {
    const char* hit = static_cast<const char*>(std::memchr(q, text[0], end - q));
    if (!hit) break;
    if (StartsNoCase(hit, end - hit, text)) return hit - p;
    q = hit + 1;
  }
  return kNotFound;
}

// The length of the text up to its first NUL byte: names and addresses are zero-terminated
// texts, so a value ends there.
size_t UpToNul(const char* p, size_t n) {
  if (n == 0) return 0;  // an attribute without a value has no text at all
  const void* nul = std::memchr(p, 0, n);
  return nul ? static_cast<const char*>(nul) - p : n;
}

// Where a tag name ends: at white space, '>', '/' or '<'.
size_t TagNameEnd(const char* data, size_t size, size_t p) {
  while (p < size && !IsSpace(data[p]) && data[p] != '>' && data[p] != '/' && data[p] != '<') ++p;
  return p;
}

// Is the name (n bytes) one of the element names, letter case ignored?
bool NameEquals(const char* name, size_t n, const char* element) {
  return std::strlen(element) == n && StartsNoCase(name, n, element);
}

// The tags that make up the list structure of the file. Wherever one stands (outside a
// quoted value) it begins an element: it ends a description, a title or a name that is
// still open, so that an end tag left out never swallows the entries that follow.
bool IsStructuralTag(const char* data, size_t size, size_t at) {
  if (at + 1 >= size) return false;
  size_t p = at + 1;
  if (p < size && data[p] == '/') ++p;
  size_t end = TagNameEnd(data, size, p);
  const char* name = data + p;
  size_t n = end - p;
  if (data[at + 1] == '/') return NameEquals(name, n, "DL") || NameEquals(name, n, "H1");
  static const char* const kOpening[] = {"DT", "DD", "DL", "HR", "H3", "H1", "TITLE"};
  for (const char* e : kOpening)
    if (NameEquals(name, n, e)) return true;
  return false;
}

// Answers "where, at or after from, is the next place that matches" for a reading pass
// whose positions never go back: an answer stays good until the pass moves beyond it, so
// each kind of search looks at every byte of the file at most once.
class Lookahead {
 public:
  template <typename Search>
  size_t next(size_t from, Search search) {
    if (!valid_ || from < from_ || from > found_) {
      from_ = from;
      found_ = search(from);
      valid_ = true;
    }
    return found_;
  }

 private:
  bool valid_ = false;
  size_t from_ = 0;
  size_t found_ = 0;
};

// One attribute of a tag as it stands in the file.
struct Attribute {
  const char* name;
  size_t nameLength;
  const char* value;  // without its quotes
  size_t valueLength;
  const char* raw;  // the whole attribute text
  size_t rawLength;
  bool unterminated;  // a quote that was not closed
};

bool NameIs(const Attribute& a, const char* name) { return NameEquals(a.name, a.nameLength, name); }

bool HasPlainNumberText(const char* text, size_t length, TimeValue value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
  size_t n = static_cast<size_t>(result.ptr - buffer);
  return n == length && std::memcmp(buffer, text, length) == 0;
}

// Remembers the original text of a date when writing the number would change it (a text
// that is not the plain number, whatever it holds, as long as it can stand between double
// quotes on one line).
void KeepDateText(LinkEntry& entry, char kind, const Attribute& a, TimeValue value) {
  if (a.valueLength > kDateTextMax) return;
  if (HasPlainNumberText(a.value, a.valueLength, value)) return;
  for (size_t i = 0; i < a.valueLength; ++i) {
    char c = a.value[i];
    if (c == '"' || IsLineEnd(c) || c == 0) return;
  }
  std::string text(entry.dateText.c_str(), entry.dateText.length);
  text += kind;
  text.append(a.value, a.valueLength);
  text += '\n';
  entry.dateText.assign(text.c_str());
}

// Cuts a text to at most max bytes without splitting a UTF-8 sequence: when the cut would
// fall inside one, the text ends before its lead byte.
size_t CutAtCharacter(const char* text, size_t length, size_t max) {
  if (length <= max) return length;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t lead = max;
  while (lead > 0 && max - lead < 3 && (p[lead] & 0xC0) == 0x80) --lead;
  if (lead == max || p[lead] < 0xC0) return max;  // not inside a UTF-8 sequence
  size_t sequence = p[lead] >= 0xF0 ? 4 : p[lead] >= 0xE0 ? 3 : 2;
  return lead + sequence > max ? lead : max;
}

// Reads the file element by element, in one pass from start to end. Elements are found by
// their tags wherever the line breaks fall: a whole file on one line, several elements on a
// line, and values, titles and names that run over a line break are all read.
class Reader {
 public:
  Reader(const char* data, size_t size, NodeList& root, int32_t& linkCount)
      : data_(data), size_(size), linkCount_(linkCount) {
    levels_.push_back({&root, false});
    if (settings) sorted_ = (settings->flags & FLAG_SORT_BOOKMARKS) != 0;
    if (root.isEmpty()) SortAtEnd(root);
  }

  // Reads everything; true when the text was recognised as a bookmark file.
  bool Read();

 private:
  struct Level {
    NodeList* list;
    bool setBrokenLinks;
  };
  // A tag as found: where its name is and where the tag ends (just after its '>', or at
  // the '<' or the end of the file where a tag left open stops).
  struct Tag {
    size_t nameStart;
    size_t nameEnd;
    size_t end;
    bool closed;  // ended by '>'
  };

  Tag ScanTag(size_t at);
  size_t ScanQuoted(size_t p, char quote, Attribute& a);
  size_t NextTextEnd(size_t from, const char* endTag, Lookahead& endTags, bool lineBound,
                     size_t* resume);
  size_t NextEndTag(size_t from, const char* endTag, Lookahead& cache);
  size_t NextStructural(size_t from);
  size_t NextBreakBeforeTag(size_t from);
  size_t NextLineEnd(size_t from);
  void Trim(size_t* start, size_t* end) const;

  size_t ReadLink(const Tag& tag);
  size_t ReadFolder(const Tag& tag);
  size_t ReadTitle(const Tag& tag);
  size_t ReadHeading(const Tag& tag, size_t at);
  size_t ReadDescription(const Tag& tag);
  void KeepExtras(TextString& out);
  void AddSeparator();
  bool EndList();  // false when the top-level list ended
  void Insert(LinkEntry* entry);
  void SortAtEnd(NodeList& list);
  void Finish();
  LinkEntry* FindFolder(NodeList& list, const char* name, size_t length);
  void RememberFolder(NodeList& list, LinkEntry* entry);
  void EntryRead() {
    inHeader_ = false;
    anyEntry_ = true;
  }

  const char* data_;
  size_t size_;
  int32_t& linkCount_;
  bool sorted_ = false;
  bool insideBrokenLinks_ = false;
  bool inHeader_ = true;
  bool recognised_ = false;
  bool anyEntry_ = false;  // an entry, or a list end, has been read
  std::vector<Level> levels_;
  std::vector<Attribute> attributes_;
  LinkEntry* lastEntry_ = nullptr;
  std::string header_;  // the <META> tags of the header, each followed by CR LF
  // The descriptions of folders met more than once, joined here and stored at the end (a
  // join per meeting would copy the text again each time).
  std::unordered_map<LinkEntry*, std::string> joined_;
  // Separators read before the text was recognised: removed again if it never is.
  std::vector<LinkEntry*> unconfirmed_;
  Lookahead commentEnds_, linkEnds_, nameEnds_, titleEnds_, structural_, breaksBeforeTags_,
      lineEnds_;
  // Folders by list and folded name, so that merging costs no walk of a long list.
  std::unordered_map<std::string, LinkEntry*> folders_;
  std::unordered_set<const NodeList*> indexedLists_;
  std::string key_;
  std::vector<const Attribute*> extras_;  // attributes the writer does not write itself
  NodeList discarded_;
  std::unordered_set<const NodeList*> sortAtEnd_;
  std::vector<NodeList*> listsToSort_;
};

bool Reader::Read() {
  size_t pos = 0;
  bool afterDt = false;  // the last thing read was a <DT> tag (white space aside)
  while (pos < size_) {
    const char* lt = static_cast<const char*>(std::memchr(data_ + pos, '<', size_ - pos));
    if (!lt) break;
    size_t at = lt - data_;
    if (afterDt) {
      for (size_t i = pos; i < at; ++i) {
        if (!IsSpace(data_[i])) {
          afterDt = false;
          break;
        }
      }
    }
    if (StartsNoCase(lt, size_ - at, "<!--")) {
      // A comment holds no elements. One that is never closed is taken for text.
      size_t close = commentEnds_.next(at + 4, [&](size_t from) {
        size_t hit = FindTextNoCase(data_ + from, size_ - from, "-->");
        return hit == kNotFound ? size_ : from + hit;
      });
      pos = close < size_ ? close + 3 : at + 4;
      continue;
    }
    bool closing = at + 1 < size_ && data_[at + 1] == '/';
    size_t nameStart = at + 1 + (closing ? 1 : 0);
    size_t nameEnd = TagNameEnd(data_, size_, nameStart);
    if (nameEnd == nameStart) {  // a '<' that starts no tag is text
      pos = at + 1;
      afterDt = false;
      continue;
    }
    Tag tag = ScanTag(at);
    const char* name = data_ + nameStart;
    size_t n = nameEnd - nameStart;
    pos = tag.end;
    bool isDt = false;
    if (closing) {
      if (NameEquals(name, n, "DL")) {
        EntryRead();
        if (!EndList()) break;
      }
    } else if (NameEquals(name, n, "A")) {
      bool link = false;
      for (const Attribute& a : attributes_) link = link || NameIs(a, "HREF");
      if (link) pos = ReadLink(tag);
    } else if (NameEquals(name, n, "DT")) {
      isDt = true;
    } else if (NameEquals(name, n, "H3")) {
      if (afterDt) pos = ReadFolder(tag);
    } else if (NameEquals(name, n, "HR")) {
      EntryRead();
      extras_.clear();
      for (const Attribute& a : attributes_) extras_.push_back(&a);
      AddSeparator();
    } else if (NameEquals(name, n, "DD")) {
      pos = ReadDescription(tag);
    } else if (NameEquals(name, n, "DL")) {
      inHeader_ = false;
      recognised_ = true;
    } else if (NameEquals(name, n, "TITLE")) {
      pos = ReadTitle(tag);
    } else if (NameEquals(name, n, "H1")) {
      pos = ReadHeading(tag, at);
    } else if (NameEquals(name, n, "META")) {
      // The header's <META> tags are kept whole, even over several lines; a tag left open
      // is not kept rather than swallow what follows.
      if (inHeader_ && tag.closed) {
        header_.append(data_ + at, UpToNul(data_ + at, tag.end - at));
        header_ += "\r\n";
      }
    } else if (NameEquals(name, n, "!DOCTYPE")) {
      if (FindTextNoCase(data_ + at, tag.end - at, "NETSCAPE-Bookmark-file") != kNotFound)
        recognised_ = true;
    }
    afterDt = isDt;
  }
  Finish();
  if (!recognised_) {
    // A file of nothing but white space is an empty bookmark file: saving it loses nothing.
    size_t i = 0;
    while (i < size_ && IsSpace(data_[i])) ++i;
    recognised_ = i == size_;
  }
  if (!recognised_) {
    for (LinkEntry* e : unconfirmed_) {
      e->unlink();
      delete e;
    }
  }
  return recognised_;
}

// Reads a tag's attributes from just after its name up to the '>' that ends it outside any
// quotes. A tag left open ends at the next '<' outside quotes (or the end of the file).
Reader::Tag Reader::ScanTag(size_t at) {
  Tag tag{};
  size_t p = at + 1;
  if (p < size_ && data_[p] == '/') ++p;
  tag.nameStart = p;
  tag.nameEnd = p = TagNameEnd(data_, size_, p);
  attributes_.clear();
  for (;;) {
    while (p < size_ && (IsSpace(data_[p]) || data_[p] == '/')) ++p;
    if (p >= size_ || data_[p] == '<') break;
    if (data_[p] == '>') {
      tag.closed = true;
      ++p;
      break;
    }
    Attribute a{};
    a.raw = a.name = data_ + p;
    while (p < size_ && !IsSpace(data_[p]) && data_[p] != '=' && data_[p] != '>' && data_[p] != '<')
      ++p;
    a.nameLength = data_ + p - a.name;
    size_t afterName = p;
    while (p < size_ && IsBlank(data_[p])) ++p;
    if (p < size_ && data_[p] == '=') {
      ++p;
      while (p < size_ && IsBlank(data_[p])) ++p;
      if (p < size_ && (data_[p] == '"' || data_[p] == '\'')) {
        p = ScanQuoted(p + 1, data_[p], a);
      } else {
        a.value = data_ + p;
        while (p < size_ && !IsSpace(data_[p]) && data_[p] != '>' && data_[p] != '<') ++p;
        a.valueLength = data_ + p - a.value;
      }
    } else {
      p = afterName;
    }
    if (data_ + p == a.raw) ++p;  // a lone '=': taken as text, so that the walk moves on
    a.rawLength = data_ + p - a.raw;
    attributes_.push_back(a);
  }
  tag.end = p;
  return tag;
}

// A quoted value runs to its closing quote, over line breaks too (a damaged file may wrap
// a long address). A quote that is never closed ends at the first line break after which
// a tag begins, so that it cannot swallow the elements that follow.
size_t Reader::ScanQuoted(size_t p, char quote, Attribute& a) {
  a.value = data_ + p;
  size_t limit = NextBreakBeforeTag(p);
  const void* close = std::memchr(data_ + p, quote, limit - p);
  if (close) {
    size_t q = static_cast<const char*>(close) - data_;
    a.valueLength = q - p;
    return q + 1;
  }
  a.valueLength = limit - p;
  a.unterminated = true;
  return limit;
}

size_t Reader::NextEndTag(size_t from, const char* endTag, Lookahead& cache) {
  return cache.next(from, [&](size_t start) {
    size_t hit = FindTextNoCase(data_ + start, size_ - start, endTag);
    return hit == kNotFound ? size_ : start + hit;
  });
}

size_t Reader::NextStructural(size_t from) {
  return structural_.next(from, [&](size_t start) {
    for (size_t p = start; p < size_;) {
      const char* lt = static_cast<const char*>(std::memchr(data_ + p, '<', size_ - p));
      if (!lt) break;
      size_t at = lt - data_;
      if (IsStructuralTag(data_, size_, at)) return at;
      p = at + 1;
    }
    return size_;
  });
}

size_t Reader::NextLineEnd(size_t from) {
  return lineEnds_.next(from, [&](size_t start) {
    for (size_t p = start; p < size_; ++p)
      if (IsLineEnd(data_[p])) return p;
    return size_;
  });
}

// The next line break after which (white space aside) a tag begins.
size_t Reader::NextBreakBeforeTag(size_t from) {
  return breaksBeforeTags_.next(from, [&](size_t start) {
    size_t p = start;
    while (p < size_) {
      while (p < size_ && !IsLineEnd(data_[p])) ++p;
      if (p >= size_) break;
      size_t q = p;
      while (q < size_ && IsSpace(data_[q])) ++q;
      if (q < size_ && data_[q] == '<') return p;
      p = q;  // every line break up to q is followed by the same character
    }
    return size_;
  });
}

// Where the text that starts at from ends: at its end tag, or, when that is left out, at the
// next structural tag or line break before a tag (lineBound: at the end of the line, for the
// document title and heading, which may hold anything up to their end tag). *resume is where
// reading goes on: after the end tag, or at the element that ended the text.
size_t Reader::NextTextEnd(size_t from, const char* endTag, Lookahead& endTags, bool lineBound,
                           size_t* resume) {
  size_t end = NextEndTag(from, endTag, endTags);
  size_t other = NextStructural(from);
  size_t lineLimit = lineBound ? NextLineEnd(from) : NextBreakBeforeTag(from);
  if (lineBound) {
    if (end > lineLimit) end = std::min(lineLimit, other);
  } else {
    end = std::min({end, other, lineLimit});
  }
  *resume = end;
  if (end < size_ && StartsNoCase(data_ + end, size_ - end, endTag)) {
    // The end tag, to its '>' (which may stand on the next line).
    size_t p = end + 2;
    while (p < size_ && data_[p] != '>' && data_[p] != '<') ++p;
    *resume = p < size_ && data_[p] == '>' ? p + 1 : p;
  }
  return end;
}

// Leaves out blanks and line ends on both sides.
void Reader::Trim(size_t* start, size_t* end) const {
  while (*start < *end && IsSpace(data_[*start])) ++*start;
  while (*end > *start && IsSpace(data_[*end - 1])) --*end;
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
  for (auto& [owner, text] : joined_)
    owner->description.assign(text.data(), static_cast<int32_t>(text.size()));
  if (settings && !header_.empty()) settings->bookmarkHeader.assign(header_.c_str());
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

size_t Reader::ReadLink(const Tag& tag) {
  EntryRead();
  recognised_ = true;
  unconfirmed_.clear();
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
  TimeValue value[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (!dates[i]) continue;
    value[i] = ParseBookmarkDate(dates[i]->value, dates[i]->valueLength);
    if (value[i] == -1) value[i] = 0;
  }
  size_t start = tag.end, resume = tag.end;
  size_t end = tag.closed ? NextTextEnd(start, "</A", linkEnds_, false, &resume) : start;
  Trim(&start, &end);

  LinkEntry* entry = new (std::nothrow) LinkEntry();
  if (!entry) return resume;
  entry->setName(data_ + start, UpToNul(data_ + start, end - start));
  const char* url = href->value ? href->value : "";
  size_t urlLength = UpToNul(url, href->valueLength);
  if (!entry->name || !entry->url.assign(url, static_cast<int32_t>(urlLength))) {
    delete entry;
    return resume;
  }
  entry->lastVisit = value[1] != 0 ? value[1] : value[0];
  entry->addDate = value[0];
  entry->lastModified = value[2];
  uint8_t form = BOOKMARK_FORM_READ;
  if (!dates[0]) form |= BOOKMARK_FORM_NO_ADD_DATE;
  if (!dates[1]) form |= BOOKMARK_FORM_NO_LAST_VISIT;
  if (!dates[2]) form |= BOOKMARK_FORM_NO_LAST_MODIFIED;
  if (value[1] == 0) form |= BOOKMARK_FORM_VISIT_FROM_ADD;
  entry->bookmarkForm = form;
  static const char kKinds[3] = {DATE_TEXT_ADD, DATE_TEXT_VISIT, DATE_TEXT_MODIFIED};
  for (int i = 0; i < 3; ++i) {
    if (dates[i]) KeepDateText(*entry, kKinds[i], *dates[i], value[i]);
  }
  KeepExtras(entry->extraAttributes);
  Insert(entry);
  // An empty address makes the entry a folder for everyone else, merging included.
  if (urlLength == 0) RememberFolder(*levels_.back().list, entry);
  lastEntry_ = entry;
  if (!insideBrokenLinks_) ++linkCount_;
  return resume;
}

size_t Reader::ReadFolder(const Tag& tag) {
  EntryRead();
  recognised_ = true;
  unconfirmed_.clear();
  const Attribute* added = nullptr;
  bool folded = false;
  extras_.clear();
  for (const Attribute& a : attributes_) {
    if (!added && NameIs(a, "ADD_DATE")) {
      added = &a;
      continue;
    }
    if (NameIs(a, "FOLDED") && a.valueLength == 0 && !a.value) {
      folded = true;  // the writer writes it
      continue;
    }
    extras_.push_back(&a);
  }
  size_t start = tag.end, resume = tag.end;
  size_t end = tag.closed ? NextTextEnd(start, "</H", nameEnds_, false, &resume) : start;
  Trim(&start, &end);
  const char* name = data_ + start;
  size_t nameLength = UpToNul(name, end - start);

  NodeList& list = *levels_.back().list;
  LinkEntry* folder = FindFolder(list, name, nameLength);
  if (folder) {
    folder->source |= SOURCE_BOOKMARKS;
  } else {
    folder = new (std::nothrow) LinkEntry();
    if (folder) folder->setName(name, nameLength);
    if (folder && folder->name) {
      uint8_t form = BOOKMARK_FORM_READ;
      if (!folded) form |= BOOKMARK_FORM_NOT_FOLDED;
      if (added) {
        folder->addDate = ParseBookmarkDate(added->value, added->valueLength);
        KeepDateText(*folder, DATE_TEXT_ADD, *added, folder->addDate);
      } else {
        form |= BOOKMARK_FORM_NO_ADD_DATE;
      }
      folder->bookmarkForm = form;
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
  return resume;
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
    if (a->unterminated) *p++ = a->value[-1];  // close the quote the file left open
  }
  *p = 0;
  out.length = static_cast<int32_t>(p - out.data);
}

size_t Reader::ReadTitle(const Tag& tag) {
  size_t start = tag.end, resume = tag.end;
  size_t end = tag.closed ? NextTextEnd(start, "</T", titleEnds_, true, &resume) : start;
  while (start < end && data_[start] == ' ') ++start;
  while (end > start && data_[end - 1] == ' ') --end;
  size_t length = UpToNul(data_ + start, end - start);
  length = CutAtCharacter(data_ + start, length, kDocumentTitleMax);
  if (!settings) return resume;
  std::memcpy(settings->bookmarkTitle, data_ + start, length);
  settings->bookmarkTitle[length] = 0;
  return resume;
}

// The heading repeats the document title, whose text may hold anything up to its end tag:
// it is kept as it stands, attributes included, and written back so.
size_t Reader::ReadHeading(const Tag& tag, size_t at) {
  size_t resume = tag.end;
  size_t end = tag.closed ? NextTextEnd(tag.end, "</H", nameEnds_, true, &resume) : tag.end;
  if (settings && !settings->bookmarkHeading.data) {
    size_t from = at + 3;  // after "<H1"
    settings->bookmarkHeading.assign(data_ + from, static_cast<int32_t>(end - from));
  }
  return resume;
}

// A description runs from its tag to the next element of the list structure, over as many
// lines as it takes; it may hold any other markup. The line end and indentation before that
// element are not part of it.
size_t Reader::ReadDescription(const Tag& tag) {
  size_t start = tag.end;
  size_t stop = NextStructural(start);
  size_t end = stop;
  while (end > start && IsBlank(data_[end - 1])) --end;
  // One line end: CR LF, LF CR, CR CR or LF LF, as a line reader takes them.
  for (int i = 0; i < 2 && end > start && IsLineEnd(data_[end - 1]); ++i) --end;
  LinkEntry* owner = lastEntry_;
  if (!owner) {
    // Before any entry, a description belongs to the whole file.
    if (!anyEntry_ && settings && !settings->bookmarkDescription.data)
      settings->bookmarkDescription.assign(data_ + start, static_cast<int32_t>(end - start));
    return stop;
  }
  auto more = joined_.find(owner);
  if (more != joined_.end() || (owner->description.data && owner->description.length)) {
    // A folder met twice keeps both descriptions.
    if (more == joined_.end())
      more = joined_.emplace(owner, std::string(owner->description.data, owner->description.length))
                 .first;
    more->second += "\r\n";
    more->second.append(data_ + start, end - start);
  } else {
    owner->description.assign(data_ + start, static_cast<int32_t>(end - start));
  }
  return stop;
}

void Reader::AddSeparator() {
  lastEntry_ = nullptr;
  if (sorted_) return;  // sorted bookmarks lose their separators
  LinkEntry* entry = new (std::nothrow) LinkEntry();
  if (!entry) return;
  KeepExtras(entry->extraAttributes);
  entry->bookmarkForm = BOOKMARK_FORM_READ;
  levels_.back().list->addTail(entry);
  lastEntry_ = entry;
  if (!recognised_) unconfirmed_.push_back(entry);
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
  if (entry.dateText.length == 0) return nullptr;
  const char* p = entry.dateText.data;
  const char* end = p + entry.dateText.length;
  while (p < end) {
    const char* stop = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!stop) stop = end;
    if (*p == kind) {
      TimeValue kept = ParseBookmarkDate(p + 1, stop - p - 1);
      if (kept == value || (kept == -1 && value == 0)) {  // a link reads -1 as 0
        *length = stop - p - 1;
        return p + 1;
      }
    }
    p = stop + 1;
  }
  return nullptr;
}

bool LooksLikeUtf16(const char* data, size_t size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  if (size >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) return true;
  // Without a mark: the start of a bookmark file is markup, which UTF-16 writes with a NUL
  // in every second byte.
  size_t pairs = std::min<size_t>(size, 512) / 2;
  size_t highZero = 0, lowZero = 0;
  for (size_t i = 0; i < pairs; ++i) {
    unsigned char a = p[2 * i], b = p[2 * i + 1];
    if (a != 0 && b == 0) ++highZero;
    if (a == 0 && b != 0) ++lowZero;
  }
  return pairs >= 2 && (highZero * 4 >= pairs * 3 || lowZero * 4 >= pairs * 3);
}

bool ReadBookmarkText(const char* data, size_t size, NodeList& root, int32_t& linkCount) {
  if (settings) {
    settings->bookmarkHeader.release();
    settings->bookmarkDescription.release();
    settings->bookmarkHeading.release();
  }
  if (!data) return true;
  Reader reader(data, size, root, linkCount);
  bool recognised = reader.Read();
  if (!recognised && settings) {
    settings->bookmarkHeader.release();
    settings->bookmarkDescription.release();
    settings->bookmarkHeading.release();
  }
  return recognised;
}

bool ReadBookmarkFile(Window* window, NodeList& root, int32_t& linkCount, bool* recognised) {
  const char* path = settings ? settings->bookmarkFile.c_str() : "";
  InputFile file;
  char* text = nullptr;
  size_t size = 0;
  bool ok = file.open(path);
  if (!ok && file.openFailure() == OpenFailure::NotRegular) {
    // A pipe or a device would give bytes without end, or none while it blocks the run.
    AppendLog(window, IDC_LOG, "Couldn't open Navigator Bookmark file!\r\n");
    AppendLog(window, IDC_LOG, "The bookmark file is not a regular file: it is not read.\r\n");
    return false;
  }
  if (ok && file.size() > BOOKMARK_FILE_MAX_SIZE) {
    AppendLog(window, IDC_LOG, "Couldn't open Navigator Bookmark file!\r\n");
    AppendLog(window, IDC_LOG, "The bookmark file is larger than 1 GiB: it is not read.\r\n");
    return false;
  }
  bool readFailed = false;
  if (ok) {
    // The whole file is read in large blocks: the elements are then found in memory.
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
      if (n < 0) {
        // A read error is no end of the file: what came before it is a part of the file,
        // and a save of that part would lose the rest.
        ok = false;
        readFailed = true;
        break;
      }
      if (n == 0) break;
      size += static_cast<size_t>(n);
      // The file grew while it was read: it is still held to the bound.
      if (size > static_cast<size_t>(BOOKMARK_FILE_MAX_SIZE)) {
        ok = false;
        break;
      }
    }
  }
  if (readFailed) {
    std::free(text);
    std::string line = "Couldn't read the bookmark file: " + FileErrorText(file.error()) +
                       ". Nothing is checked or saved.\r\n";
    AppendLog(window, IDC_LOG, "Couldn't open Navigator Bookmark file!\r\n");
    AppendLog(window, IDC_LOG, line.c_str());
    return false;
  }
  if (ok && LooksLikeUtf16(text, size)) ok = false;
  if (!ok) {
    std::free(text);
    AppendLog(window, IDC_LOG, "Couldn't open Navigator Bookmark file!\r\n");
    return false;
  }
  AppendLog(window, IDC_LOG, "Reading Navigator Bookmarks...\r\n");
  bool bookmarks = ReadBookmarkText(text ? text : "", size, root, linkCount);
  std::free(text);
  if (!bookmarks)
    AppendLog(window, IDC_LOG, "Not a Navigator Bookmark file: it will not be saved.\r\n");
  if (recognised) *recognised = bookmarks;
  return true;
}
