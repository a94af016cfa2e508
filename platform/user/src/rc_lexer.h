// The preprocessor and tokenizer of the resource-script reader: #include, #define (object-like
// macros), #if/#ifdef/#ifndef/#elif/#else/#endif, comments and line continuations, then the
// tokens of the script with every macro expanded.
#pragma once

#include <kelvra/user/templates.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kelvra::platform::rc {

enum class TokenKind { Identifier, Number, String, Punct, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;     // identifier, decoded string, or punctuator
    long long value = 0;  // numbers
    int line = 0;
    std::string file;
};

class Preprocessor {
public:
    explicit Preprocessor(IncludeResolver resolver) : resolver_(std::move(resolver)) {}

    // Runs the script named `file` with contents `text`; false with `error` set on failure.
    bool run(const std::string& file, const std::string& text);
    // The script's tokens, macros expanded, ending in an End token.
    std::vector<Token> expandedTokens() const;
    const std::string& error() const { return error_; }

private:
    struct Macro {
        bool functionLike = false;
        std::vector<Token> body;
    };
    struct Conditional {
        bool active;      // this branch is being read
        bool taken;       // some branch of this #if has been read
        bool outerActive; // the enclosing text is being read
    };

    bool processFile(const std::string& file, const std::string& text, int depth);
    bool directive(const std::string& file, int line, const std::string& body, int depth);
    bool include(const std::string& file, int line, const std::string& rest, int depth);
    bool define(const std::string& file, int line, const std::string& rest);
    bool conditional(const std::string& file, int line, const std::string& name,
                     const std::string& rest);
    bool evaluateCondition(const std::string& file, int line, const std::string& rest,
                           bool& result);
    bool active() const { return conds_.empty() || conds_.back().active; }
    void expandInto(const std::vector<Token>& in, std::set<std::string>& hidden,
                    std::vector<Token>& out) const;
    bool fail(const std::string& file, int line, const std::string& what);

    IncludeResolver resolver_;
    std::map<std::string, Macro> macros_;
    std::set<std::string> onceFiles_;
    std::vector<Conditional> conds_;
    std::vector<Token> tokens_;
    std::string error_;
};

// Splits one logical line into tokens; false with `error` set on a malformed token.
bool tokenizeLine(const std::string& file, int line, const std::string& text,
                  std::vector<Token>& out, std::string& error);

// Integer expressions over expanded tokens, as C and the resource compiler evaluate them.
// `pos` advances past the expression. Undefined identifiers are an error unless
// `undefinedIsZero` (#if). In a style expression "NOT x" clears x's bits from what came before.
class ExpressionParser {
public:
    ExpressionParser(const std::vector<Token>& tokens, size_t& pos, bool undefinedIsZero)
        : t_(tokens), pos_(pos), undefinedIsZero_(undefinedIsZero) {}

    bool parse(long long& value);                 // full C-like expression
    bool parseStyle(DWORD base, DWORD& value);    // terms joined by '|', each maybe "NOT x"
    const std::string& error() const { return error_; }

private:
    bool binary(int minPrecedence, long long& value);
    bool unary(long long& value);
    bool primary(long long& value);
    int precedenceOf(const Token& t) const;
    bool fail(const std::string& what);
    const Token& peek() const { return t_[pos_]; }

    const std::vector<Token>& t_;
    size_t& pos_;
    bool undefinedIsZero_;
    std::string error_;
};

}  // namespace kelvra::platform::rc
