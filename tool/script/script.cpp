#include "tool/script/script.h"

#include <strings.h>

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <map>
#include <string_view>

namespace tallyburn::tool {
namespace {

enum class Tok { kIdent, kInt, kFloat, kString, kLParen, kRParen, kComma, kDot, kAssign, kMinus, kEnd, kSeparator };

struct Token {
  Tok kind;
  int line;  // 0 in a one-line script
  int column;
  std::string text;
};

constexpr size_t kMaxScriptBytes = 1 << 16;
constexpr int kMaxDepth = 64;    // nested parentheses and arguments
constexpr int kMaxCalls = 1000;  // bounds the evaluation's recursion

std::vector<Token> Lex(const std::string& s) {
  if (s.size() > kMaxScriptBytes) throw ScriptError(0, 1, "script longer than 65536 bytes");
  std::vector<Token> out;
  // A byte-order mark, as some editors begin a UTF-8 file with, is no part
  // of the script: columns count from after it.
  constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";
  const size_t start = std::string_view(s).substr(0, 3) == kByteOrderMark ? 3 : 0;
  size_t i = start;
  int line_start = static_cast<int>(start);
  // Lines are counted where there is more than one.
  const bool lines = s.find('\n') < s.find_last_not_of("\r\n \t");
  int line = lines ? 1 : 0;
  const auto column = [&](size_t at) { return static_cast<int>(at) - line_start + 1; };
  while (i < s.size()) {
    const char c = s[i];
    const int col = column(i);
    if (c == '\n' || c == ';') {
      out.push_back({Tok::kSeparator, line, col, ""});
      if (c == '\n') {
        line_start = static_cast<int>(i) + 1;
        if (lines) ++line;
      }
      ++i;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {  // comment to the end of the line
      while (i < s.size() && s[i] != '\n') ++i;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t j = i;
      while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
      out.push_back({Tok::kIdent, line, col, s.substr(i, j - i)});
      i = j;
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      size_t j = i;
      bool real = false;
      while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) real |= s[j++] == '.';
      out.push_back({real ? Tok::kFloat : Tok::kInt, line, col, s.substr(i, j - i)});
      i = j;
    } else if (c == '$') {
      size_t j = i + 1;
      while (j < s.size() && std::isxdigit(static_cast<unsigned char>(s[j]))) ++j;
      if (j == i + 1) throw ScriptError(line, col, "'$' must be followed by hexadecimal digits");
      out.push_back({Tok::kInt, line, col, s.substr(i, j - i)});
      i = j;
    } else if (c == '"') {
      const size_t end = s.find_first_of("\"\n", i + 1);
      if (end == std::string::npos || s[end] != '"') throw ScriptError(line, col, "string has no closing quote");
      out.push_back({Tok::kString, line, col, s.substr(i + 1, end - i - 1)});
      i = end + 1;
    } else {
      static constexpr struct {
        char c;
        Tok t;
      } kPunct[] = {{'(', Tok::kLParen}, {')', Tok::kRParen}, {',', Tok::kComma},
                    {'.', Tok::kDot},    {'=', Tok::kAssign}, {'-', Tok::kMinus}};
      bool known = false;
      for (const auto& p : kPunct)
        if (p.c == c) {
          out.push_back({p.t, line, col, std::string(1, c)});
          known = true;
        }
      if (!known) throw ScriptError(line, col, std::string("unexpected character '") + c + "'");
      ++i;
    }
  }
  out.push_back({Tok::kEnd, line, column(s.size()), ""});
  return out;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  std::vector<std::unique_ptr<Expr>> Statements() {
    std::vector<std::unique_ptr<Expr>> out;
    for (;;) {
      while (Peek().kind == Tok::kSeparator) ++at_;
      if (Peek().kind == Tok::kEnd) break;
      if (Peek().kind == Tok::kIdent && Peek(1).kind == Tok::kAssign) {
        const Token& name = Take();
        Take();
        auto assign = std::make_unique<Expr>();
        assign->kind = Expr::Kind::kAssign;
        assign->line = name.line;
        assign->column = name.column;
        assign->text = name.text;
        assign->args.push_back(ScriptArg{"", name.column, Expression(0)});
        out.push_back(std::move(assign));
      } else {
        out.push_back(Expression(0));
      }
      if (Peek().kind != Tok::kSeparator && Peek().kind != Tok::kEnd)
        throw Error(Peek(), "expected the end of the statement, found '" + Peek().text + "'");
    }
    if (out.empty()) throw ScriptError(0, 1, "the script is empty");
    return out;
  }

 private:
  const Token& Peek(size_t ahead = 0) const { return t_[std::min(at_ + ahead, t_.size() - 1)]; }
  const Token& Take() { return t_[std::min(at_++, t_.size() - 1)]; }
  static ScriptError Error(const Token& at, const std::string& message) {
    return ScriptError(at.line, at.column, message);
  }
  const Token& Expect(Tok kind, const char* what) {
    if (Peek().kind != kind)
      throw Error(Peek(), std::string("expected ") + what +
                              (Peek().kind == Tok::kEnd ? ", found the end" : ", found '" + Peek().text + "'"));
    return Take();
  }

  std::unique_ptr<Expr> Expression(int depth) {
    if (depth > kMaxDepth) throw Error(Peek(), "expression nested too deeply");
    auto e = Primary(depth);
    while (Peek().kind == Tok::kDot) {
      Take();
      const Token& name = Expect(Tok::kIdent, "a function name after '.'");
      auto call = std::make_unique<Expr>();
      CountCall(name);
      call->kind = Expr::Kind::kCall;
      call->line = name.line;
      call->column = name.column;
      call->text = name.text;
      call->args.push_back(ScriptArg{"", e->column, std::move(e)});
      if (Peek().kind == Tok::kLParen) Arguments(*call, depth);
      e = std::move(call);
    }
    return e;
  }

  std::unique_ptr<Expr> Primary(int depth) {
    auto e = std::make_unique<Expr>();
    const Token& tok = Take();
    e->line = tok.line;
    e->column = tok.column;
    switch (tok.kind) {
      case Tok::kMinus: {
        const Token& num = Peek();
        if (num.kind != Tok::kInt && num.kind != Tok::kFloat) throw Error(tok, "'-' must be followed by a number");
        Take();
        Number(*e, num, true);
        return e;
      }
      case Tok::kInt:
      case Tok::kFloat: Number(*e, tok, false); return e;
      case Tok::kString:
        e->kind = Expr::Kind::kString;
        e->text = tok.text;
        return e;
      case Tok::kLParen: {
        auto inner = Expression(depth + 1);
        Expect(Tok::kRParen, "')'");
        return inner;
      }
      case Tok::kIdent:
        if (strcasecmp(tok.text.c_str(), "true") == 0 || strcasecmp(tok.text.c_str(), "false") == 0) {
          e->kind = Expr::Kind::kBool;
          e->boolean = strcasecmp(tok.text.c_str(), "true") == 0;
          return e;
        }
        CountCall(tok);
        e->text = tok.text;
        // Without parentheses: a variable if there is one, else a call.
        e->kind = Peek().kind == Tok::kLParen ? Expr::Kind::kCall : Expr::Kind::kName;
        if (Peek().kind == Tok::kLParen) Arguments(*e, depth);
        return e;
      default:
        throw Error(tok, tok.kind == Tok::kEnd ? "expected a value, found the end"
                                               : "expected a value, found '" + tok.text + "'");
    }
  }

  void Arguments(Expr& call, int depth) {
    Expect(Tok::kLParen, "'('");
    if (Peek().kind == Tok::kRParen) {
      Take();
      return;
    }
    for (;;) {
      ScriptArg arg{"", Peek().column, nullptr};
      if (Peek().kind == Tok::kIdent && Peek(1).kind == Tok::kAssign) {
        arg.name = Take().text;
        Take();
      }
      arg.value = Expression(depth + 1);
      call.args.push_back(std::move(arg));
      if (Peek().kind == Tok::kComma) {
        Take();
        continue;
      }
      Expect(Tok::kRParen, "',' or ')'");
      return;
    }
  }

  static void Number(Expr& e, const Token& tok, bool negative) {
    if (tok.kind == Tok::kFloat) {
      char* end = nullptr;
      e.kind = Expr::Kind::kFloat;
      e.real = std::strtod(tok.text.c_str(), &end);
      if (*end != '\0') throw Error(tok, "malformed number '" + tok.text + "'");
      if (negative) e.real = -e.real;
      return;
    }
    const bool hex = tok.text[0] == '$';
    long long v = 0;
    const char* first = tok.text.data() + (hex ? 1 : 0);
    const auto r = std::from_chars(first, tok.text.data() + tok.text.size(), v, hex ? 16 : 10);
    if (negative) v = -v;
    const long long low = INT_MIN, high = hex ? static_cast<long long>(UINT32_MAX) : INT_MAX;
    if (r.ec != std::errc() || v < low || v > high)
      throw Error(tok, "number '" + std::string(negative ? "-" : "") + tok.text + "' is out of range");
    e.kind = Expr::Kind::kInt;
    e.integer = static_cast<int>(static_cast<uint32_t>(v));
  }

  void CountCall(const Token& at) {
    if (++calls_ > kMaxCalls) throw Error(at, "more than 1000 calls in one script");
  }

  std::vector<Token> t_;
  size_t at_ = 0;
  int calls_ = 0;
};

class Evaluator {
 public:
  Evaluator(frameserver::Environment& env, const ScriptSource& source) : env_(env), source_(source) {}

  // A statement: an assignment sets its variable; a clip sets `last`.
  void Run(const Expr& e) {
    if (e.kind == Expr::Kind::kAssign) {
      vars_[Lower(e.text)] = Eval(*e.args[0].value);
      return;
    }
    result_ = Eval(e);
    if (result_.IsClip()) vars_["last"] = result_;
  }
  AVSValue Result() const {
    const auto last = vars_.find("last");
    return last != vars_.end() ? last->second : result_;
  }

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }

  ScriptError Error(const Expr& at, const std::string& message) const {
    return ScriptError(at.line, at.column, message, source_.name);
  }

  AVSValue Eval(const Expr& e) {
    switch (e.kind) {
      case Expr::Kind::kInt: return AVSValue(e.integer);
      case Expr::Kind::kFloat: return AVSValue(e.real);
      case Expr::Kind::kBool: return AVSValue(e.boolean);
      // Saved by the environment: clips may keep the pointer.
      case Expr::Kind::kString: return AVSValue(static_cast<const char*>(env_.SaveString(e.text.c_str())));
      case Expr::Kind::kName:
        if (const auto v = vars_.find(Lower(e.text)); v != vars_.end()) return v->second;
        if (strcasecmp(e.text.c_str(), "last") == 0) throw Error(e, "there is no clip in last yet");
        break;
      case Expr::Kind::kAssign:
      case Expr::Kind::kCall: break;
    }
    const frameserver::Function* f = env_.Find(e.text);
    if (f == nullptr)
      throw Error(e, "there is no function named \"" + e.text + "\"" +
                         (source_.missing_function_hint.empty() ? "" : " (" + source_.missing_function_hint + ")"));
    std::vector<frameserver::Argument> args;
    for (const ScriptArg& a : e.args) args.push_back({a.name, Eval(*a.value)});
    // A function whose first argument is a clip takes `last` when it is
    // called without one.
    const bool takes_clip = !f->parsed.empty() && f->parsed[0].type == 'c' && !f->parsed[0].optional;
    const bool has_clip = !args.empty() && args[0].name.empty() && args[0].value.IsClip();
    if (takes_clip && !has_clip) {
      if (const auto last = vars_.find("last"); last != vars_.end() && last->second.IsClip())
        args.insert(args.begin(), frameserver::Argument{"", last->second});
    }
    try {
      return env_.Call(e.text, args);
    } catch (const frameserver::HostError& err) {
      throw Error(e, err.what());
    }
  }

  frameserver::Environment& env_;
  const ScriptSource& source_;
  std::map<std::string, AVSValue> vars_;
  AVSValue result_;
};

}  // namespace

std::vector<std::unique_ptr<Expr>> ParseScript(const std::string& script) { return Parser(Lex(script)).Statements(); }

AVSValue EvaluateScript(frameserver::Environment& env, const ScriptSource& script) {
  std::vector<std::unique_ptr<Expr>> statements;
  try {
    statements = ParseScript(script.text);
  } catch (const ScriptError& e) {
    if (script.name == "script") throw;
    throw ScriptError(e.line(), e.column(), e.message(), script.name);
  }
  Evaluator eval(env, script);
  for (const auto& s : statements) eval.Run(*s);
  return eval.Result();
}

}  // namespace tallyburn::tool
