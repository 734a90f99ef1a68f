// Bookmarks files in the styles of the browsers' own profiles, for the tests of the JSON store.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace chromium_files {

using Json = nlohmann::ordered_json;

enum class Style { Chrome, Edge, Brave };

inline Json Link(const std::string& id, const std::string& name, const std::string& url,
                 Style style, const std::string& used = "0") {
  Json node = Json::object();
  node["date_added"] = "13300000000000000";
  node["date_last_used"] = used;
  node["guid"] = "00000000-0000-4000-8000-0000000000" + (id.size() < 2 ? "0" + id : id);
  node["id"] = id;
  if (style == Style::Chrome) node["meta_info"] = {{"last_visited_desktop", "13310000000000000"}};
  node["name"] = name;
  if (style == Style::Edge) node["show_icon"] = false;
  if (style == Style::Edge) node["source"] = "user_add";
  node["type"] = "url";
  node["url"] = url;
  return node;
}

inline Json Folder(const std::string& id, const std::string& name, Json children, Style style,
                   const std::string& guid = {}) {
  Json node = Json::object();
  node["children"] = std::move(children);
  node["date_added"] = "13300000000000000";
  node["date_last_used"] = "0";
  node["date_modified"] = "13300000001000000";
  node["guid"] =
      guid.empty() ? "00000000-0000-4000-9000-0000000000" + (id.size() < 2 ? "0" + id : id) : guid;
  node["id"] = id;
  node["name"] = name;
  if (style == Style::Edge) node["source"] = "unknown";
  node["type"] = "folder";
  return node;
}

// Three roots (with an unknown fourth for Brave), unicode names, an empty folder, a folder
// "Broken Links", meta_info, sync_metadata, and keys the program does not know. Every link
// points at base (an address that answers as wanted by the test) plus a path.
inline Json Profile(Style style, const std::string& base = "http://a.example/") {
  Json bar = Json::array({
      Link("5", "Caf\u00e9 \U0001F600 home", base + "ok", style, "13320000000000000"),
      Folder("6", "Empty", Json::array(), style),
      Folder("7", "News \u65b0\u95fb",
             Json::array({Link("8", "Gone", base + "gone", style),
                          Link("9", "Moved", base + "moved", style)}),
             style),
  });
  Json other = Json::array({
      Link("10", "Other link", base + "other", style),
      Folder("11", "Broken Links", Json::array({Link("12", "Old", base + "old", style)}), style),
  });
  Json roots = Json::object();
  roots["bookmark_bar"] =
      Folder("1", style == Style::Edge ? "Favorites bar" : "Bookmarks bar", std::move(bar), style);
  roots["other"] = Folder("2", style == Style::Edge ? "Other favorites" : "Other bookmarks",
                          std::move(other), style);
  roots["synced"] = Folder("3", "Mobile bookmarks", Json::array(), style);
  if (style == Style::Brave)
    roots["custom_root"] = Folder(
        "4", "Custom", Json::array({Link("13", "Custom link", base + "custom", style)}), style);
  Json file = Json::object();
  file["checksum"] = "00000000000000000000000000000000";
  if (style == Style::Edge) file["checksum_sha256"] = "";
  file["roots"] = std::move(roots);
  if (style != Style::Edge) file["sync_metadata"] = "CgQIARAB";
  file["version"] = 1;
  return file;
}

}  // namespace chromium_files
