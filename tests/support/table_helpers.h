#pragma once
// What the table tests share that needs no Windows: the names of their cases
// and the text of an expected failure. Pure, so the host build of the pure
// logic's tests includes it too.
#include <cctype>
#include <exception>
#include <string>

namespace lbtest {

// `text` with every character but a letter or a digit made '_': the one
// form GoogleTest takes for the name of a case.
inline std::string Identifier(std::string text) {
  for (char& c : text) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return text;
}

// Names a parameterised case after its `name` field.
struct CaseName {
  template <class Info>
  std::string operator()(const Info& info) const { return Identifier(info.param.name); }
};

// The text of the `Error` that `action` throws; empty when it throws none.
// Any other exception goes on and fails the test.
template <typename Error = std::exception, typename Action>
std::string ErrorText(Action&& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.what();
  }
  return {};
}

}  // namespace lbtest
