#ifndef HITSIEVE_TESTS_EXPORT_XLSX_READER_H_
#define HITSIEVE_TESTS_EXPORT_XLSX_READER_H_

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Reads a written workbook back from the file itself: the first sheet's XML and the shared
// strings, taken out of the zip with the unzip program. Test-only, enough for the cells the
// exporters write (numbers, shared strings, inline strings, formulas).
namespace hitsieve::test {

struct XlsxCell {
  bool is_text = false;      // t="s", t="inlineStr" or t="str"
  bool has_formula = false;  // an <f> element
  std::string value;         // the text (UTF-8) or the number as written
};

inline std::string UnzipMember(const std::string& zip, const std::string& member) {
  std::string command = "unzip -p '" + zip + "' " + member + " 2>/dev/null";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
  }
  return output;
}

inline std::string XmlUnescape(std::string text) {
  static const std::vector<std::pair<std::string, std::string>> entities{
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, character] : entities) {
    for (size_t at = text.find(entity); at != std::string::npos;
         at = text.find(entity, at + character.size()))
      text.replace(at, entity.size(), character);
  }
  return text;
}

// The text between `open` (up to its closing '>') and `close`, starting at `from`; `from` moves
// past `close`. False when there is no further element.
inline bool NextElement(const std::string& xml, const std::string& open, const std::string& close,
                        size_t& from, std::string& attributes, std::string& body) {
  size_t start = xml.find(open, from);
  while (start != std::string::npos && xml[start + open.size()] != ' ' &&
         xml[start + open.size()] != '>' && xml[start + open.size()] != '/')
    start = xml.find(open, start + 1);  // "<t" must not match "<tab"
  if (start == std::string::npos) return false;
  size_t tag_end = xml.find('>', start);
  attributes = xml.substr(start + open.size(), tag_end - start - open.size());
  if (!attributes.empty() && attributes.back() == '/') {  // <c r="A1"/>
    body.clear();
    from = tag_end + 1;
    return true;
  }
  size_t stop = xml.find(close, tag_end);
  body = xml.substr(tag_end + 1, stop - tag_end - 1);
  from = stop + close.size();
  return true;
}

inline std::string Attribute(const std::string& attributes, const std::string& name) {
  size_t at = attributes.find(" " + name + "=\"");
  if (at == std::string::npos) return "";
  at += name.size() + 3;
  return attributes.substr(at, attributes.find('"', at) - at);
}

// Concatenated text of the <t> elements in `xml`.
inline std::string TextRuns(const std::string& xml) {
  std::string text, attributes, body;
  for (size_t from = 0; NextElement(xml, "<t", "</t>", from, attributes, body);)
    text += XmlUnescape(body);
  return text;
}

inline std::vector<std::string> SharedStrings(const std::string& zip) {
  const std::string xml = UnzipMember(zip, "xl/sharedStrings.xml");
  std::vector<std::string> strings;
  std::string attributes, body;
  for (size_t from = 0; NextElement(xml, "<si", "</si>", from, attributes, body);)
    strings.push_back(TextRuns(body));
  return strings;
}

// Cell reference ("A1") -> cell. Empty when the file is no workbook.
inline std::map<std::string, XlsxCell> ReadFirstSheet(const std::string& zip) {
  std::map<std::string, XlsxCell> cells;
  const std::vector<std::string> strings = SharedStrings(zip);
  const std::string xml = UnzipMember(zip, "xl/worksheets/sheet1.xml");
  std::string attributes, body, value_attributes, value;
  for (size_t from = 0; NextElement(xml, "<c", "</c>", from, attributes, body);) {
    XlsxCell c;
    std::string t = Attribute(attributes, "t");
    if (t.empty()) t = "n";
    c.has_formula = body.find("<f") != std::string::npos;
    c.is_text = t == "s" || t == "inlineStr" || t == "str";
    size_t at = 0;
    if (t == "inlineStr") {
      c.value = TextRuns(body);
    } else if (NextElement(body, "<v", "</v>", at, value_attributes, value)) {
      c.value = t == "s" ? strings.at(std::stoul(value)) : XmlUnescape(value);
    }
    cells[Attribute(attributes, "r")] = c;
  }
  return cells;
}

// Regular files directly in `directory`, by name.
inline std::vector<std::string> FilesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace hitsieve::test

#endif  // HITSIEVE_TESTS_EXPORT_XLSX_READER_H_
