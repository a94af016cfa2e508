// Preprocessor, tokenizer and expressions of the resource-script reader.
#include "rc_lexer.h"

#include <cctype>
#include <cstring>
#include <cstdlib>
#include <sstream>

namespace kelvra::platform::rc {

namespace {

// Nested #include deeper than this is a loop the guards did not catch.
constexpr int kMaxIncludeDepth = 16;

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool isIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Replaces comments by blanks (keeping line breaks, so line numbers stay right) and joins
// lines ending in a backslash, leaving an empty line in their place.
std::string stripComments(const std::string& in)
{
    std::string out;
    out.reserve(in.size());
    enum { Code, Str, Chr, Line, Block } state = Code;
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        char n = i + 1 < in.size() ? in[i + 1] : '\0';
        switch (state) {
        case Code:
            if (c == '/' && n == '/') { state = Line; ++i; out += "  "; continue; }
            if (c == '/' && n == '*') { state = Block; ++i; out += "  "; continue; }
            if (c == '"') state = Str;
            else if (c == '\'') state = Chr;
            out += c;
            break;
        case Str:
        case Chr:
            if (c == '\\' && n != '\0' && n != '\n') { out += c; out += n; ++i; continue; }
            if ((state == Str && c == '"') || (state == Chr && c == '\'') || c == '\n')
                state = Code;
            out += c;
            break;
        case Line:
            if (c == '\n') { state = Code; out += c; }
            break;
        case Block:
            if (c == '*' && n == '/') { state = Code; ++i; out += "  "; continue; }
            out += c == '\n' ? '\n' : ' ';
            break;
        }
    }
    return out;
}

std::vector<std::string> logicalLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string current;
    int joined = 0;
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        if (!raw.empty() && raw.back() == '\\') {
            current += raw.substr(0, raw.size() - 1);
            ++joined;
            continue;
        }
        lines.push_back(current + raw);
        current.clear();
        for (; joined > 0; --joined)
            lines.emplace_back();  // keeps later line numbers right
    }
    if (!current.empty())
        lines.push_back(current);
    return lines;
}

// A string literal: "" stands for a quote, as in the resource compiler; the C escapes
// \n \t \r \a \\ \" are decoded too, other backslashes are kept as written.
bool readString(const std::string& s, size_t& i, std::string& value)
{
    ++i;  // opening quote
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            if (i + 1 < s.size() && s[i + 1] == '"') { value += '"'; i += 2; continue; }
            ++i;
            return true;
        }
        if (c == '\\' && i + 1 < s.size()) {
            char e = s[i + 1];
            const char* from = "ntra\\\"";
            const char* to = "\n\t\r\a\\\"";
            if (const char* p = std::strchr(from, e); p && e != '\0') {
                value += to[p - from];
                i += 2;
                continue;
            }
        }
        value += c;
        ++i;
    }
    return false;
}

bool readNumber(const std::string& s, size_t& i, long long& value)
{
    size_t start = i;
    int base = 10;
    if (s[i] == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (s[i] == '0' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
        base = 8;
    }
    size_t digitsStart = i;
    while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])))
        ++i;
    std::string digits = s.substr(digitsStart, i - digitsStart);
    if (digits.empty() && base == 16)
        return false;
    char* end = nullptr;
    value = static_cast<long long>(std::strtoull(digits.c_str(), &end, base));
    if (*end != '\0')
        return false;
    while (i < s.size() && (s[i] == 'L' || s[i] == 'l' || s[i] == 'U' || s[i] == 'u'))
        ++i;
    if (i < s.size() && isIdentChar(s[i]))
        return false;
    return i > start;
}

const char* const kPunctuators[] = {"<<", ">>", "&&", "||", "==", "!=", "<=", ">=",
                                    ",", "|", "&", "^", "+", "-", "*", "/", "%", "(", ")",
                                    "~", "!", "<", ">", "{", "}", "?", ":", "#"};

}  // namespace

bool tokenizeLine(const std::string& file, int line, const std::string& s,
                  std::vector<Token>& out, std::string& error)
{
    size_t i = 0;
    auto where = [&] { return file + ":" + std::to_string(line) + ": "; };
    while (i < s.size()) {
        char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) { ++i; continue; }
        Token t;
        t.line = line;
        t.file = file;
        if ((c == 'L' || c == 'l') && i + 1 < s.size() && s[i + 1] == '"')
            c = s[++i];  // wide string prefix: the same text here
        if (c == '"') {
            t.kind = TokenKind::String;
            if (!readString(s, i, t.text)) {
                error = where() + "unterminated string";
                return false;
            }
        } else if (c == '\'' && i + 2 < s.size() && s[i + 2] == '\'') {
            t.kind = TokenKind::Number;
            t.value = static_cast<unsigned char>(s[i + 1]);
            i += 3;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            t.kind = TokenKind::Number;
            size_t start = i;
            if (!readNumber(s, i, t.value)) {
                error = where() + "malformed number near \"" + s.substr(start, 12) + "\"";
                return false;
            }
        } else if (isIdentStart(c)) {
            t.kind = TokenKind::Identifier;
            while (i < s.size() && isIdentChar(s[i]))
                t.text += s[i++];
        } else {
            t.kind = TokenKind::Punct;
            for (const char* p : kPunctuators)
                if (s.compare(i, std::strlen(p), p) == 0) {
                    t.text = p;
                    break;
                }
            if (t.text.empty()) {
                error = where() + "unexpected character '" + std::string(1, c) + "'";
                return false;
            }
            i += t.text.size();
        }
        out.push_back(std::move(t));
    }
    return true;
}

// ---- Preprocessor ----------------------------------------------------------------------------

bool Preprocessor::fail(const std::string& file, int line, const std::string& what)
{
    error_ = file + ":" + std::to_string(line) + ": " + what;
    return false;
}

bool Preprocessor::run(const std::string& file, const std::string& text)
{
    tokens_.clear();
    conds_.clear();
    if (!processFile(file, text, 0))
        return false;
    if (!conds_.empty())
        return fail(file, 0, "#if without #endif");
    return true;
}

bool Preprocessor::processFile(const std::string& file, const std::string& text, int depth)
{
    // Only the script itself has statements; headers give their directives, as the Windows
    // resource compiler reads .h files.
    bool header = file.size() > 2 && (file.ends_with(".h") || file.ends_with(".H"));
    size_t condDepth = conds_.size();
    std::vector<std::string> lines = logicalLines(stripComments(text));
    for (size_t n = 0; n < lines.size(); ++n) {
        int line = static_cast<int>(n) + 1;
        std::string body = trim(lines[n]);
        if (body.empty())
            continue;
        if (body[0] == '#') {
            if (!directive(file, line, trim(body.substr(1)), depth))
                return false;
            continue;
        }
        if (header || !active())
            continue;
        if (!tokenizeLine(file, line, body, tokens_, error_))
            return false;
    }
    if (conds_.size() != condDepth)
        return fail(file, static_cast<int>(lines.size()), "#if without #endif");
    return true;
}

bool Preprocessor::directive(const std::string& file, int line, const std::string& body,
                             int depth)
{
    size_t nameEnd = 0;
    while (nameEnd < body.size() && isIdentChar(body[nameEnd]))
        ++nameEnd;
    std::string name = body.substr(0, nameEnd);
    std::string rest = trim(body.substr(nameEnd));
    if (name == "if" || name == "ifdef" || name == "ifndef" || name == "elif" ||
        name == "else" || name == "endif")
        return conditional(file, line, name, rest);
    if (!active())
        return true;
    if (name == "include")
        return include(file, line, rest, depth);
    if (name == "define")
        return define(file, line, rest);
    if (name == "undef") {
        macros_.erase(rest);
        return true;
    }
    if (name == "pragma") {
        if (rest == "once")
            onceFiles_.insert(file);
        return true;  // other pragmas (code_page, ...) do not change the templates
    }
    if (name == "error")
        return fail(file, line, "#error " + rest);
    if (name.empty() || name == "line")
        return true;
    return fail(file, line, "unknown directive #" + name);
}

bool Preprocessor::include(const std::string& file, int line, const std::string& rest,
                           int depth)
{
    if (rest.size() < 2 || !((rest.front() == '<' && rest.back() == '>') ||
                             (rest.front() == '"' && rest.back() == '"')))
        return fail(file, line, "malformed #include");
    std::string target = rest.substr(1, rest.size() - 2);
    // Only the base name matters: the module's resources are found by it.
    size_t slash = target.find_last_of("/\\");
    if (slash != std::string::npos)
        target = target.substr(slash + 1);
    if (onceFiles_.count(target))
        return true;
    if (depth >= kMaxIncludeDepth)
        return fail(file, line, "#include nested too deeply");
    std::optional<std::string> contents = resolver_(target);
    // A <system> header the module does not carry belongs to the C++ library (windows.h pulls
    // in <cstdint>); it defines nothing a template uses. A "local" one must be there.
    if (!contents && rest.front() == '<')
        return true;
    if (!contents)
        return fail(file, line, "cannot open include file " + target);
    return processFile(target, *contents, depth + 1);
}

bool Preprocessor::define(const std::string& file, int line, const std::string& rest)
{
    size_t nameEnd = 0;
    while (nameEnd < rest.size() && isIdentChar(rest[nameEnd]))
        ++nameEnd;
    if (nameEnd == 0 || !isIdentStart(rest[0]))
        return fail(file, line, "malformed #define");
    Macro macro;
    std::string name = rest.substr(0, nameEnd);
    std::string value = rest.substr(nameEnd);
    if (!value.empty() && value[0] == '(') {
        // Function-like macros (MAKEINTRESOURCE, ...) never appear in templates here; they
        // are remembered only so that #ifdef sees them.
        macro.functionLike = true;
    } else {
        std::string err;
        if (!tokenizeLine(file, line, trim(value), macro.body, err)) {
            // A header's macro that is not a resource-script expression (a type, a call
            // convention) cannot be used in a template; keep the name, drop the body.
            macro.functionLike = true;
            macro.body.clear();
        }
    }
    macros_[name] = std::move(macro);
    return true;
}

bool Preprocessor::conditional(const std::string& file, int line, const std::string& name,
                               const std::string& rest)
{
    if (name == "if" || name == "ifdef" || name == "ifndef") {
        bool outer = active();
        bool value = false;
        if (outer) {
            if (name == "if") {
                if (!evaluateCondition(file, line, rest, value))
                    return false;
            } else {
                value = macros_.count(trim(rest)) != 0;
                if (name == "ifndef")
                    value = !value;
            }
        }
        conds_.push_back({outer && value, outer && value, outer});
        return true;
    }
    if (conds_.empty())
        return fail(file, line, "#" + name + " without #if");
    Conditional& c = conds_.back();
    if (name == "endif") {
        conds_.pop_back();
    } else if (name == "else") {
        c.active = c.outerActive && !c.taken;
        c.taken = true;
    } else {  // elif
        bool value = false;
        if (c.outerActive && !c.taken && !evaluateCondition(file, line, rest, value))
            return false;
        c.active = c.outerActive && !c.taken && value;
        c.taken = c.taken || c.active;
    }
    return true;
}

bool Preprocessor::evaluateCondition(const std::string& file, int line, const std::string& rest,
                                     bool& result)
{
    std::vector<Token> raw;
    std::string err;
    if (!tokenizeLine(file, line, rest, raw, err))
        return fail(file, line, err);
    // defined(X) and defined X are settled before expansion.
    std::vector<Token> resolved;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i].kind == TokenKind::Identifier && raw[i].text == "defined") {
            bool paren = i + 1 < raw.size() && raw[i + 1].text == "(";
            size_t nameAt = i + (paren ? 2 : 1);
            if (nameAt >= raw.size() || raw[nameAt].kind != TokenKind::Identifier)
                return fail(file, line, "malformed defined()");
            Token t = raw[i];
            t.kind = TokenKind::Number;
            t.value = macros_.count(raw[nameAt].text) ? 1 : 0;
            resolved.push_back(t);
            i = nameAt + (paren ? 1 : 0);
            continue;
        }
        resolved.push_back(raw[i]);
    }
    std::vector<Token> expanded;
    std::set<std::string> hidden;
    expandInto(resolved, hidden, expanded);
    expanded.push_back(Token{TokenKind::End, "", 0, line, file});
    size_t pos = 0;
    long long value = 0;
    ExpressionParser parser(expanded, pos, true);
    if (!parser.parse(value))
        return fail(file, line, parser.error());
    if (expanded[pos].kind != TokenKind::End)
        return fail(file, line, "junk after #if expression");
    result = value != 0;
    return true;
}

void Preprocessor::expandInto(const std::vector<Token>& in, std::set<std::string>& hidden,
                              std::vector<Token>& out) const
{
    for (const Token& t : in) {
        if (t.kind == TokenKind::Identifier && !hidden.count(t.text)) {
            auto it = macros_.find(t.text);
            if (it != macros_.end() && !it->second.functionLike) {
                hidden.insert(t.text);
                std::vector<Token> body = it->second.body;
                for (Token& b : body) {  // report errors where the macro is used
                    b.line = t.line;
                    b.file = t.file;
                }
                expandInto(body, hidden, out);
                hidden.erase(t.text);
                continue;
            }
        }
        out.push_back(t);
    }
}

std::vector<Token> Preprocessor::expandedTokens() const
{
    std::vector<Token> out;
    std::set<std::string> hidden;
    expandInto(tokens_, hidden, out);
    Token end;
    end.kind = TokenKind::End;
    end.line = tokens_.empty() ? 0 : tokens_.back().line;
    end.file = tokens_.empty() ? std::string() : tokens_.back().file;
    out.push_back(end);
    return out;
}

// ---- Expressions -----------------------------------------------------------------------------

namespace {
// The precedence of '^' and tighter: what one '|'-separated term of a style can hold.
constexpr int kAboveOr = 4;
}  // namespace

bool ExpressionParser::fail(const std::string& what)
{
    const Token& t = peek();
    error_ = t.file + ":" + std::to_string(t.line) + ": " + what;
    return false;
}

int ExpressionParser::precedenceOf(const Token& t) const
{
    if (t.kind != TokenKind::Punct)
        return 0;
    static const std::map<std::string, int> table = {
        {"||", 1}, {"&&", 2}, {"|", 3}, {"^", 4}, {"&", 5}, {"==", 6}, {"!=", 6},
        {"<", 7}, {">", 7}, {"<=", 7}, {">=", 7}, {"<<", 8}, {">>", 8},
        {"+", 9}, {"-", 9}, {"*", 10}, {"/", 10}, {"%", 10}};
    auto it = table.find(t.text);
    return it == table.end() ? 0 : it->second;
}

bool ExpressionParser::parse(long long& value)
{
    return binary(1, value);
}

bool ExpressionParser::parseStyle(DWORD base, DWORD& value)
{
    // The resource compiler starts from the statement's default style; each term is ORed in,
    // and a term written "NOT x" clears x's bits instead.
    value = base;
    for (;;) {
        bool negate = false;
        if (peek().kind == TokenKind::Identifier && peek().text == "NOT") {
            negate = true;
            ++pos_;
        }
        long long term = 0;
        if (!binary(kAboveOr, term))
            return false;
        value = negate ? (value & ~static_cast<DWORD>(term)) : (value | static_cast<DWORD>(term));
        if (peek().kind == TokenKind::Punct && peek().text == "|") {
            ++pos_;
            continue;
        }
        return true;
    }
}

bool ExpressionParser::binary(int minPrecedence, long long& value)
{
    if (!unary(value))
        return false;
    for (;;) {
        int prec = precedenceOf(peek());
        if (prec == 0 || prec < minPrecedence)
            return true;
        std::string op = peek().text;
        ++pos_;
        long long rhs = 0;
        if (!binary(prec + 1, rhs))
            return false;
        if ((op == "/" || op == "%") && rhs == 0)
            return fail("division by zero");
        if (op == "||") value = value || rhs;
        else if (op == "&&") value = value && rhs;
        else if (op == "|") value |= rhs;
        else if (op == "^") value ^= rhs;
        else if (op == "&") value &= rhs;
        else if (op == "==") value = value == rhs;
        else if (op == "!=") value = value != rhs;
        else if (op == "<") value = value < rhs;
        else if (op == ">") value = value > rhs;
        else if (op == "<=") value = value <= rhs;
        else if (op == ">=") value = value >= rhs;
        else if (op == "<<") value <<= rhs;
        else if (op == ">>") value >>= rhs;
        else if (op == "+") value += rhs;
        else if (op == "-") value -= rhs;
        else if (op == "*") value *= rhs;
        else if (op == "/") value /= rhs;
        else value %= rhs;
    }
}

bool ExpressionParser::unary(long long& value)
{
    const Token& t = peek();
    bool isNot = t.kind == TokenKind::Identifier && t.text == "NOT";
    if (isNot || (t.kind == TokenKind::Punct && (t.text == "-" || t.text == "+" ||
                                                 t.text == "~" || t.text == "!"))) {
        std::string op = isNot ? "~" : t.text;
        ++pos_;
        if (!unary(value))
            return false;
        if (op == "-") value = -value;
        else if (op == "~") value = ~value;
        else if (op == "!") value = !value;
        return true;
    }
    return primary(value);
}

bool ExpressionParser::primary(long long& value)
{
    const Token& t = peek();
    switch (t.kind) {
    case TokenKind::Number:
        value = t.value;
        ++pos_;
        return true;
    case TokenKind::Identifier:
        if (!undefinedIsZero_)
            return fail("undefined identifier " + t.text);
        value = 0;
        ++pos_;
        return true;
    case TokenKind::Punct:
        if (t.text == "(") {
            ++pos_;
            if (!binary(1, value))
                return false;
            if (peek().text != ")" || peek().kind != TokenKind::Punct)
                return fail("missing ')'");
            ++pos_;
            return true;
        }
        return fail("unexpected '" + t.text + "' in expression");
    case TokenKind::String:
        return fail("string where a number is expected");
    case TokenKind::End:
        break;
    }
    return fail("expression expected");
}

}  // namespace kelvra::platform::rc
