#include "platform/ui/qt/resource_script.h"

#include <cctype>
#include <cstdlib>
#include <optional>

namespace tarvic::ui::rc {
namespace {

struct Token {
    enum Kind { kEnd, kWord, kNumber, kString, kPunct } kind = kEnd;
    std::string text;
    long number = 0;
    int line = 0;
};

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

class Lexer {
  public:
    explicit Lexer(std::string_view text) : m_text(text) {}

    Token Next() {
        SkipBlanks();
        Token t;
        t.line = m_line;
        if (m_pos >= m_text.size()) {
            return t;
        }
        const char c = m_text[m_pos];
        if ((c == 'L' || c == 'l') && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '"') {
            ++m_pos;
            return String(t);
        }
        if (c == '"') {
            return String(t);
        }
        if (std::isdigit(static_cast<unsigned char>(c))) {
            size_t end = m_pos;
            while (end < m_text.size() && IsWordChar(m_text[end])) {
                ++end;
            }
            std::string digits(m_text.substr(m_pos, end - m_pos));
            while (!digits.empty() && (digits.back() == 'L' || digits.back() == 'l' ||
                                       digits.back() == 'U' || digits.back() == 'u')) {
                digits.pop_back();
            }
            char* stop = nullptr;
            t.number = static_cast<long>(std::strtoul(digits.c_str(), &stop, 0));
            t.kind = (stop && *stop == '\0' && !digits.empty()) ? Token::kNumber : Token::kPunct;
            t.text = std::string(m_text.substr(m_pos, end - m_pos));
            m_pos = end;
            return t;
        }
        if (IsWordChar(c)) {
            size_t end = m_pos;
            while (end < m_text.size() && IsWordChar(m_text[end])) {
                ++end;
            }
            t.kind = Token::kWord;
            t.text = std::string(m_text.substr(m_pos, end - m_pos));
            m_pos = end;
            return t;
        }
        t.kind = Token::kPunct;
        t.text = std::string(1, c);
        ++m_pos;
        return t;
    }

  private:
    void SkipBlanks() {
        bool lineStart = m_pos == 0 || m_text[m_pos - 1] == '\n';
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c == '\n') {
                ++m_line;
                ++m_pos;
                lineStart = true;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_pos;
            } else if (c == '#' && lineStart) {
                // Preprocessor lines (#include, #pragma, #define) carry nothing for us.
                while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
                    ++m_pos;
                }
            } else if (m_text.substr(m_pos, 2) == "//") {
                while (m_pos < m_text.size() && m_text[m_pos] != '\n') {
                    ++m_pos;
                }
            } else if (m_text.substr(m_pos, 2) == "/*") {
                const size_t end = m_text.find("*/", m_pos + 2);
                const size_t stop = end == std::string_view::npos ? m_text.size() : end + 2;
                for (size_t i = m_pos; i < stop; ++i) {
                    m_line += m_text[i] == '\n';
                }
                m_pos = stop;
            } else {
                return;
            }
        }
    }

    Token String(Token t) {
        ++m_pos;  // opening quote
        t.kind = Token::kString;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"') {
                if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                    t.text += '"';
                    ++m_pos;
                    continue;
                }
                return t;
            }
            if (c == '\\' && m_pos < m_text.size()) {
                const char e = m_text[m_pos++];
                t.text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                continue;
            }
            m_line += c == '\n';
            t.text += c;
        }
        t.kind = Token::kPunct;  // unterminated
        return t;
    }

    std::string_view m_text;
    size_t m_pos = 0;
    int m_line = 1;
};

class Parser {
  public:
    Parser(std::string_view text, const Symbols& symbols) : m_lexer(text), m_symbols(symbols) {
        m_tok = m_lexer.Next();
    }

    bool Run(Script& out) {
        while (m_tok.kind != Token::kEnd) {
            if (!Statement(out)) {
                return false;
            }
        }
        return true;
    }

    std::string Error() const { return m_error; }

  private:
    void Advance() { m_tok = m_lexer.Next(); }
    bool IsWord(std::string_view w) const {
        return m_tok.kind == Token::kWord && SameWord(m_tok.text, w);
    }
    bool IsPunct(char c) const {
        return m_tok.kind == Token::kPunct && m_tok.text.size() == 1 && m_tok.text[0] == c;
    }
    bool IsBegin() const { return IsWord("BEGIN") || IsPunct('{'); }
    bool IsEndOfBlock() const { return IsWord("END") || IsPunct('}'); }

    bool Fail(const std::string& what) {
        m_error = "line " + std::to_string(m_tok.line) + ": " + what +
                  (m_tok.text.empty() ? "" : " near '" + m_tok.text + "'");
        return false;
    }

    bool Comma() {
        if (!IsPunct(',')) {
            return Fail("',' expected");
        }
        Advance();
        return true;
    }

    bool StringValue(std::string& out) {
        if (m_tok.kind != Token::kString) {
            return Fail("string expected");
        }
        out = m_tok.text;
        Advance();
        return true;
    }

    // term { '|' term }, where a term is [NOT] number | name | -number | ( expression ).
    // NOT terms are collected in cleared, so that they can also take default bits away.
    bool Expression(long& set, long* cleared = nullptr) {
        set = 0;
        for (;;) {
            bool negate = false;
            if (IsWord("NOT")) {
                negate = true;
                Advance();
            }
            long value = 0;
            if (!Term(value)) {
                return false;
            }
            if (negate) {
                if (cleared) {
                    *cleared |= value;
                }
                set &= ~value;
            } else {
                set |= value;
            }
            if (!IsPunct('|')) {
                return true;
            }
            Advance();
        }
    }

    bool Term(long& value) {
        if (IsPunct('-')) {
            Advance();
            if (!Term(value)) {
                return false;
            }
            value = -value;
            return true;
        }
        if (IsPunct('(')) {
            Advance();
            if (!Expression(value)) {
                return false;
            }
            if (!IsPunct(')')) {
                return Fail("')' expected");
            }
            Advance();
            return true;
        }
        if (m_tok.kind == Token::kNumber) {
            value = m_tok.number;
            Advance();
            return true;
        }
        if (m_tok.kind == Token::kWord) {
            const auto it = m_symbols.find(m_tok.text);
            if (it == m_symbols.end()) {
                return Fail("unknown name");
            }
            value = it->second;
            Advance();
            return true;
        }
        return Fail("value expected");
    }

    bool Int(int& out) {
        long v = 0;
        if (!Expression(v)) {
            return false;
        }
        out = static_cast<int>(v);
        return true;
    }

    // The id of a top-level resource: a number or a name from the header.
    bool ResourceId(int& id) {
        if (m_tok.kind == Token::kNumber) {
            id = static_cast<int>(m_tok.number);
        } else if (m_tok.kind == Token::kWord) {
            const auto it = m_symbols.find(m_tok.text);
            if (it == m_symbols.end()) {
                return Fail("unknown resource name");
            }
            id = static_cast<int>(it->second);
        } else {
            return Fail("resource name expected");
        }
        Advance();
        return true;
    }

    bool SkipBlock() {
        while (!IsBegin()) {
            if (m_tok.kind == Token::kEnd) {
                return Fail("BEGIN expected");
            }
            Advance();
        }
        int depth = 0;
        do {
            if (IsBegin()) {
                ++depth;
            } else if (IsEndOfBlock()) {
                --depth;
            } else if (m_tok.kind == Token::kEnd) {
                return Fail("END expected");
            }
            Advance();
        } while (depth > 0);
        return true;
    }

    bool Statement(Script& out) {
        if (IsWord("LANGUAGE")) {
            Advance();
            long a = 0;
            long b = 0;
            return Expression(a) && Comma() && Expression(b);
        }
        if (IsWord("STRINGTABLE")) {
            return SkipBlock();
        }
        int id = 0;
        if (!ResourceId(id)) {
            return false;
        }
        if (IsWord("DIALOGEX") || IsWord("DIALOG")) {
            Advance();
            Dialog d;
            d.id = id;
            if (!DialogBody(d)) {
                return false;
            }
            out.dialogs.push_back(std::move(d));
            return true;
        }
        if (IsWord("ICON")) {
            Advance();
            std::string file;
            if (!StringValue(file)) {
                return false;
            }
            out.icons[id] = file;
            return true;
        }
        for (const char* file : {"BITMAP", "CURSOR", "RCDATA", "HTML", "MANIFEST"}) {
            if (IsWord(file)) {
                Advance();
                std::string ignored;
                return StringValue(ignored);
            }
        }
        for (const char* block :
             {"VERSIONINFO", "MENU", "MENUEX", "ACCELERATORS", "DESIGNINFO", "TEXTINCLUDE"}) {
            if (IsWord(block)) {
                return SkipBlock();
            }
        }
        return Fail("unsupported resource type");
    }

    bool DialogBody(Dialog& d) {
        if (!Int(d.x) || !Comma() || !Int(d.y) || !Comma() || !Int(d.cx) || !Comma() ||
            !Int(d.cy)) {
            return false;
        }
        if (IsPunct(',')) {  // help id
            Advance();
            int help = 0;
            if (!Int(help)) {
                return false;
            }
        }
        while (!IsBegin()) {
            long v = 0;
            if (IsWord("STYLE")) {
                Advance();
                if (!Expression(v)) {
                    return false;
                }
                d.style = static_cast<uint32_t>(v);
            } else if (IsWord("EXSTYLE")) {
                Advance();
                if (!Expression(v)) {
                    return false;
                }
                d.exStyle = static_cast<uint32_t>(v);
            } else if (IsWord("CAPTION")) {
                Advance();
                if (!StringValue(d.caption)) {
                    return false;
                }
            } else if (IsWord("FONT")) {
                Advance();
                if (!Int(d.fontPoints) || !Comma() || !StringValue(d.fontFace)) {
                    return false;
                }
                while (IsPunct(',')) {  // weight, italic, character set
                    Advance();
                    if (!Expression(v)) {
                        return false;
                    }
                }
            } else if (IsWord("LANGUAGE")) {
                Advance();
                long b = 0;
                if (!Expression(v) || !Comma() || !Expression(b)) {
                    return false;
                }
            } else {
                return Fail("dialog option or BEGIN expected");
            }
        }
        Advance();
        while (!IsEndOfBlock()) {
            if (m_tok.kind == Token::kEnd) {
                return Fail("END expected");
            }
            Control c;
            if (!ControlStatement(c)) {
                return false;
            }
            d.controls.push_back(std::move(c));
        }
        Advance();
        return true;
    }

    struct Kind {
        const char* keyword;
        const char* className;
        bool hasText;
        uint32_t defaults;
        uint32_t type = 0;  // the control type bits when the statement names none
        uint32_t typeMask = 0;
    };

    bool ControlStatement(Control& c) {
        using namespace style;
        // Each statement's own default style; all of them are visible child windows.
        static const Kind kKinds[] = {
            {"LTEXT", "static", true, 0x0000u | kGroup},
            {"CTEXT", "static", true, 0x0001u | kGroup},
            {"RTEXT", "static", true, 0x0002u | kGroup},
            {"PUSHBUTTON", "button", true, 0x0000u | kTabStop},
            {"DEFPUSHBUTTON", "button", true, kDefPushButton | kTabStop},
            {"EDITTEXT", "edit", false, kBorder | kTabStop},
            {"COMBOBOX", "combobox", false, kTabStop, 0x0001u, kComboTypeMask},
            {"LISTBOX", "listbox", false, 0x0001u | kBorder},
        };
        const bool generic = IsWord("CONTROL");
        const Kind* kind = nullptr;
        for (const Kind& k : kKinds) {
            if (IsWord(k.keyword)) {
                kind = &k;
            }
        }
        if (!generic && !kind) {
            return Fail("unsupported control");
        }
        Advance();
        if (generic || kind->hasText) {
            if (!StringValue(c.text) || !Comma()) {
                return false;
            }
        }
        if (!Int(c.id) || !Comma()) {
            return false;
        }
        long set = 0;
        long cleared = 0;
        if (generic) {
            std::string cls;
            if (m_tok.kind == Token::kString || m_tok.kind == Token::kWord) {
                cls = m_tok.text;
                Advance();
            } else {
                return Fail("control class expected");
            }
            for (char& ch : cls) {
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            }
            c.className = cls;
            if (!Comma() || !Expression(set, &cleared) || !Comma()) {
                return false;
            }
        }
        if (!Int(c.x) || !Comma() || !Int(c.y) || !Comma() || !Int(c.cx) || !Comma() ||
            !Int(c.cy)) {
            return false;
        }
        long ex = 0;
        if (!generic) {
            c.className = kind->className;
            if (IsPunct(',')) {
                Advance();
                if (!Expression(set, &cleared)) {
                    return false;
                }
            }
            set |= kind->defaults;
            if ((set & kind->typeMask) == 0) {
                set |= kind->type;
            }
        }
        if (IsPunct(',')) {
            Advance();
            if (!Expression(ex)) {
                return false;
            }
        }
        if (IsPunct(',')) {  // help id of extended templates
            Advance();
            long help = 0;
            if (!Expression(help)) {
                return false;
            }
        }
        set |= kChild | kVisible;
        c.style = static_cast<uint32_t>(set & ~cleared);
        c.exStyle = static_cast<uint32_t>(ex);
        return true;
    }

    Lexer m_lexer;
    const Symbols& m_symbols;
    Token m_tok;
    std::string m_error;
};

}  // namespace

const Dialog* Script::FindDialog(int id) const {
    for (const Dialog& d : dialogs) {
        if (d.id == id) {
            return &d;
        }
    }
    return nullptr;
}

Symbols BuiltinSymbols() {
    return {
        {"IDOK", 1},
        {"IDCANCEL", 2},
        {"IDC_STATIC", -1},
        {"VS_VERSION_INFO", 1},
        {"WS_OVERLAPPED", 0},
        {"WS_POPUP", 0x80000000L},
        {"WS_CHILD", 0x40000000L},
        {"WS_MINIMIZE", 0x20000000L},
        {"WS_VISIBLE", 0x10000000L},
        {"WS_DISABLED", 0x08000000L},
        {"WS_CLIPSIBLINGS", 0x04000000L},
        {"WS_CLIPCHILDREN", 0x02000000L},
        {"WS_MAXIMIZE", 0x01000000L},
        {"WS_CAPTION", 0x00C00000L},
        {"WS_BORDER", 0x00800000L},
        {"WS_DLGFRAME", 0x00400000L},
        {"WS_VSCROLL", 0x00200000L},
        {"WS_HSCROLL", 0x00100000L},
        {"WS_SYSMENU", 0x00080000L},
        {"WS_THICKFRAME", 0x00040000L},
        {"WS_GROUP", 0x00020000L},
        {"WS_TABSTOP", 0x00010000L},
        {"WS_MINIMIZEBOX", 0x00020000L},
        {"WS_MAXIMIZEBOX", 0x00010000L},
        {"WS_EX_CLIENTEDGE", 0x00000200L},
        {"WS_EX_STATICEDGE", 0x00020000L},
        {"WS_EX_APPWINDOW", 0x00040000L},
        {"DS_FIXEDSYS", 0x0008L},
        {"DS_SETFONT", 0x0040L},
        {"DS_MODALFRAME", 0x0080L},
        {"DS_CENTER", 0x0800L},
        {"DS_SHELLFONT", 0x0048L},
        {"BS_PUSHBUTTON", 0x0000L},
        {"BS_DEFPUSHBUTTON", 0x0001L},
        {"ES_LEFT", 0x0000L},
        {"ES_CENTER", 0x0001L},
        {"ES_RIGHT", 0x0002L},
        {"ES_AUTOHSCROLL", 0x0080L},
        {"ES_READONLY", 0x0800L},
        {"SS_LEFT", 0x0000L},
        {"SS_CENTER", 0x0001L},
        {"SS_RIGHT", 0x0002L},
        {"CBS_SIMPLE", 0x0001L},
        {"CBS_DROPDOWN", 0x0002L},
        {"CBS_DROPDOWNLIST", 0x0003L},
        {"CBS_AUTOHSCROLL", 0x0040L},
        {"CBS_SORT", 0x0100L},
        {"CBS_HASSTRINGS", 0x0200L},
        {"LBS_NOTIFY", 0x0001L},
        {"LBS_SORT", 0x0002L},
        {"LBS_NOINTEGRALHEIGHT", 0x0100L},
        {"LBS_STANDARD", 0x00A00003L},
        {"LANG_NEUTRAL", 0x00},
        {"LANG_ENGLISH", 0x09},
        {"LANG_RUSSIAN", 0x19},
        {"SUBLANG_NEUTRAL", 0x00},
        {"SUBLANG_DEFAULT", 0x01},
        {"SUBLANG_ENGLISH_US", 0x01},
    };
}

void ReadHeader(std::string_view text, Symbols& symbols) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string line(text.substr(pos, end - pos));
        pos = end + 1;
        const size_t hash = line.find_first_not_of(" \t");
        if (hash == std::string::npos || line.compare(hash, 7, "#define") != 0) {
            continue;
        }
        size_t p = hash + 7;
        while (p < line.size() && std::isspace(static_cast<unsigned char>(line[p]))) {
            ++p;
        }
        const size_t nameStart = p;
        while (p < line.size() && IsWordChar(line[p])) {
            ++p;
        }
        const std::string name = line.substr(nameStart, p - nameStart);
        char* stop = nullptr;
        const long value = std::strtol(line.c_str() + p, &stop, 0);
        if (name.empty() || stop == line.c_str() + p) {
            continue;  // not a number (include guards, strings)
        }
        symbols[name] = value;
    }
}

bool ReadScript(std::string_view text, const Symbols& symbols, Script& out, std::string* error) {
    Parser parser(text, symbols);
    if (!parser.Run(out)) {
        if (error) {
            *error = parser.Error();
        }
        return false;
    }
    return true;
}

}  // namespace tarvic::ui::rc
