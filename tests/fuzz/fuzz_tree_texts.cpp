// Arbitrary captions through the string tree's text, Unicode, CSV, HTML and
// rich-text renderings: each rendering reads back to the captions it was
// made from, and the clipboard blocks hold the rendering whole.
//
// Input: the column count (0 to 3), the separator (two bytes), then per node
// its parent (one byte) and per cell a length (one byte) and that many
// UTF-16LE code units.
#include "treeview/LazyTrees.h"

#include "FuzzCheck.h"
#include "FuzzGuiSetup.h"
#include "platform/Cp1251.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace nuq;

namespace {

struct TInput {
    const uint8_t* At;
    const uint8_t* End;
    bool Empty() const { return At >= End; }
    uint8_t Byte() { return At < End ? *At++ : 0; }
    char16_t Unit() { return char16_t(Byte() | Byte() << 8); }
};

std::map<PLazyNode, std::vector<std::u16string>> Captions;

TLazyStringTree* Tree() {
    static std::unique_ptr<TLazyStringTree> tree = [] {
        auto t = NewComponent<TLazyStringTree>();
        t->OnGetText = [](TBaseLazyTree&, PLazyNode n, TColumnIndex c, int, std::u16string& s) {
            const auto& cells = Captions[n];
            size_t i = c < 0 ? 0 : size_t(c);
            s = i < cells.size() ? cells[i] : std::u16string();
        };
        return t;
    }();
    return tree.get();
}

// The rows as the tree's walk meets them: indentation level and cells.
struct TRow {
    unsigned Level;
    std::vector<std::u16string> Cells;
};

std::vector<TRow> Rows(TLazyStringTree& t) {
    std::vector<TRow> rows;
    for (PLazyNode n = t.GetFirst(); n; n = t.GetNext(n))
        rows.push_back({t.GetNodeLevel(n), Captions[n]});
    return rows;
}

std::u16string Without(std::u16string s, char16_t c) {
    std::erase(s, c);
    return s;
}

// CSV as RFC 4180 reads it: cells parted by commas, a quoted cell doubling its quotes.
std::vector<std::vector<std::string>> ParseCsv(const std::string& csv) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    for (size_t i = 0; i < csv.size(); ++i) {
        char c = csv[i];
        if (c == '"' && rows.back().back().empty()) {
            std::string& cell = rows.back().back();
            for (++i; i < csv.size(); ++i) {
                if (csv[i] != '"') {
                    cell += csv[i];
                } else if (i + 1 < csv.size() && csv[i + 1] == '"') {
                    cell += '"';
                    ++i;
                } else {
                    break;
                }
            }
            FUZZ_CHECK(i < csv.size()); // the closing quote
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\r') {
            FUZZ_CHECK(i + 1 < csv.size() && csv[i + 1] == '\n');
            ++i;
            rows.emplace_back(1);
        } else {
            FUZZ_CHECK(c != '\n' && c != '"');
            rows.back().back() += c;
        }
    }
    FUZZ_CHECK(rows.back().size() == 1 && rows.back()[0].empty()); // every row ends with CR LF
    rows.pop_back();
    return rows;
}

// The cells of each table row of the HTML fragment, unescaped.
std::vector<std::vector<std::string>> ParseHtml(const std::string& html) {
    std::vector<std::vector<std::string>> rows;
    size_t at = html.find("<table>");
    FUZZ_CHECK(at != std::string::npos);
    for (;;) {
        at = html.find("<tr>", at);
        if (at == std::string::npos) break;
        size_t end = html.find("</tr>", at);
        FUZZ_CHECK(end != std::string::npos);
        rows.emplace_back();
        for (size_t td = html.find("<td", at); td < end; td = html.find("<td", td)) {
            size_t open = html.find('>', td) + 1, close = html.find("</td>", open);
            FUZZ_CHECK(close < end);
            std::string cell = html.substr(open, close - open), text;
            FUZZ_CHECK(cell.find_first_of("<>\"") == std::string::npos);
            for (size_t i = 0; i < cell.size(); ++i) {
                if (cell[i] != '&') {
                    text += cell[i];
                    continue;
                }
                size_t semi = cell.find(';', i);
                FUZZ_CHECK(semi != std::string::npos);
                std::string entity = cell.substr(i, semi - i + 1);
                text += entity == "&amp;"  ? "&"
                        : entity == "&lt;" ? "<"
                        : entity == "&gt;" ? ">"
                                           : "\"";
                FUZZ_CHECK(entity == "&amp;" || entity == "&lt;" || entity == "&gt;" ||
                           entity == "&quot;");
                i = semi;
            }
            rows.back().push_back(text);
            td = close;
        }
        at = end;
    }
    return rows;
}

// The rows of the rich text, each as the UTF-16 text it shows (tabs and line breaks included).
std::vector<std::u16string> ParseRtf(const std::string& rtf) {
    size_t at = rtf.find("\\fs18\r\n");
    FUZZ_CHECK(at != std::string::npos);
    at += 7;
    std::vector<std::u16string> rows;
    std::u16string row;
    while (at < rtf.size() && rtf[at] != '}') {
        char c = rtf[at];
        if (c == '{') FUZZ_CHECK(false); // every brace of a caption is escaped
        if (c != '\\') {
            FUZZ_CHECK(uint8_t(c) < 0x80 && c != '\r' && c != '\n');
            row += char16_t(c);
            ++at;
            continue;
        }
        auto is = [&](const char* word) { return rtf.compare(at, std::strlen(word), word) == 0; };
        if (is("\\par\r\n")) {
            rows.push_back(row);
            row.clear();
            at += 6;
        } else if (is("\\tab ")) {
            row += u'\t';
            at += 5;
        } else if (is("\\line ")) {
            row += u'\n';
            at += 6;
        } else if (is("\\u")) {
            size_t q = rtf.find('?', at);
            FUZZ_CHECK(q != std::string::npos);
            row += char16_t(int16_t(std::stoi(rtf.substr(at + 2, q - at - 2))));
            at = q + 1;
        } else {
            FUZZ_CHECK(at + 1 < rtf.size() && std::strchr("\\{}", rtf[at + 1]));
            row += char16_t(rtf[at + 1]);
            at += 2;
        }
    }
    FUZZ_CHECK(row.empty() && at + 1 == rtf.size());
    return rows;
}

std::string Block(TLazyStringTree& t, WORD format) {
    TFormatEtc f;
    f.cfFormat = format;
    f.tymed = TYMED_HGLOBAL;
    TStgMedium m;
    FUZZ_CHECK(t.RenderOLEData(f, m, false) == S_OK && m.hGlobal);
    return *m.hGlobal;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TInput in{data, data + size};
    TLazyStringTree& tree = *Tree();
    tree.Clear();
    Captions.clear();
    int columns = in.Byte() % 4;
    TLazyTreeColumns& cols = tree.Header().Columns();
    while (cols.Count() > columns) cols.Delete(cols.Count() - 1);
    while (cols.Count() < columns) cols.Add();
    std::u16string separator(1, in.Unit());

    std::vector<PLazyNode> nodes;
    while (!in.Empty() && nodes.size() < 64) {
        uint8_t parent = in.Byte();
        PLazyNode n = tree.AddChild(parent < nodes.size() ? nodes[parent] : nullptr);
        auto& cells = Captions[n];
        for (int c = 0; c < std::max(columns, 1); ++c) {
            std::u16string text(in.Byte() % 32, u'\0');
            for (char16_t& u : text) u = in.Unit();
            cells.push_back(text);
        }
        nodes.push_back(n);
    }
    std::vector<TRow> rows = Rows(tree);

    // Unicode and text: each row its level in tabs, the cells parted by the separator, CR LF.
    std::u16string unicode;
    for (const TRow& r : rows) {
        unicode += std::u16string(r.Level, u'\t');
        for (size_t c = 0; c < r.Cells.size(); ++c) unicode += (c ? separator : u"") + r.Cells[c];
        unicode += u"\r\n";
    }
    FUZZ_CHECK(tree.ContentToUnicode(tstAll, separator) == unicode);
    // The text is the Unicode rendering in cp1251, with the separator as cp1251 gives it back.
    std::string separator1251 = Utf8ToCp1251(Utf16ToUtf8(separator));
    std::u16string separatorBack = Utf8ToUtf16(Cp1251ToUtf8(separator1251));
    FUZZ_CHECK(tree.ContentToText(tstAll, separator1251) ==
               Utf8ToCp1251(Utf16ToUtf8(tree.ContentToUnicode(tstAll, separatorBack))));

    // CSV: the cells in cp1251, read back by the usual rules.
    auto csv = ParseCsv(tree.ContentToCSV(tstAll));
    FUZZ_CHECK(csv.size() == rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        FUZZ_CHECK(csv[i].size() == rows[i].Cells.size());
        for (size_t c = 0; c < csv[i].size(); ++c)
            FUZZ_CHECK(csv[i][c] == Utf8ToCp1251(Utf16ToUtf8(rows[i].Cells[c])));
    }

    // HTML: the cells in UTF-8, escaped so that the table holds them whole.
    auto html = ParseHtml(tree.ContentToHTML(tstAll, separator));
    FUZZ_CHECK(html.size() == rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        FUZZ_CHECK(html[i].size() == rows[i].Cells.size());
        for (size_t c = 0; c < html[i].size(); ++c)
            FUZZ_CHECK(html[i][c] == Utf16ToUtf8(rows[i].Cells[c]));
    }

    // Rich text: the rows as shown, carriage returns dropped.
    auto rtf = ParseRtf(tree.ContentToRTF(tstAll));
    FUZZ_CHECK(rtf.size() == rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        std::u16string shown(rows[i].Level, u'\t');
        for (size_t c = 0; c < rows[i].Cells.size(); ++c)
            shown += (c ? u"\t" : u"") + Without(rows[i].Cells[c], u'\r');
        FUZZ_CHECK(rtf[i] == shown);
    }

    // The clipboard blocks of the selection: the whole rendering and its terminator.
    for (PLazyNode n : nodes) tree.SetSelected(n, true);
    std::string wide = Block(tree, CF_UNICODETEXT);
    std::u16string tabbed = tree.ContentToUnicode(tstSelected, u"\t");
    FUZZ_CHECK(wide.size() == 2 * tabbed.size() + 2);
    std::string htmlBlock = Block(tree, HtmlFormat);
    std::string document = tree.ContentToHTML(tstSelected, u"");
    FUZZ_CHECK(htmlBlock.size() > document.size() && htmlBlock.back() == '\0');
    size_t start = std::stoul(htmlBlock.substr(htmlBlock.find("StartHTML:") + 10, 10));
    size_t end = std::stoul(htmlBlock.substr(htmlBlock.find("EndHTML:") + 8, 10));
    FUZZ_CHECK(end == htmlBlock.size() - 1 && htmlBlock.compare(start, end - start, document) == 0);
    for (WORD f : {WORD(CF_TEXT), CsvFormat, RtfFormat}) FUZZ_CHECK(Block(tree, f).back() == '\0');
    return 0;
}
