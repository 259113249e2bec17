// The string tree's content as text, CSV, HTML and rich text, and its
// rendering of those clipboard formats.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/Cp1251.h"
#include "platform/gui/Graphics.h"

#include <cstdio>

namespace nuq {

namespace {

struct TExportRow {
    unsigned Level;
    std::vector<std::u16string> Cells;
};

std::vector<PLazyNode> NodesOf(TCustomLazyStringTree& tree, TLTSTextSourceType source) {
    std::vector<PLazyNode> nodes;
    switch (source) {
    case tstSelected:
        return tree.GetSortedSelection(false);
    case tstCutCopySet:
        return tree.GetSortedCutCopySet(false);
    case tstInitialized:
        for (PLazyNode n = tree.GetFirstInitialized(); n; n = tree.GetNextInitialized(n))
            nodes.push_back(n);
        break;
    case tstVisible:
        for (PLazyNode n = tree.GetFirstVisible(); n; n = tree.GetNextVisible(n))
            nodes.push_back(n);
        break;
    case tstAll:
        for (PLazyNode n = tree.GetFirst(); n; n = tree.GetNext(n)) nodes.push_back(n);
        break;
    }
    return nodes;
}

// The rows to export, levels counted from the shallowest exported node.
// CellText is the tree's text dispatcher, handed over by the tree itself.
using TCellText = std::u16string (TCustomLazyStringTree::*)(PLazyNode, TColumnIndex);
std::vector<TExportRow> RowsOf(TCustomLazyStringTree& tree, TLTSTextSourceType source,
                               TCellText cellText) {
    std::vector<PLazyNode> nodes = NodesOf(tree, source);
    std::vector<TColumnIndex> columns;
    for (TColumnIndex c = 0; c < tree.Header().ColumnCount(); ++c) columns.push_back(c);
    if (columns.empty()) columns.push_back(NoColumn);
    unsigned top = ~0u;
    for (PLazyNode n : nodes) top = std::min(top, tree.GetNodeLevel(n));
    std::vector<TExportRow> rows;
    for (PLazyNode n : nodes) {
        TExportRow row{tree.GetNodeLevel(n) - top, {}};
        for (TColumnIndex c : columns) row.Cells.push_back((tree.*cellText)(n, c));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string HtmlEscaped(const std::u16string& text) {
    std::string out;
    for (char c : Utf16ToUtf8(text)) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string RtfEscaped(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c == u'\\' || c == u'{' || c == u'}') {
            out += '\\';
            out += char(c);
        } else if (c == u'\r') {
        } else if (c == u'\n') {
            out += "\\line ";
        } else if (c == u'\t') {
            out += "\\tab ";
        } else if (c < 0x80) {
            out += char(c);
        } else {
            out += "\\u" + std::to_string(int16_t(c)) + "?"; // signed, as the format counts
        }
    }
    return out;
}

HGLOBAL BlockOf(const std::string& bytes) {
    HGLOBAL block = GlobalAlloc(bytes.size());
    block->replace(0, bytes.size(), bytes);
    return block;
}

// "HTML Format" carries byte offsets of the document and of the fragment in
// a header of fixed width before the document.
std::string WithHtmlClipboardHeader(const std::string& html) {
    const char* layout =
        "Version:0.9\r\nStartHTML:%010zu\r\nEndHTML:%010zu\r\nStartFragment:%010zu\r\n"
        "EndFragment:%010zu\r\n";
    char header[160];
    size_t headerSize = size_t(
        std::snprintf(header, sizeof header, layout, size_t(0), size_t(0), size_t(0), size_t(0)));
    size_t fragmentStart = html.find("<!--StartFragment-->");
    size_t fragmentEnd = html.find("<!--EndFragment-->");
    fragmentStart = fragmentStart == std::string::npos ? 0 : fragmentStart + 20;
    if (fragmentEnd == std::string::npos) fragmentEnd = html.size();
    std::snprintf(header, sizeof header, layout, headerSize, headerSize + html.size(),
                  headerSize + fragmentStart, headerSize + fragmentEnd);
    return std::string(header, headerSize) + html;
}

} // namespace

std::u16string TCustomLazyStringTree::DoGetText(PLazyNode node, TColumnIndex column) {
    std::u16string text = DefaultText;
    if (OnGetText) OnGetText(*this, node, column, 0, text);
    return text;
}

std::u16string TCustomLazyStringTree::ContentToUnicode(TLTSTextSourceType source,
                                                       const std::u16string& separator) {
    TWideBufferedString out;
    for (const TExportRow& row : RowsOf(*this, source, &TCustomLazyStringTree::DoGetText)) {
        for (unsigned i = 0; i < row.Level; ++i) out.Add(u"\t");
        for (size_t c = 0; c < row.Cells.size(); ++c) {
            if (c) out.Add(separator);
            out.Add(row.Cells[c]);
        }
        out.AddNewLine();
    }
    return out.AsString();
}

std::string TCustomLazyStringTree::ContentToText(TLTSTextSourceType source,
                                                 const std::string& separator) {
    return Utf8ToCp1251(
        Utf16ToUtf8(ContentToUnicode(source, Utf8ToUtf16(Cp1251ToUtf8(separator)))));
}

std::string TCustomLazyStringTree::ContentToCSV(TLTSTextSourceType source) {
    TBufferedAnsiString out;
    for (const TExportRow& row : RowsOf(*this, source, &TCustomLazyStringTree::DoGetText)) {
        for (size_t c = 0; c < row.Cells.size(); ++c) {
            if (c) out.Add(",");
            std::string cell = Utf8ToCp1251(Utf16ToUtf8(row.Cells[c]));
            if (cell.find_first_of(",\"\r\n") == std::string::npos) {
                out.Add(cell);
                continue;
            }
            std::string quoted = "\"";
            for (char ch : cell) {
                if (ch == '"') quoted += '"';
                quoted += ch;
            }
            out.Add(quoted + "\"");
        }
        out.AddNewLine();
    }
    return out.AsString();
}

std::string TCustomLazyStringTree::ContentToHTML(TLTSTextSourceType source,
                                                 const std::u16string& caption) {
    TBufferedAnsiString out;
    out.Add("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">");
    if (!caption.empty()) out.Add("<title>" + HtmlEscaped(caption) + "</title>");
    out.Add("</head><body>");
    out.AddNewLine();
    out.Add("<!--StartFragment--><table>");
    out.AddNewLine();
    for (const TExportRow& row : RowsOf(*this, source, &TCustomLazyStringTree::DoGetText)) {
        out.Add("<tr>");
        for (size_t c = 0; c < row.Cells.size(); ++c) {
            if (c == 0 && row.Level > 0)
                out.Add("<td style=\"padding-left:" + std::to_string(16 * row.Level) + "px\">");
            else
                out.Add("<td>");
            out.Add(HtmlEscaped(row.Cells[c]) + "</td>");
        }
        out.Add("</tr>");
        out.AddNewLine();
    }
    out.Add("</table><!--EndFragment-->");
    out.AddNewLine();
    out.Add("</body></html>");
    return out.AsString();
}

std::string TCustomLazyStringTree::ContentToRTF(TLTSTextSourceType source) {
    TBufferedAnsiString out;
    out.Add(
        "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fswiss DejaVu Sans;}}\\uc1\\f0\\fs18");
    out.AddNewLine();
    for (const TExportRow& row : RowsOf(*this, source, &TCustomLazyStringTree::DoGetText)) {
        for (unsigned i = 0; i < row.Level; ++i) out.Add("\\tab ");
        for (size_t c = 0; c < row.Cells.size(); ++c) {
            if (c) out.Add("\\tab ");
            out.Add(RtfEscaped(row.Cells[c]));
        }
        out.Add("\\par");
        out.AddNewLine();
    }
    out.Add("}");
    return out.AsString();
}

HRESULT TCustomLazyStringTree::RenderOLEData(const TFormatEtc& formatEtcIn, TStgMedium& medium,
                                             bool forClipboard) {
    WORD f = formatEtcIn.cfFormat;
    bool text =
        f == CF_UNICODETEXT || f == CF_TEXT ||
        (f && (f == HtmlFormat || f == RtfFormat || f == RtfNoObjectsFormat || f == CsvFormat));
    if (!text || !(formatEtcIn.tymed & TYMED_HGLOBAL))
        return TBaseLazyTree::RenderOLEData(formatEtcIn, medium, forClipboard);
    TLTSTextSourceType source = forClipboard ? tstCutCopySet : tstSelected;
    std::string bytes;
    if (f == CF_UNICODETEXT) {
        for (char16_t c : ContentToUnicode(source, u"\t")) {
            bytes.push_back(char(c & 0xFF));
            bytes.push_back(char(c >> 8));
        }
        bytes.append(2, '\0');
    } else if (f == CF_TEXT) {
        bytes = ContentToText(source, "\t");
        bytes.push_back('\0');
    } else if (f == HtmlFormat) {
        bytes = WithHtmlClipboardHeader(ContentToHTML(source));
        bytes.push_back('\0');
    } else if (f == CsvFormat) {
        bytes = ContentToCSV(source);
        bytes.push_back('\0');
    } else {
        bytes = ContentToRTF(source);
        bytes.push_back('\0');
    }
    medium = TStgMedium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = BlockOf(bytes);
    return S_OK;
}

} // namespace nuq
