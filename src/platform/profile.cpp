#include "platform/profile.h"

#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

namespace {

struct Line {
  size_t start;  // first byte
  size_t end;    // past the last byte before the line end
  size_t next;   // first byte of the next line
};

std::vector<Line> SplitLines(const std::string& text, size_t from) {
  std::vector<Line> lines;
  size_t i = from;
  while (i < text.size()) {
    size_t start = i;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
    size_t end = i;
    if (i < text.size()) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        i += 2;
      else
        ++i;
    }
    lines.push_back({start, end, i});
  }
  return lines;
}

size_t BodyStart(const std::string& text) {
  return text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A line's text ends at its first NUL byte: what follows it is no part of any value.
size_t TextEnd(const std::string& text, const Line& line) {
  size_t nul = text.find('\0', line.start);
  return nul < line.end ? nul : line.end;
}

void Trim(const std::string& text, size_t& start, size_t& end) {
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
}

// The section a line opens, or false when it opens none.
bool SectionOf(const std::string& text, const Line& line, std::string& name) {
  size_t s = line.start, e = TextEnd(text, line);
  Trim(text, s, e);
  if (s >= e || text[s] != '[') return false;
  size_t close = text.find(']', s + 1);
  if (close == std::string::npos || close >= e) return false;
  size_t ns = s + 1, ne = close;
  Trim(text, ns, ne);
  name.assign(text, ns, ne - ns);
  return true;
}

struct KeyLine {
  std::string key;
  std::string value;
  size_t equals = 0;  // position of '='
};

bool KeyOf(const std::string& text, const Line& line, KeyLine& out) {
  size_t s = line.start, e = TextEnd(text, line);
  Trim(text, s, e);
  if (s >= e || text[s] == ';') return false;
  size_t eq = text.find('=', s);
  if (eq == std::string::npos || eq >= e) return false;
  size_t ks = s, ke = eq;
  Trim(text, ks, ke);
  size_t vs = eq + 1, ve = e;
  Trim(text, vs, ve);
  if (ve - vs >= 2 && (text[vs] == '"' || text[vs] == '\'') && text[ve - 1] == text[vs]) {
    ++vs;
    --ve;
  }
  out.key.assign(text, ks, ke - ks);
  out.value.assign(text, vs, ve - vs);
  out.equals = eq;
  return true;
}

bool SameName(const std::string& a, const char* b) { return CompareAsciiNoCase(a.c_str(), b) == 0; }

std::string LineEndOf(const std::string& text) {
  size_t crlf = 0, lf = 0, cr = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        ++crlf;
        ++i;
      } else {
        ++cr;
      }
    } else if (text[i] == '\n') {
      ++lf;
    }
  }
  if (lf > crlf && lf >= cr) return "\n";
  if (cr > crlf && cr > lf) return "\r";
  return "\r\n";
}

// The value as a line can hold it: without line breaks, and ending at a NUL as it would on
// reading.
std::string OneLine(const std::string& value) {
  std::string clean;
  for (char c : value) {
    if (c == '\0') break;
    if (c != '\r' && c != '\n') clean += c;
  }
  return clean;
}

// The text written after "key=" so that reading gives back exactly value: a value that
// reading would change (blanks at either end are trimmed, one pair of matching quotes is
// taken off) goes inside double quotes, which reading takes off again.
std::string Encoded(const std::string& value) {
  bool trimmed = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
  bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front();
  return trimmed || quoted ? '"' + value + '"' : value;
}

}  // namespace

bool FindProfileString(const std::string& text, const char* section, const char* key,
                       std::string& value) {
  value.clear();
  if (!section || !key) return false;
  bool inside = false;
  std::string name;
  KeyLine kl;
  for (const Line& line : SplitLines(text, BodyStart(text))) {
    if (SectionOf(text, line, name)) {
      inside = SameName(name, section);
      continue;
    }
    if (inside && KeyOf(text, line, kl) && SameName(kl.key, key)) {
      value = kl.value;
      return true;
    }
  }
  return false;
}

bool ReadProfileString(const char* path, const char* section, const char* key, std::string& value,
                       int* readError) {
  value.clear();
  InputFile file;
  if (!file.open(path)) return false;
  std::string text;
  char buffer[4096];
  for (;;) {
    long n = file.read(buffer, sizeof buffer);
    if (n < 0) {
      if (readError) *readError = file.error() ? file.error() : EIO;
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > PROFILE_MAX_FILE_SIZE) return false;
  }
  return FindProfileString(text, section, key, value);
}

std::string SetProfileString(const std::string& text, const char* section, const char* key,
                             const std::string& value) {
  std::string clean = OneLine(value);
  std::string eol = LineEndOf(text);
  std::vector<Line> lines = SplitLines(text, BodyStart(text));
  bool inside = false;
  bool sectionFound = false;
  size_t insertAt = 0;  // after the last non-blank line of the first matching section
  const Line* insertAfter = nullptr;
  std::string name;
  KeyLine kl;
  for (const Line& line : lines) {
    if (SectionOf(text, line, name)) {
      if (inside) break;  // the first matching section has ended
      inside = SameName(name, section);
      if (inside) {
        sectionFound = true;
        insertAfter = &line;
      }
      continue;
    }
    if (!inside) continue;
    if (KeyOf(text, line, kl) && SameName(kl.key, key)) {
      if (kl.value == clean) return text;
      size_t from = kl.equals + 1;
      while (from < line.end && IsBlank(text[from])) ++from;
      std::string out = text.substr(0, from);
      out += Encoded(clean);
      out.append(text, line.end, std::string::npos);
      return out;
    }
    size_t s = line.start, e = line.end;
    Trim(text, s, e);
    if (s < e) insertAfter = &line;
  }
  std::string entry = std::string(key) + "=" + Encoded(clean);
  if (sectionFound) {
    insertAt = insertAfter->next;
    std::string out = text.substr(0, insertAt);
    if (insertAfter->next == insertAfter->end) out += eol;  // the last line had no end
    out += entry + eol;
    out.append(text, insertAt, std::string::npos);
    return out;
  }
  std::string out = text;
  if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += eol;
  // Appended piece by piece: GCC 12 at -O3 takes "[" + std::string for an overlapping copy.
  out += '[';
  out += section;
  out += ']';
  out += eol;
  out += entry;
  out += eol;
  return out;
}
