#include "platform/posix/wildcard.h"

#include <vector>

namespace plat::posix {

namespace {

// The DOS wildcards of the file-system matcher.
constexpr char kDosStar = '<';  // any characters, but not the name's last dot
constexpr char kDosQm = '>';    // one character, or none at a dot or the end
constexpr char kDosDot = '"';   // a dot, or nothing at the end of the name

// Stands for one pattern character: a wildcard or a literal byte.
struct Token {
  char kind;  // '*', kDosStar, kDosQm, kDosDot, or 0 for a literal byte
  char literal;
};

std::vector<Token> Translate(std::string_view pattern) {
  std::vector<Token> tokens;
  if (pattern == "*.*") return {{'*', 0}};
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    bool atEnd = i + 1 == pattern.size();
    if (c == '?') {
      tokens.push_back({kDosQm, 0});
    } else if (c == '*') {
      tokens.push_back({next == '.' ? kDosStar : '*', 0});
    } else if (c == '.' && (atEnd || next == '?' || next == '*')) {
      tokens.push_back({kDosDot, 0});
    } else {
      tokens.push_back({0, c});
    }
  }
  return tokens;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Matches tokens against the name with a table of (token, name position)
// results, so that patterns full of stars stay linear in their product.
class Matcher {
 public:
  Matcher(std::vector<Token> tokens, std::string_view name)
      : tokens_(std::move(tokens)), name_(name),
        memo_((tokens_.size() + 1) * (name_.size() + 1), kUnknown) {
    size_t dot = name_.rfind('.');
    lastDot_ = dot == std::string_view::npos ? name_.size() : dot;
  }

  bool Match(size_t t, size_t n) {
    char& known = memo_[t * (name_.size() + 1) + n];
    if (known == kUnknown) known = Compute(t, n) ? kYes : kNo;
    return known == kYes;
  }

 private:
  static constexpr char kUnknown = 0, kYes = 1, kNo = 2;

  bool Compute(size_t t, size_t n) {
    bool atEnd = n == name_.size();
    if (t == tokens_.size()) return atEnd;
    const Token& token = tokens_[t];
    switch (token.kind) {
      case '*':
        return Match(t + 1, n) || (!atEnd && Match(t, n + 1));
      case kDosStar:
        return Match(t + 1, n) || (!atEnd && n != lastDot_ && Match(t, n + 1));
      case kDosQm:
        if (atEnd || name_[n] == '.') return Match(t + 1, n);
        return Match(t + 1, n + 1);
      case kDosDot:
        if (atEnd) return Match(t + 1, n);
        return name_[n] == '.' && Match(t + 1, n + 1);
      default:
        return !atEnd && Lower(name_[n]) == Lower(token.literal) && Match(t + 1, n + 1);
    }
  }

  std::vector<Token> tokens_;
  std::string_view name_;
  std::vector<char> memo_;
  size_t lastDot_;
};

}  // namespace

bool HasWildcards(std::string_view pattern) {
  return pattern.find_first_of("*?") != std::string_view::npos;
}

bool MatchesPattern(std::string_view pattern, std::string_view name) {
  Matcher matcher(Translate(pattern), name);
  return matcher.Match(0, 0);
}

}  // namespace plat::posix
